// Streams, the safe file writer and the picture-format table.

#include "platform/Bitmap.h"
#include "platform/Exceptions.h"
#include "platform/JPEGImage.h"
#include "platform/SafeFile.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include "TempDir.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace nolvi2;
namespace fs = std::filesystem;

namespace {

using nolvi2::test::TempDir;

std::string ReadAll(const std::string& name)
{
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteText(TStream& s, const std::string& text) { s.WriteBuffer(text.data(), int64_t(text.size())); }

// A WriteFileSafely of name on another thread that writes first and then waits, with its
// temporary file in place, until Resume; then it writes rest and ends. Finish gives its end
// (rethrowing what the write raised).
class THeldWrite {
public:
    THeldWrite(const std::string& name, std::string first, std::string rest = {})
        : FWriter(std::async(std::launch::async, [this, name, first = std::move(first), rest = std::move(rest)] {
              WriteFileSafely(name, [&](TStream& s) {
                  WriteText(s, first);
                  FStarted.set_value();
                  FResume.get_future().wait();
                  WriteText(s, rest);
              });
          }))
    {
        FStarted.get_future().wait();
    }
    // A write left held is let go, so that its thread ends.
    ~THeldWrite()
    {
        if (!FResumed)
            Resume();
    }
    THeldWrite(const THeldWrite&) = delete;
    THeldWrite& operator=(const THeldWrite&) = delete;
    void Resume()
    {
        FResumed = true;
        FResume.set_value();
    }
    void Finish() { FWriter.get(); }

private:
    bool FResumed = false;
    std::promise<void> FStarted, FResume;
    std::future<void> FWriter;  // last: its thread uses the promises
};

}  // namespace

TEST(Streams, MemoryStreamReadWriteSeek)
{
    TMemoryStream m;
    WriteText(m, "hello");
    EXPECT_EQ(m.Size(), 5);
    m.SetPosition(8);
    WriteText(m, "!");  // the gap is filled with zeros
    EXPECT_EQ(m.Size(), 9);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m.Memory()), 9), std::string("hello\0\0\0!", 9));
    m.SetPosition(3);
    char buf[4] = {};
    EXPECT_EQ(m.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 2), "lo");
    m.SetPosition(7);
    EXPECT_THROW(m.ReadBuffer(buf, 4), EReadError);  // only 2 bytes left
    m.SetSize(2);
    EXPECT_EQ(m.Position(), 2);
    EXPECT_EQ(m.Read(buf, 1), 0);
}

TEST(Streams, FileStreamErrorsNameTheFile)
{
    TempDir dir;
    try {
        TFileStream f(dir / "missing.bmp", TFileMode::fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.bmp"), std::string::npos);
    }
    EXPECT_THROW(TFileStream(dir.Path().string(), TFileMode::fmOpenRead), EFOpenError);  // a folder
    EXPECT_THROW(TFileStream(dir / "no/such/folder.bmp", TFileMode::fmCreate), EFCreateError);
}

TEST(SafeFile, WritesReplacesAndKeepsPermissions)
{
    TempDir dir;
    const std::string name = dir / "a.bin";
    WriteFileSafely(name, [](TStream& s) { WriteText(s, "first"); });
    EXPECT_EQ(ReadAll(name), "first");
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    WriteFileSafely(name, [](TStream& s) { WriteText(s, "second"); });
    EXPECT_EQ(ReadAll(name), "second");
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.EntryCount(), 1u);  // no temporary file left
}

TEST(SafeFile, FailureLeavesOldFileAndNoTemporary)
{
    TempDir dir;
    const std::string name = dir / "keep.bin";
    WriteFileSafely(name, [](TStream& s) { WriteText(s, "precious"); });
    EXPECT_THROW(WriteFileSafely(name,
                                 [](TStream& s) {
                                     WriteText(s, "half");
                                     throw Exception("encoder failed");
                                 }),
                 Exception);
    EXPECT_EQ(ReadAll(name), "precious");
    EXPECT_EQ(dir.EntryCount(), 1u);

    // A failure on a new name leaves nothing at all.
    EXPECT_THROW(WriteFileSafely(dir / "new.bin", [](TStream&) { throw Exception("no"); }), Exception);
    EXPECT_FALSE(fs::exists(dir / "new.bin"));
    EXPECT_EQ(dir.EntryCount(), 1u);

    // A missing folder or a folder as the target.
    EXPECT_THROW(WriteFileSafely(dir / "no/such/x.bin", [](TStream& s) { WriteText(s, "x"); }), EFCreateError);
    fs::create_directory(dir.Path() / "sub");
    EXPECT_THROW(WriteFileSafely(dir / "sub", [](TStream& s) { WriteText(s, "x"); }), EFCreateError);
}

