#pragma once
// The picture named on the command line, read on a thread of its own while the toolkit and
// the window start, so that the two no longer add up.

#include "OpenPicture.h"
#include "PluginHost.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nolvi2 {

// Starts reading the first file of the parameters (as the window's start takes them) with
// the reading options of the stored settings, when the parameters name files. For a file of
// a format the built-in decoders do not read, the plug-ins are searched first on the same
// thread; until TakeEarlyPlugins has returned, nothing else may use the plug-in registry or
// the format table. Parameters that name no file start nothing.
void StartEarlyRead(const std::vector<std::string>& parameters);

// The plug-in registry that the early read searched, once that search has ended (it waits
// for it), or nothing when the early read needed none. Taken by the first call.
std::unique_ptr<TPluginHost> TakeEarlyPlugins();

// The size of the picture the early read of this name with these options is making: a
// JPEG's once its header is read and a plug-in picture's once the plug-in tells it (Complete
// false: the picture is still being decoded), any other's when the read has ended (Complete
// true; 0 × 0 when it failed). Waits until it is known; nothing when there is no such early
// read.
struct TEarlySize {
    int32_t Width = 0, Height = 0;
    bool Complete = false;
};
std::optional<TEarlySize> EarlyReadSize(const std::string& name, const TReadOptions& options);

// Asks the early read of this name with these options for the top-left width × height
// pixels (cut to the picture) of the picture it is decoding: they are copied as soon as the
// decoder has made their rows, so that the window can show them while the rest is decoded.
// False when there is no such read or a part was asked for already.
bool AskEarlyReadPart(const std::string& name, const TReadOptions& options, int32_t width, int32_t height);
// The part asked for, once it is there (waits for it). Null when none was asked for, when
// the read ended first (take the picture then), and when the rows of this file are not the
// picture's as they come (a picture its orientation turns, a format of no rows).
std::unique_ptr<TBitmap> TakeEarlyReadPart();
// changed is called when the part asked for is there and when the early read ends: on the
// reading thread, or at once on this one when that has happened already. It must not wait on
// the early read. An empty function stops the calls: after it returns, none is made.
void WatchEarlyRead(std::function<void()> changed);

// When the early read was of this name with these options, waits for it and moves its
// picture into picture: true. False, with picture untouched, in every other case, also when
// the early read failed: the caller then reads the file as always, and reports what the
// reading reports. An early read is taken (or dropped) by the first call.
bool TakeEarlyRead(const std::string& name, const TReadOptions& options, TBitmap& picture);

}  // namespace nolvi2
