// The plug-in host with plug-ins made for the tests (TestPlugin.c): finding and classifying
// plug-ins, registering their formats, choosing candidates, and decoding through them.
#include "Pictures.h"
#include "TempDir.h"
#include "app/OpenPicture.h"
#include "app/PluginHost.h"
#include "platform/Format.h"
#include "platform/Streams.h"
#include "susie/SPIBmp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace nolvi2::test {
namespace {

namespace fs = std::filesystem;

// A folder holding copies of the named test plug-ins (and any other files).
struct PluginFolder {
    explicit PluginFolder(std::initializer_list<const char*> plugins)
    {
        for (const char* p : plugins)
            Copy(p, p);
    }
    void Copy(const std::string& plugin, const std::string& as)
    {
        fs::copy_file(fs::path(NOLVI2_SPI_FIXTURES) / (plugin + ".spi"), dir.Path() / (as + ".spi"));
    }
    std::string Mask() const { return dir / "*.spi"; }
    std::string Path(const std::string& name) const { return fs::canonical(dir.Path() / name).string(); }
    TempDir dir{"nolvi2-spi"};
};

// A registry with the window's handlers, taking its extensions out of the table when it goes.
struct Registry : TSPIs {
    Registry()
    {
        SetDefaultGraphicClass(&TSPIBitmap::ClassInfo());
        OnSearch = &TPluginHost::OnSearch;
        OnPictureRegister = &TPluginHost::OnPictureRegister;
    }
    ~Registry() { TPictureFormats::Instance().Unregister(TSPIBitmap::ClassInfo()); }
};

std::vector<std::string> Registered()
{
    std::vector<std::string> out;
    for (const TFileFormat& f : TPictureFormats::Instance().Formats())
        if (f.GraphicClass == &TSPIBitmap::ClassInfo())
            out.push_back(f.Extension + "=" + f.Description);
    return out;
}

std::string WritePicture(const TempDir& dir, const std::string& name, uint8_t v, std::size_t junk = 0)
{
    std::ofstream f(dir / name, std::ios::binary);
    f << std::string(junk, 'J') << "TPIC" << char(v);
    return dir / name;
}

TEST(SusieRegistry, OnlyPicturePluginsAreKeptAndTheirExtensionsRegistered)
{
    PluginFolder folder{"t_pic", "t_archive", "t_noversion", "t_jpg"};
    std::ofstream(folder.dir / "junk.spi") << "not a library";
    Registry r;
    r.Search(folder.Mask());
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.Items(0).FileName(), folder.Path("t_jpg.spi"));  // by name
    EXPECT_EQ(r.Items(1).FileName(), folder.Path("t_pic.spi"));
    EXPECT_EQ(r.Items(1).APIVersion(), "00IN");
    EXPECT_EQ(r.Items(1).About(), "test plug-in");
    EXPECT_EQ(r.Items(1).Extensions(), std::vector<std::string>{"*.pi;*.pic"});
    // jpg is the built-in decoder's, and jfif goes with it; pi and pic in their order.
    EXPECT_EQ(Registered(), (std::vector<std::string>{"tpx=TPX", "pi=Test PI", "pic=Test PI"}));
    std::string upper = folder.Path("t_pic.spi");
    for (char& c : upper)
        c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    EXPECT_EQ(r.IndexOf(upper), 1);  // A to Z without regard to case

    // Searching again loads nothing twice.
    r.Search(folder.Mask());
    EXPECT_EQ(r.Count(), 2);
    EXPECT_THROW(TSPIs(), ESPIDupCreateSPIs);
    try {
        TSPIs second;
    } catch (const ESPIDupCreateSPIs& e) {
        EXPECT_STREQ(e.what(), "TSPIs は複数生成できません");
    }
}

TEST(SusieRegistry, PluginWithoutARequiredExportEndsTheSearch)
{
    PluginFolder folder{"t_archive", "t_nogetpicture", "t_pic"};
    Registry r;
    try {
        r.Search(folder.Mask());
        FAIL() << "no error";
    } catch (const ESPIInvalidAPI& e) {
        EXPECT_EQ(std::string(e.what()), "GetPictureは[" + folder.Path("t_nogetpicture.spi") + "]では使えないSusie Plugin APIです");
    }
    EXPECT_EQ(r.Count(), 0);  // the archive plug-in before it was refused by the handler; t_pic never came
    EXPECT_EQ(TSPIs::LoadPlugin(folder.dir / "missing.spi"), nullptr);
}

