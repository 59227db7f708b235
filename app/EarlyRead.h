#pragma once
// The picture named on the command line, read on a thread of its own while the toolkit and
// the window start, so that the two no longer add up.

#include "OpenPicture.h"

#include <string>
#include <vector>

namespace nolvi2 {

// Starts reading the first file of the parameters (as the window's start takes them) with
// the reading options of the stored settings, when the parameters name files and that one is of a built-in
// format (plug-ins are not searched yet). Anything else starts nothing.
void StartEarlyRead(const std::vector<std::string>& parameters);

// When the early read was of this name with these options, waits for it and moves its
// picture into picture: true. False, with picture untouched, in every other case, also when
// the early read failed: the caller then reads the file as always, and reports what the
// reading reports. An early read is taken (or dropped) by the first call.
bool TakeEarlyRead(const std::string& name, const TReadOptions& options, TBitmap& picture);

}  // namespace nolvi2
