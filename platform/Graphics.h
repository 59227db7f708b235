#pragma once
// Picture classes and the picture-format table: which extension is read by which class, and
// the extension, file mask and dialog filter of a class.

#include "Types.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nolvi2 {

class TStream;
class TBitmap;
class TGraphic;

// The identity of a picture class, with its parent for "this class and its descendants".
struct TGraphicClass {
    std::string_view Name;
    const TGraphicClass* Parent = nullptr;
    std::unique_ptr<TGraphic> (*Create)() = nullptr;

    bool InheritsFrom(const TGraphicClass& other) const;
};

class TGraphic : public TObject {
public:
    ~TGraphic() override = default;

    virtual const TGraphicClass& ClassType() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual bool Empty() const { return Width() <= 0 || Height() <= 0; }

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) const = 0;
    // Copies the picture into dest (a bitmap of the picture's own pixel format).
    virtual void AssignTo(TBitmap& dest) const = 0;

    // Reads the file through LoadFromStream. Virtual: classes that choose their decoder by the
    // file's name do so whichever static type they are called through.
    virtual void LoadFromFile(const std::string& fileName);
    // Writes through the safe file writer: the old file stays intact on any failure.
    void SaveToFile(const std::string& fileName) const;

    TProgressEvent OnProgress;
    // Whether reading converts a colour profile that the file embeds into sRGB.
    bool ApplyColorProfile = true;

protected:
    // Sends one report to OnProgress, if assigned, with Sender = this.
    void Progress(TProgressStage stage, uint8_t percent, const std::string& msg);
};

// One registered extension (lower case, without dot).
struct TFileFormat {
    std::string Extension;
    std::string Description;
    const TGraphicClass* GraphicClass = nullptr;
};

class TPictureFormats {
public:
    // The process-wide table, holding the built-in classes (bmp, jpg, jpeg). Registrations
    // put off by Defer are made before it is returned.
    static TPictureFormats& Instance();
    // Puts registrations off until the table is first asked for: registrations runs once, on
    // the thread that asks first, and may register through Instance. An empty function drops
    // what is still pending. The window searches its plug-ins so, after its picture shows; a
    // program that asks for the table from several threads registers at once instead.
    static void Defer(std::function<void()> registrations);

    void Register(std::string_view extension, std::string_view description, const TGraphicClass& cls);
    void Unregister(const TGraphicClass& cls);

    // The extension registered last for the class, or empty.
    std::string GraphicExtension(const TGraphicClass& cls) const;
    // "*.a;*.b" for every extension of the class and its descendants.
    std::string GraphicFileMask(const TGraphicClass& cls) const;
    // "すべて (*.a;*.b)|*.a;*.b|desc (*.a)|*.a|desc (*.b)|*.b", for the class and its
    // descendants, or for the class alone.
    std::string GraphicFilter(const TGraphicClass& cls, bool withDescendants = true) const;
    // The class registered last for the extension (without dot, any case), or null.
    const TGraphicClass* FindExtension(std::string_view extension) const;

    const std::vector<TFileFormat>& Formats() const { return FFormats; }

private:
    std::vector<TFileFormat> FFormats;
};

}  // namespace nolvi2