// A plug-in that answers every information number stalls nothing: its first pairs are taken,
// up to the bound.
TEST(SusieRegistry, APluginWithEndlessInformationIsReadUpToTheBound)
{
    PluginFolder folder{"t_endless", "t_pic"};
    Registry spis;
    spis.Search(folder.Mask());
    ASSERT_EQ(spis.Count(), 2);
    const TSPI& endless = spis.Items(spis.IndexOf(folder.Path("t_endless.spi")));
    ASSERT_EQ(endless.Extensions().size(), std::size_t(TSPI::kMaxFormatPairs));
    EXPECT_EQ(endless.Extensions().front(), "*.e1");
    EXPECT_EQ(endless.Formats().back(), "Endless " + std::to_string(TSPI::kMaxFormatPairs));
}

TEST(SusieRegistry, CandidatesListingTheExtensionComeFirstLaterOnesBefore)
{
    PluginFolder folder{"t_pal8", "t_pic", "t_pic2"};
    Registry r;
    r.Search(folder.Mask());
    ASSERT_EQ(r.Count(), 3);
    std::vector<TSPI*> list;
    r.GetPluginList({TSPIKind::In}, list, "/x/photo.PIC");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], &r.Items(2));  // t_pic2, registered after t_pic
    EXPECT_EQ(list[1], &r.Items(1));
    EXPECT_EQ(list[2], &r.Items(0));
}

TEST(SusieDecoding, ProgressCallbackPercentages)
{
    const std::pair<std::pair<int32_t, int32_t>, int32_t> cases[] = {
        {{10, 10}, 99}, {{0, 10}, 2}, {{5, 10}, 51}, {{1, 0}, 1}, {{1, 3}, 34}, {{-5, 10}, -47}, {{INT32_MAX, 1}, INT32_MAX}};
    for (const auto& [in, percent] : cases)
        EXPECT_EQ(TInSPIAbleData::CallbackPercent(in.first, in.second), percent) << in.first << "/" << in.second;
}

struct Report {
    int stage, percent;
    std::string message;
    bool operator==(const Report&) const = default;
};

TEST(SusieDecoding, FileDecodesWithProgressAndAFailingPluginIsPassed)
{
    PluginFolder folder{"t_pic"};
    folder.Copy("t_fail", "u_fail");  // lists .pic too, registered later: asked first
    Registry r;
    r.Search(folder.Mask());
    ASSERT_EQ(r.Count(), 2);
    const std::string file = WritePicture(folder.dir, "a.pic", 40);
    std::vector<Report> reports;
    TSPIBitmap b;
    b.OnProgress = [&](TObject*, TProgressStage s, uint8_t p, bool, const TRect&, const std::string& m) {
        reports.push_back({s, p, m});
    };
    b.LoadFromFile(file);
    ASSERT_EQ(b.Width(), 3);
    ASSERT_EQ(b.Height(), 2);
    b.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(b.ScanLine(1)[3 * 2 + 0], 200);  // blue
    EXPECT_EQ(b.ScanLine(1)[3 * 2 + 1], 50);   // v + 10
    EXPECT_EQ(b.ScanLine(1)[3 * 2 + 2], 42);   // v + 2
    const std::vector<Report> expected = {
        {psStarting, 0, "Loading Graphic by Susie Plugin"}, {psRunning, 1, "Seeking enabled Susie Plugins"},
        {psRunning, 1, "Loading by [u_fail.spi]"},           {psRunning, 1, "Loading by [u_fail.spi]"},
        {psRunning, 1, "Loading by [t_pic.spi]"},            {psRunning, 2, ""},
        {psRunning, 51, ""},                                 {psRunning, 99, ""},
        {psEnding, 100, "Loaded Graphic"}};
    EXPECT_EQ(reports, expected);

    // Through LoadPicture, as the window and the tool open files; other names still fail.
    TBitmap picture;
    LoadPicture(file, picture);
    EXPECT_EQ(picture.Width(), 3);
    std::ofstream(folder.dir / "b.pic") << "something else";
    try {
        LoadPicture(folder.dir / "b.pic", picture);
        FAIL() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(std::string(e.what()), std::string(kSPICouldNotDecode) + "\r" + (folder.dir / "b.pic"));
    }
}