// The common system reasons read in Japanese; the others as the system gives them.
TEST(SystemError, ReasonTexts)
{
    const std::pair<int, std::string> cases[] = {
        {ENOENT, "ファイルまたはフォルダがありません"},
        {EACCES, "アクセスが拒否されました"},
        {EPERM, "アクセスが拒否されました"},
        {EISDIR, "フォルダです"},
        {ENOSPC, "空き領域がありません"},
        {EROFS, "読み取り専用のファイルシステムです"},
        {EAGAIN, std::strerror(EAGAIN)},
        {EMFILE, std::strerror(EMFILE)},
    };
    for (const auto& [err, text] : cases)
        EXPECT_EQ(ErrnoText(err), text) << err;
}

// A picture saved where it cannot be: the message names the file and the reason in Japanese.
// The read-only folder is tried by a user other than root, in a child process.
TEST(SystemError, SavingReportsTheReason)
{
    TempDir dir;
    const TBitmap picture(2, 2, TPixelFormat::pf24bit);
    const auto messageOf = [&](const std::string& name) {
        try {
            picture.SaveToFile(name);
        } catch (const Exception& e) {
            return std::string(e.what());
        }
        return std::string("saved");
    };
    fs::create_directory(dir.Path() / "sub");
    fs::create_directory(dir.Path() / "locked");
    fs::permissions(dir.Path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const std::string missing = dir / "no/x.bmp", folder = dir / "sub", locked = dir / "locked/x.bmp";
    EXPECT_EQ(messageOf(missing), "ファイルを作成できません。\r" + missing + "\r(ファイルまたはフォルダがありません)");
    EXPECT_EQ(messageOf(folder), "ファイルを作成できません。\r" + folder + "\r(フォルダです)");

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ends[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(1);
        const std::string text = messageOf(locked);
        ::_exit(::write(ends[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 1);
    }
    ::close(ends[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;)
        text.append(buf, std::size_t(n));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(text, "ファイルを作成できません。\r" + locked + "\r(アクセスが拒否されました)");
}

TEST(SafeFile, SymbolicLinkTargetIsReplaced)
{
    TempDir dir;
    fs::create_directory(dir.Path() / "real");
    const std::string target = dir / "real/pic.bin";
    WriteFileSafely(target, [](TStream& s) { WriteText(s, "old"); });
    fs::create_symlink("real/pic.bin", dir.Path() / "link.bin");
    WriteFileSafely(dir / "link.bin", [](TStream& s) { WriteText(s, "new"); });
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.bin"));
    EXPECT_EQ(ReadAll(target), "new");
}

// Writers in several threads at once: every new file gets the mode asked for less the umask,
// which reading the umask must not change under another writer.
TEST(SafeFile, ConcurrentWritersKeepTheUmask)
{
    TempDir dir;
    const mode_t umask = ::umask(022);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&dir, t] {
            for (int i = 0; i < 300; ++i)
                WriteFileSafely(dir / (std::to_string(t) + "-" + std::to_string(i)),
                                [](TStream& s) { WriteText(s, "x"); }, 0666);
        });
    for (std::thread& w : writers)
        w.join();
    EXPECT_EQ(::umask(umask), mode_t(022));
    for (const auto& e : fs::directory_iterator(dir.Path())) {
        struct stat st {};
        ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
        ASSERT_EQ(st.st_mode & 07777, 0644u) << e.path();
    }
    EXPECT_EQ(dir.EntryCount(), 1200u);
}

// Whether a file may be replaced is read from the bits of the user's class (owner, group,
// others), whoever the user is: the superuser is held to them as anyone.
TEST(SafeFile, WritableByTheBitsOfTheUsersClass)
{
    TempDir dir;
    const std::string name = dir / "settings.ini";
    EXPECT_NO_THROW(RequireWritableFile(name));  // nothing there yet
    std::ofstream(name) << "x";
    struct Case {
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool writable;
    };
    const uid_t me = ::geteuid();
    const gid_t myGroup = ::getegid();
    const uid_t other = me == 65534 ? 65533 : 65534;
    std::vector<Case> cases = {
        {me, myGroup, 0644, true}, {me, myGroup, 0444, false}, {me, myGroup, 0200, true}, {me, myGroup, 0466, false},
    };
    // Files of another owner can only be made by the superuser.
    if (me == 0)
        cases.insert(cases.end(), {{other, gid_t(other), 0644, false},
                                   {other, gid_t(other), 0646, true},
                                   {other, myGroup, 0464, true},
                                   {other, myGroup, 0646, false}});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.owner << ":" << c.group << " " << std::oct << c.mode);
        ASSERT_EQ(::chown(name.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(name.c_str(), c.mode), 0);
        if (c.writable) {
            EXPECT_NO_THROW(RequireWritableFile(name));
        } else {
            try {
                RequireWritableFile(name);
                ADD_FAILURE() << "not refused";
            } catch (const EWriteError& e) {
                EXPECT_EQ(std::string(e.what()),
                          "ファイルに書き込めません。\r" + name + "\r(" + ErrnoText(EACCES) + ")");
            }
        }
    }
    // Through a link, the bits of the file it ends at.
    ASSERT_EQ(::chown(name.c_str(), me, myGroup), 0);
    ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
    fs::create_symlink(name, dir.Path() / "link.ini");
    EXPECT_THROW(RequireWritableFile(dir / "link.ini"), EWriteError);
    // A settings file so protected stays as it is.
    EXPECT_THROW(WriteSettingsFile(name, "replaced"), EWriteError);
    EXPECT_EQ(ReadAll(name), "x");
}

// What a killed write of a file left beside it (".name.nolvi2-XXXXXX") goes; anything else stays,
// and so does the temporary file of a write still under way.
TEST(SafeFile, AbandonedTemporariesOfAFileAreRemoved)
{
    TempDir dir;
    const std::string name = dir / "values.reg";
    std::ofstream(name) << "x";
    const std::vector<std::pair<std::string, bool>> entries = {
        {".values.reg.nolvi2-AbC019", true},   {".values.reg.nolvi2-zzzzzz", true},
        {".values.reg.nolvi2-AbC01", false},   {".values.reg.nolvi2-AbC0123", false},
        {".values.reg.nolvi2-AbC01!", false},  {"values.reg.nolvi2-AbC019", false},
        {".values.rex.nolvi2-AbC019", false},  {".other.nolvi2-AbC019", false},
        {".Values.reg.nolvi2-AbC019", false},  {".values.reg.backup", false},
        {".values.reg.AbC019", false},
    };
    for (const auto& [entry, removed] : entries)
        std::ofstream(dir / entry) << "left";
    fs::create_directory(dir.Path() / ".values.reg.nolvi2-Folder");
    fs::create_symlink(name, dir.Path() / ".values.reg.nolvi2-Linked");
    if (::geteuid() == 0) {
        std::ofstream(dir / ".values.reg.nolvi2-Others") << "someone else's";
        ASSERT_EQ(::chown((dir / ".values.reg.nolvi2-Others").c_str(), 65534, 65534), 0);
    }
    RemoveAbandonedTemporaries(name);
    for (const auto& [entry, removed] : entries)
        EXPECT_EQ(fs::exists(dir.Path() / entry), !removed) << entry;
    EXPECT_TRUE(fs::is_directory(dir.Path() / ".values.reg.nolvi2-Folder"));
    EXPECT_TRUE(fs::is_symlink(dir.Path() / ".values.reg.nolvi2-Linked"));
    EXPECT_EQ(fs::exists(dir.Path() / ".values.reg.nolvi2-Others"), ::geteuid() == 0);
    EXPECT_EQ(ReadAll(name), "x");

    // A write under way keeps its temporary file, and ends as it should.
    TempDir quiet;
    const std::string target = quiet / "values.reg";
    THeldWrite writer(target, "new");
    RemoveAbandonedTemporaries(target);
    EXPECT_EQ(quiet.EntryCount(), 1u);
    writer.Resume();
    EXPECT_NO_THROW(writer.Finish());
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_EQ(quiet.EntryCount(), 1u);
}

// An interrupted program gives up the writes under way: their temporary files go at once,
// a write then fails and leaves its target as it was, and no new write starts. Only the files
// renamed into place count as written.
TEST(SafeFileDeathTest, AbandonedWritesLeaveNoTemporaryFile)
{
    TempDir dir;
    const std::string name = dir / "keep.bin";
    WriteFileSafely(name, [](TStream& s) { WriteText(s, "old"); });
    const auto scenario = [&]() -> int {
        THeldWrite writer(name, "half", " and the rest");
        if (dir.EntryCount() != 2)
            return 10;  // no temporary file beside the target
        const std::size_t done = SafeWritesDone();
        if (AbandonSafeWrites() != done)
            return 15;
        if (dir.EntryCount() != 1)
            return 11;
        writer.Resume();
        try {
            writer.Finish();
            return 12;
        } catch (const EFCreateError&) {
        }
        try {
            WriteFileSafely(dir / "new.bin", [](TStream& s) { WriteText(s, "x"); });
            return 13;
        } catch (const EFCreateError&) {
        }
        if (SafeWritesDone() != done)
            return 16;  // a write that failed counted as done
        return ReadAll(name) == "old" && dir.EntryCount() == 1 ? 0 : 14;
    };
    // In a child process: the abandonment lasts for the rest of the process.
    EXPECT_EXIT(::_exit(scenario()), ::testing::ExitedWithCode(0), "");
}

TEST(PictureFormats, ExtensionMaskAndFilterByClass)
{
    TPictureFormats t;
    t.Register("bmp", "ビットマップ", TBitmap::ClassInfo());
    t.Register("jpg", "JPEG", TJPEGImage::ClassInfo());
    t.Register("jpeg", "JPEG", TJPEGImage::ClassInfo());
    EXPECT_EQ(t.GraphicExtension(TBitmap::ClassInfo()), "bmp");
    EXPECT_EQ(t.GraphicExtension(TJPEGImage::ClassInfo()), "jpeg");  // the last registered
    EXPECT_EQ(t.GraphicFileMask(TJPEGImage::ClassInfo()), "*.jpg;*.jpeg");
    EXPECT_EQ(t.GraphicFilter(TJPEGImage::ClassInfo()), "すべて (*.jpg;*.jpeg)|*.jpg;*.jpeg|JPEG (*.jpg)|*.jpg|JPEG (*.jpeg)|*.jpeg");
    EXPECT_EQ(t.FindExtension("JPG"), &TJPEGImage::ClassInfo());
    EXPECT_EQ(t.FindExtension("png"), nullptr);

    // A class and its descendants share a mask.
    static const TGraphicClass child{"TChild", &TJPEGImage::ClassInfo(), nullptr};
    t.Register("jfif", "JFIF", child);
    EXPECT_EQ(t.GraphicFileMask(TJPEGImage::ClassInfo()), "*.jpg;*.jpeg;*.jfif");
    EXPECT_EQ(t.GraphicFileMask(child), "*.jfif");
    t.Unregister(child);
    EXPECT_EQ(t.GraphicFileMask(TJPEGImage::ClassInfo()), "*.jpg;*.jpeg");
}

TEST(PictureFormats, DeferredRegistrationsRunOnceWhenTheTableIsFirstAskedFor)
{
    static const TGraphicClass later{"TLater", &TBitmap::ClassInfo(), nullptr};
    int runs = 0;
    TPictureFormats::Defer([&] {
        ++runs;
        TPictureFormats::Instance().Register("zzq", "later", later);  // registering runs nothing again
    });
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(TPictureFormats::Instance().FindExtension("zzq"), &later);
    TPictureFormats::Instance();
    EXPECT_EQ(runs, 1);
    TPictureFormats::Instance().Unregister(later);

    // An empty function drops what is pending.
    TPictureFormats::Defer([&] { ++runs; });
    TPictureFormats::Defer({});
    TPictureFormats::Instance();
    EXPECT_EQ(runs, 1);
}

TEST(BitmapModel, SizeLimitsAreCheckedBeforeAllocating)
{
    TBitmap b;
    EXPECT_THROW(b.SetSize(65536, 1), EPictureSize);
    EXPECT_THROW(b.SetSize(-1, 5), EPictureSize);
    EXPECT_THROW(b.SetSize(65535, 65535), EPictureSize);  // beyond 2^28 pixels
    EXPECT_EQ(b.Width(), 0);
    b.SetSize(65535, 1);
    EXPECT_EQ(b.RowBytes(), 65535u * 3);
    EXPECT_EQ(b.Stride(), 65536u * 3);
}

TEST(BitmapModel, RowBytesOfEachFormat)
{
    struct Case {
        TPixelFormat pf;
        int32_t width;
        std::size_t rowBytes;
    };
    const Case cases[] = {
        {TPixelFormat::pf1bit, 9, 2},  {TPixelFormat::pf1bit, 8, 1},  {TPixelFormat::pf4bit, 3, 2},
        {TPixelFormat::pf8bit, 5, 5},  {TPixelFormat::pf15bit, 3, 6}, {TPixelFormat::pf16bit, 1, 2},
        {TPixelFormat::pf24bit, 5, 15}, {TPixelFormat::pf32bit, 3, 12},
    };
    for (const Case& c : cases) {
        TBitmap b(c.width, 2, c.pf);
        EXPECT_EQ(b.RowBytes(), c.rowBytes) << int(c.pf);
        EXPECT_EQ(b.Stride() % 4, 0u);
        EXPECT_GE(b.Stride(), c.rowBytes);
    }
}

// To 24 bits and back: palette formats keep their indices through the standard palettes,
// n-bit channels scale as round(v * 255 / (2^n - 1)), indices beyond the palette are black.
TEST(BitmapModel, PixelFormatConversions)
{
    TBitmap b(4, 1, TPixelFormat::pf16bit);
    const uint16_t words[4] = {0xFFFF, 0x0000, 0x0821, 0xF800};  // white, black, (1,1,1), pure red
    std::memcpy(b.ScanLine(0), words, 8);
    b.SetPixelFormat(TPixelFormat::pf24bit);
    const uint8_t* p = b.ScanLine(0);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ((std::vector<int>{p[6], p[7], p[8]}), (std::vector<int>{8, 4, 8}));  // 1*255/31, 1*255/63
    EXPECT_EQ((std::vector<int>{p[9], p[10], p[11]}), (std::vector<int>{0, 0, 255}));

    TBitmap pal(3, 1, TPixelFormat::pf8bit);
    pal.SetPalette({TRGBQuad{10, 20, 30, 0}});
    pal.ScanLine(0)[0] = 0;
    pal.ScanLine(0)[1] = 1;  // beyond the one-entry palette
    pal.ScanLine(0)[2] = 255;
    pal.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(pal.ScanLine(0)[0], 10);
    EXPECT_EQ(pal.ScanLine(0)[2], 30);
    for (int i = 3; i < 9; ++i)
        EXPECT_EQ(pal.ScanLine(0)[i], 0);

    // 24 -> 1 bit -> 24: black and white by the nearer end.
    TBitmap mono(3, 1, TPixelFormat::pf24bit);
    const uint8_t px[9] = {127, 128, 127, 128, 128, 127, 255, 0, 0};  // sums 382, 383, 255
    std::memcpy(mono.ScanLine(0), px, 9);
    mono.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_EQ(mono.Palette().size(), 2u);
    EXPECT_EQ(mono.ScanLine(0)[0], 0x40);
    mono.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(mono.ScanLine(0)[3], 255);
    EXPECT_EQ(mono.ScanLine(0)[0], 0);

    // 24 -> 4 bit: the VGA colours themselves stay exactly.
    TBitmap vga(2, 1, TPixelFormat::pf24bit);
    const uint8_t cols[6] = {192, 192, 192, 0, 128, 128};  // silver, olive (B,G,R)
    std::memcpy(vga.ScanLine(0), cols, 6);
    vga.SetPixelFormat(TPixelFormat::pf4bit);
    vga.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(std::memcmp(vga.ScanLine(0), cols, 6), 0);
}