TEST(SusieDecoding, MacBinaryHeaderAbortAndStreams)
{
    PluginFolder folder{"t_pic"};
    Registry r;
    r.Search(folder.Mask());
    // The data after a 128-byte header: the same plug-in at offset 128.
    TSPIBitmap b;
    b.LoadFromFile(WritePicture(folder.dir, "mac.pic", 7, 128));
    EXPECT_EQ(b.Width(), 3);
    r.MacBinary = false;
    EXPECT_THROW(b.LoadFromFile(folder.dir / "mac.pic"), EInvalidGraphic);
    r.MacBinary = true;

    // A handler that aborts stops the plug-in: nothing decodes.
    b.OnProgress = [](TObject*, TProgressStage s, uint8_t p, bool, const TRect&, const std::string&) {
        if (s == psRunning && p >= 2)
            throw EAbort();
    };
    EXPECT_THROW(b.LoadFromFile(WritePicture(folder.dir, "x.pic", 1)), EInvalidGraphic);
    b.OnProgress = nullptr;

    // A memory stream is handed over in place, from its position.
    TMemoryStream m;
    m.WriteBuffer("..TPIC\x09", 7);
    m.SetPosition(2);
    b.LoadFromStreamWithName(m, "m.pic");
    EXPECT_EQ(b.Width(), 3);
}

// A plug-in's header is taken at its word, and refused where its fields do not hang together:
// each case's blocks are exactly as large as its header makes them (spi.h), so that a read
// beyond them shows under AddressSanitizer; the refusal is the message of a picture no
// plug-in can decode.
TEST(SusieDecoding, InconsistentHeadersAreRefused)
{
    PluginFolder folder{"t_headers"};
    Registry r;
    r.Search(folder.Mask());
    ASSERT_EQ(r.Count(), 1);
    const struct {
        int v;
        const char* what;
    } refused[] = {
        {1, "biSizeImage 20 of 24 bytes of rows"},
        {2, "a header size of 44"},
        {3, "8 bits with 300 colours"},
        {4, "4 bits with 17 colours"},
        {5, "a width of 0"},
        {6, "a width of -3"},
        {7, "70000 rows"},
        {8, "run-length compression"},
        {9, "a profile inside the header"},
        {10, "a profile of 2 GiB"},
        {11, "65535 x 65535 pixels"},
        {12, "inks without a profile"},
    };
    const std::string whole = WritePicture(folder.dir, "whole.pi", 0);
    TSPIBitmap b;
    b.LoadFromFile(whole);
    EXPECT_EQ(b.Width(), 3);
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        const std::string file = WritePicture(folder.dir, "case.pi", uint8_t(c.v));
        try {
            b.LoadFromFile(file);
            ADD_FAILURE() << "taken";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(std::string(e.what()), kSPICouldNotDecode);
        }
    }
}

// The thread share reaches a plug-in that exports SetThreadShare, whether it is loaded before
// or after the share is set; one without the export decodes as before.
TEST(SusieRegistry, TheThreadShareReachesThePluginsThatTakeIt)
{
    PluginFolder folder{"t_share"};
    Registry r;
    const std::string file = WritePicture(folder.dir, "a.pi", 40);
    const auto blue = [&] {
        TSPIBitmap b;
        b.LoadFromFile(file);
        b.SetPixelFormat(TPixelFormat::pf24bit);
        return int(b.ScanLine(0)[0]);
    };
    r.Search(folder.Mask());
    EXPECT_EQ(blue(), 100);  // 0, every processor, before anything is set
    r.SetThreadShare(3);
    EXPECT_EQ(blue(), 103);
    r.Clear();
    r.SetThreadShare(2);
    r.Search(folder.Mask());
    ASSERT_EQ(r.Count(), 1);
    EXPECT_EQ(blue(), 102);

    PluginFolder plain{"t_pic"};
    r.Clear();
    r.Search(plain.Mask());
    TSPIBitmap b;
    b.LoadFromFile(WritePicture(plain.dir, "a.pic", 40));
    b.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(b.ScanLine(0)[0], 200);
}

TEST(SusieDecoding, TwentyFourBitRowsBecomeThePictureEitherWayUp)
{
    for (const char* plugin : {"t_pic", "t_top24"}) {
        SCOPED_TRACE(plugin);
        PluginFolder folder{plugin};
        Registry r;
        r.Search(folder.Mask());
        const std::string file = WritePicture(folder.dir, "a.pi", 40);
        TSPIGraphic copied, taken;
        copied.LoadFromFile(file);
        taken.LoadFromFile(file);
        TBitmap expected, b;
        copied.AssignTo(expected);  // through a BMP in memory
        taken.TransferTo(b);        // the plug-in's block itself
        EXPECT_TRUE(taken.Empty());
        ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
        EXPECT_TRUE(SamePixels(b, expected));
        EXPECT_EQ(b.ScanLine(0)[2 + 3 * 2], 40 + 2);  // top row: red v + x
        EXPECT_EQ(b.ScanLine(1)[1], 40 + 10);         // second row: green v + 10
    }
}

TEST(SusieDecoding, PalettePicturesKeepTheirColourTables)
{
    PluginFolder folder{"t_pal8", "t_pal4"};
    Registry r;
    r.Search(folder.Mask());
    {
        // 8 bits with no colour count: 256 entries.
        TSPIGraphic g;
        g.LoadFromFile(WritePicture(folder.dir, "a.p8", 3));
        EXPECT_EQ(g.Colors(), 256);
        EXPECT_EQ(g.InfoSize(), 1064);
        TBitmap b;
        g.TransferTo(b);
        EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
        EXPECT_EQ(b.ScanLine(1)[2], 3 + 2 + 3);
    }
    // 16 colours, rows top-down: the height is taken as stored, the rows read the right way.
    TSPIGraphic g;
    g.LoadFromFile(WritePicture(folder.dir, "a.p4", 1));
    EXPECT_EQ(g.Height(), -2);
    EXPECT_EQ(g.ImageSize(), 8);
    EXPECT_TRUE(g.Is16Color());
    TBitmap b;
    g.TransferTo(b);
    ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf4bit);
    ASSERT_EQ(b.Palette().size(), 16u);
    EXPECT_EQ(b.Palette()[5].rgbRed, 35);
    EXPECT_EQ(b.Palette()[5].rgbGreen, 5);
    EXPECT_EQ(b.Palette()[5].rgbBlue, 250);
    EXPECT_EQ(b.ScanLine(0)[0] >> 4, 1);       // top row: v + 0
    EXPECT_EQ(b.ScanLine(1)[0] >> 4, 1 + 3);   // second row: v + 3
}

// Called through the picture base class, the plug-in classes read a file as they do when
// called directly: TSPIBitmap gives a ".bmp" name to the BMP reader first although a plug-in
// decodes the same bytes, and both classes ask the plug-ins listing the extension first.
TEST(SusieDecoding, LoadingThroughTheBaseClassKeepsTheOrderOfDecoders)
{
    PluginFolder folder{"t_pal8", "t_pic"};  // both decode "TPIC"; t_pic lists .pic
    Registry r;
    r.Search(folder.Mask());
    ASSERT_EQ(r.Count(), 2);

    // An 8 x 4 24-bit BMP (14-byte file header, 40-byte info header, 24-byte rows) whose
    // pixel bytes hold "TPIC" at offset 128, where the plug-ins look after a MacBinary header.
    std::string bmp(54 + 4 * 24, '\0');
    const auto put32 = [&](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + std::size_t(i)] = char(v >> (8 * i));
    };
    bmp[0] = 'B', bmp[1] = 'M';
    put32(2, uint32_t(bmp.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, 8);
    put32(22, 4);
    bmp[26] = 1;   // planes
    bmp[28] = 24;  // bits per pixel
    bmp.replace(128, 5, "TPIC\x05");
    for (const char* name : {"both.bmp", "both.pic"})
        std::ofstream(folder.dir / name, std::ios::binary) << bmp;
    WritePicture(folder.dir, "a.pic", 5);

    struct Case {
        bool spiBitmap;  // else TSPIGraphic
        const char* file;
        int32_t width;
        TPixelFormat format;
    };
    const Case cases[] = {
        {true, "both.bmp", 8, TPixelFormat::pf24bit},  // the BMP reader
        {true, "both.pic", 3, TPixelFormat::pf24bit},  // t_pic, after 128 bytes
        {true, "a.pic", 3, TPixelFormat::pf24bit},     // t_pic, not t_pal8
        {false, "a.pic", 3, TPixelFormat::pf24bit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.spiBitmap ? "TSPIBitmap " : "TSPIGraphic ") + c.file);
        std::unique_ptr<TGraphic> graphic;
        if (c.spiBitmap)
            graphic = std::make_unique<TSPIBitmap>();
        else
            graphic = std::make_unique<TSPIGraphic>();
        graphic->LoadFromFile(folder.dir / c.file);
        TBitmap b;
        graphic->AssignTo(b);
        EXPECT_EQ(b.Width(), c.width);
        EXPECT_EQ(b.PixelFormat(), c.format);
    }
}

TEST(SusieDecoding, WithoutARegistryNothingDecodesAndTheEndIsReported)
{
    TempDir dir;
    std::string last;
    TSPIBitmap b;
    b.OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string& m) { last = m; };
    EXPECT_THROW(b.LoadFromFile(WritePicture(dir, "a.pic", 1)), EInvalidGraphic);
    EXPECT_EQ(last, "Loaded Graphic");
}

}  // namespace
}  // namespace nolvi2::test
