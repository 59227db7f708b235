// nolvi2-cli: the window's processing commands without a window.
//
//   nolvi2-cli COMMAND INPUT OUTPUT [options]
//   nolvi2-cli COMMAND INPUT... --out-dir DIR [--format bmp|jpg|png] [--jobs N] [options]
//   nolvi2-cli --version | --formats | --help
//
// Exit status: 0 on success, 2 for a usage error, 1 for any other failure, 128 + the signal's
// number when SIGINT, SIGTERM or SIGHUP interrupted it.

#include "Batch.h"
#include "app/CommandTable.h"
#include "app/OpenPicture.h"
#include "app/PluginHost.h"
#include "app/ProcessingRoad.h"
#include "common/OZCommon.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/SafeFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using namespace nolvi2;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Workers of a batch at most.
constexpr int kMaxJobs = 256;

struct UsageError {
    std::string message;
};

struct TSizeArgument {
    bool percent = false;
    int32_t width = 0, height = 0;  // for a percentage, both hold it
};

struct Options {
    std::string command;
    std::vector<std::string> positionals;
    std::optional<std::string> outDir;
    std::optional<std::string> format;
    std::optional<TRect> select;
    int quality = 80;
    bool baseline = false;
    TPngSettings png{0, 6};  // adaptive rows at zlib level 6
    // --size: pixels, or a percentage of each side (the last one given).
    std::optional<TSizeArgument> size;
    uint8_t algorithm = 3;
    uint8_t grassWidth = 8;
    uint8_t rainbowSize = 8;
    bool time = false;
    bool help = false;
    bool formats = false;
    bool version = false;
    // --jobs: workers of a batch (default: the processors available).
    std::optional<int> jobs;
    // --no-color-profile, --no-auto-rotate
    TReadOptions read;
};

void PrintUsage(std::FILE* out)
{
    std::fputs("使い方:\n"
               "  nolvi2-cli COMMAND INPUT OUTPUT [options]\n"
               "  nolvi2-cli COMMAND INPUT... --out-dir DIR [--format bmp|jpg|png] [--jobs N] [options]\n"
               "  nolvi2-cli --version | --formats | --help\n"
               "\n"
               "COMMAND (大文字と小文字は区別しません):\n"
               "  Convert              読み込んで書き出すだけ\n",
               out);
    // The four channel swaps share one display name; each line says which channels it moves.
    static const char* const kSwaps[] = {"（R←G、G←B、B←R）", "（R↔G）", "（G↔B）", "（B↔R）"};
    for (const TCommand& c : ProcessingCommands()) {
        const std::string name(c.Name());
        const bool swap = c.Operation == TOperation::SwapRGB && c.Parameter >= 0 && c.Parameter < 4;
        std::fprintf(out, "  %-20s %.*s%s\n", name.c_str(), int(c.DisplayName.size()), c.DisplayName.data(),
                     swap ? kSwaps[c.Parameter] : "");
    }
    std::fputs("\n"
               "options:\n"
               "  --select L,T,R,B     選択範囲（右と下は含まない）。画像に合わせて切り詰めます\n"
               "  --quality N          JPEG の画質 0〜100（既定 80）\n"
               "  --baseline           JPEG をプログレッシブでなく書き出す\n"
               "  --png-filter F       PNG の行フィルタ none, sub, up, average, paeth, adaptive（既定 adaptive）\n"
               "  --png-level N        PNG の圧縮レベル 0〜9（既定 6）\n"
               "  --time               処理にかかった時間を表示する\n"
               "  --no-color-profile   埋め込みカラープロファイルを適用しない（既定は sRGB に変換する）\n"
               "  --no-auto-rotate     JPEG の Exif の回転情報に従わない（既定は従う）\n"
               "  --size WxH|P%        Resize の新しいサイズ（ピクセル、または元の大きさに対するパーセント）\n"
               "  --algorithm A        Resize のアルゴリズム nearest, bilinear, integral（既定 integral）\n"
               "  --grass-width N      ガラス処理のストリップの幅 1〜255（既定 8）\n"
               "  --rainbow-size N     虹色マスクのセルの大きさ 1〜255（既定 8）\n"
               "  --out-dir DIR        複数の入力を DIR に書き出す\n"
               "  --format FMT         --out-dir での出力形式 bmp, jpg, png\n"
               "  --jobs N             --out-dir の入力を N 個ずつ並行して処理する 1〜256（既定は CPU の数）\n"
               "  --formats            読み書きできる形式と、それを読むプラグインを表示する\n"
               "  --version            バージョンを表示する\n"
               "  --help               この説明を表示する\n"
               "\n"
               "出力形式は OUTPUT の拡張子（.bmp, .jpg, .jpeg, .png）で決まります。\n"
               "入力は BMP, JPEG, PNG と、プラグイン（実行ファイルのフォルダの *.spi）が読む形式です。\n",
               out);
}

// Messages break lines with a carriage return, as message boxes do.
std::string ForTerminal(std::string text)
{
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}

int ParseInt(const std::string& text, const char* what)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end)
        throw UsageError{std::string(what) + " には整数を指定してください: " + text};
    return value;
}

uint8_t ParseByteSetting(const std::string& text, const char* what)
{
    const int v = ParseInt(text, what);
    if (v < 1 || v > 255)
        throw UsageError{std::string(what) + " は 1〜255 です: " + text};
    return uint8_t(v);
}

void ParseSize(const std::string& text, Options& o)
{
    if (!text.empty() && text.back() == '%') {
        const int p = ParseInt(text.substr(0, text.size() - 1), "--size");
        if (p < 1 || p > 100000)
            throw UsageError{"--size のパーセントは 1〜100000 です: " + text};
        o.size = TSizeArgument{true, p, p};
        return;
    }
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos)
        throw UsageError{"--size は WxH か P% です: " + text};
    const int w = ParseInt(text.substr(0, x), "--size"), h = ParseInt(text.substr(x + 1), "--size");
    if (w < 1 || h < 1)
        throw UsageError{"--size の幅と高さは 1 以上です: " + text};
    o.size = TSizeArgument{false, w, h};
}

TRect ParseSelect(const std::string& text)
{
    std::vector<int> v;
    std::size_t start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        v.push_back(ParseInt(text.substr(start, comma - start), "--select"));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (v.size() != 4)
        throw UsageError{"--select は L,T,R,B の 4 つの整数です: " + text};
    const TRect r{v[0], v[1], v[2], v[3]};
    if (r.Left < 0 || r.Top < 0 || r.Right <= r.Left || r.Bottom <= r.Top)
        throw UsageError{"--select の範囲が不正です（0 ≤ L < R、0 ≤ T < B）: " + text};
    return r;
}

Options ParseArguments(int argc, char** argv)
{
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                throw UsageError{arg + " には値が必要です"};
            return args[++i];
        };
        auto noValue = [&] {
            if (inlineValue)
                throw UsageError{arg + " は値を取りません"};
        };
        if (arg == "--help" || arg == "-h") {
            noValue();
            o.help = true;
        } else if (arg == "--formats") {
            noValue();
            o.formats = true;
        } else if (arg == "--version") {
            noValue();
            o.version = true;
        } else if (arg == "--jobs") {
            const std::string n = value();
            o.jobs = ParseInt(n, "--jobs");
            if (*o.jobs < 1 || *o.jobs > kMaxJobs)
                throw UsageError{Format("--jobs は 1〜%d です: ", kMaxJobs) + n};
        } else if (arg == "--select") {
            o.select = ParseSelect(value());
        } else if (arg == "--quality") {
            o.quality = ParseInt(value(), "--quality");
            if (o.quality < 0 || o.quality > 100)
                throw UsageError{"--quality は 0〜100 です"};
        } else if (arg == "--baseline") {
            noValue();
            o.baseline = true;
        } else if (arg == "--png-filter") {
            static const char* const kFilters[] = {"adaptive", "none", "sub", "up", "average", "paeth"};
            const std::string f = value();
            const auto it = std::find(std::begin(kFilters), std::end(kFilters), f);
            if (it == std::end(kFilters))
                throw UsageError{"--png-filter は none, sub, up, average, paeth, adaptive のいずれかです: " + f};
            o.png.Filter = uint8_t(it - std::begin(kFilters));
        } else if (arg == "--png-level") {
            o.png.Level = ParseInt(value(), "--png-level");
            if (o.png.Level < 0 || o.png.Level > 9)
                throw UsageError{"--png-level は 0〜9 です"};
        } else if (arg == "--time") {
            noValue();
            o.time = true;
        } else if (arg == "--no-color-profile") {
            noValue();
            o.read.ColorProfile = false;
        } else if (arg == "--no-auto-rotate") {
            noValue();
            o.read.AutoRotate = false;
        } else if (arg == "--size") {
            ParseSize(value(), o);
        } else if (arg == "--algorithm") {
            const std::string a = value();
            if (a == "nearest")
                o.algorithm = 1;
            else if (a == "bilinear")
                o.algorithm = 2;
            else if (a == "integral")
                o.algorithm = 3;
            else
                throw UsageError{"--algorithm は nearest, bilinear, integral のいずれかです: " + a};
        } else if (arg == "--grass-width") {
            o.grassWidth = ParseByteSetting(value(), "--grass-width");
        } else if (arg == "--rainbow-size") {
            o.rainbowSize = ParseByteSetting(value(), "--rainbow-size");
        } else if (arg == "--out-dir") {
            o.outDir = value();
        } else if (arg == "--format") {
            o.format = value();
        } else if (arg == "--") {
            o.positionals.insert(o.positionals.end(), args.begin() + long(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"不明なオプションです: " + arg};
        } else {
            o.positionals.push_back(arg);
        }
    }
    if (o.help || o.formats || o.version)
        return o;
    if (o.positionals.empty())
        throw UsageError{"COMMAND がありません"};
    o.command = o.positionals.front();
    o.positionals.erase(o.positionals.begin());
    if (o.outDir) {
        if (o.positionals.empty())
            throw UsageError{"INPUT がありません"};
    } else {
        if (o.format)
            throw UsageError{"--format は --out-dir と一緒に使います"};
        if (o.jobs)
            throw UsageError{"--jobs は --out-dir と一緒に使います"};
        if (o.positionals.size() != 2)
            throw UsageError{"INPUT と OUTPUT を 1 つずつ指定してください（複数の入力には --out-dir）"};
    }
    return o;
}

// A one-line progress bar on stderr, drawn only when stderr is a terminal: the steps of one
// file, or the files of a batch done of all. Messages go through Print, which takes the bar off
// its line first; a lock keeps a worker's drawing and the main thread's writing apart.
class ProgressBar {
public:
    ProgressBar() : FEnabled(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressBar()
    {
        const std::lock_guard guard(FLock);
        Clear();
    }

    TProgressEvent Handler(std::string fallbackLabel)
    {
        if (!FEnabled)
            return {};
        return [this, label = std::move(fallbackLabel)](TObject*, TProgressStage stage, uint8_t percent, bool,
                                                         const TRect&, const std::string& msg) {
            const std::lock_guard guard(FLock);
            if (stage == psEnding)
                Clear();
            else
                Draw(msg.empty() ? label : msg, percent);
        };
    }

    void Files(std::size_t done, std::size_t total)
    {
        if (!FEnabled)
            return;
        const std::lock_guard guard(FLock);
        Draw(Format("%zu/%zu", done, total), int(done * 100 / std::max<std::size_t>(total, 1)));
    }

    void Print(std::FILE* out, const std::string& text)
    {
        if (text.empty())
            return;
        const std::lock_guard guard(FLock);
        Clear();
        std::fputs(text.c_str(), out);
        std::fflush(out);
    }

private:
    void Draw(const std::string& label, int percent)
    {
        if (FShown && percent == FLastPercent && label == FLastLabel)
            return;
        constexpr int kWidth = 30;
        const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
        std::fprintf(stderr, "\r%s [%s%s] %3d%%", label.c_str(), std::string(std::size_t(filled), '#').c_str(),
                     std::string(std::size_t(kWidth - filled), ' ').c_str(), percent);
        std::fflush(stderr);
        FShown = true;
        FLastPercent = percent;
        FLastLabel = label;
    }
    void Clear()
    {
        if (FShown) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
        FShown = false;
    }

    const bool FEnabled;
    std::mutex FLock;
    bool FShown = false;
    int FLastPercent = -1;
    std::string FLastLabel;
};

struct Job {
    std::string input;
    std::string output;
    TSaveFormat format;
};

// Reads input, runs the command as the window does in place, writes output; what it has to
// say goes into result. Throws on failure; a failed write leaves no file behind. steps, if
// set, shows the steps of the file.
void RunJob(const Options& o, const TCommand* command, const Job& job, ProgressBar* steps, TFileResult& result)
{
    const auto progress = [steps](std::string label) {
        return steps ? steps->Handler(std::move(label)) : TProgressEvent{};
    };
    TBitmap picture;
    LoadPicture(job.input, picture, progress("読み込み中"), o.read);
    picture.SetPixelFormat(TPixelFormat::pf24bit);

    if (command) {
        std::optional<TRect> selection;
        if (o.select) {
            selection = ClampSelection(*o.select, picture.Width(), picture.Height());
            // Crop has nothing to work on without a selection; every other command then
            // processes the whole picture, and says so.
            if (!selection && command->Family == TFamily::F)
                throw Exception("選択範囲が画像の外にあるため、切り抜けません。\r" + job.input);
            if (!selection)
                result.Err += "nolvi2-cli: " + job.input + ": 選択範囲が画像の外にあるため、画像全体を処理します\n";
        }
        TCommandOptions options;
        options.GrassWidth = o.grassWidth;
        options.RainbowMaskSize = o.rainbowSize;
        options.ResizeAlgorithm = o.algorithm;
        if (o.size && o.size->percent) {
            // As the resize dialog turns a percentage into pixels.
            options.ResizeWidth = int32_t(std::nearbyint(o.size->width / 100.0L * picture.Width()));
            options.ResizeHeight = int32_t(std::nearbyint(o.size->height / 100.0L * picture.Height()));
        } else if (o.size) {
            options.ResizeWidth = o.size->width;
            options.ResizeHeight = o.size->height;
        }
        picture.OnProgress = progress(std::string(command->DisplayName));
        TChronograph chronograph;
        ApplyInPlace(*command, picture, selection, options, chronograph, ExtractFileName(job.input));
        picture.OnProgress = nullptr;
        if (o.time)
            if (auto report = chronograph.TakeReport())
                result.Out += *report + "\n";
    }
    SavePicture(job.output, picture, job.format, TJpegSettings{o.quality, !o.baseline},
                o.png);
}

// A failure of one file of a batch on one line: the file, then the message's lines but the one
// that only repeats the file's name.
std::string BatchFailureLine(const std::string& input, const std::string& message)
{
    std::string line = "nolvi2-cli: " + input + ":";
    for (std::size_t start = 0; start <= message.size();) {
        const std::size_t end = std::min(message.find_first_of("\r\n", start), message.size());
        const std::string part = message.substr(start, end - start);
        if (!part.empty() && part != input)
            line += " " + part;
        start = end + 1;
    }
    return line + "\n";
}

TFileResult ProcessFile(const Options& o, const TCommand* command, const Job& job, ProgressBar* steps)
{
    TFileResult result;
    std::string failure;
    try {
        RunJob(o, command, job, steps, result);
        return result;
    } catch (const std::bad_alloc&) {
        failure = "メモリが足りません。\r" + job.input;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    result.Failed = true;
    // A batch reports every file on a line of its own; a single file, as the message has it.
    if (o.outDir)
        result.Err += BatchFailureLine(job.input, failure);
    else
        result.Err += "nolvi2-cli: " + ForTerminal(failure) + "\n";
    return result;
}

// The file a write to output ends in, so that two names for one file (through a symbolic
// link, which the writer follows) count as one output: the order the workers finish in would
// decide what it holds. A name whose links cannot be followed (a loop) stands for itself; its
// write fails and is reported with its file.
std::string WrittenFile(const std::string& output)
{
    try {
        std::error_code ec;
        const auto target = std::filesystem::weakly_canonical(WriteTargetOf(output), ec);
        return ec ? output : target.string();
    } catch (const Exception&) {
        return output;
    }
}

std::vector<Job> PlanJobs(const Options& o)
{
    std::vector<Job> jobs;
    if (!o.outDir) {
        const std::string& output = o.positionals[1];
        const auto format = SaveFormatOf(output);
        if (!format)
            throw UsageError{"OUTPUT の拡張子から出力形式が決まりません（.bmp, .jpg, .jpeg, .png）: " + output};
        jobs.push_back({o.positionals[0], output, *format});
        return jobs;
    }
    std::optional<TSaveFormat> fixed;
    std::string fixedExt;
    if (o.format) {
        const std::string f = LowerAscii(*o.format);
        if (f == "bmp")
            fixed = TSaveFormat::Bmp;
        else if (f == "jpg" || f == "jpeg")
            fixed = TSaveFormat::Jpeg;
        else if (f == "png")
            fixed = TSaveFormat::Png;
        else
            throw UsageError{"--format は bmp, jpg, png のいずれかです: " + *o.format};
        fixedExt = "." + f;
    }
    std::set<std::string> seen;
    for (const std::string& input : o.positionals) {
        std::filesystem::path in(input);
        std::string ext = fixedExt;
        TSaveFormat format = fixed.value_or(TSaveFormat::Bmp);
        if (!fixed) {
            // Keep the input's own format where it can be written, else BMP.
            const std::string inExt = ExtractFileExt(input);
            if (const auto f = SaveFormatOf(input)) {
                format = *f;
                ext = inExt;
            } else {
                ext = ".bmp";
            }
        }
        const std::string output = (std::filesystem::path(*o.outDir) / in.stem()).string() + ext;
        if (!seen.insert(WrittenFile(output)).second)
            throw UsageError{"出力ファイル名が重なります: " + output};
        jobs.push_back({input, output, format});
    }
    return jobs;
}

}  // namespace

// The formats the tool reads (with the plug-in that serves each) and writes.
void PrintFormats(const TPluginHost& plugins)
{
    std::printf("読み込み:\n  bmp  BMP (組み込み)\n  jpg, jpeg  JPEG (組み込み)\n  png  PNG (組み込み)\n");
    if (const TSPIs* spis = plugins.SPIs()) {
        for (int i = 0; i < spis->Count(); ++i) {
            const TSPI& spi = spis->Items(i);
            for (std::size_t k = 0; k < spi.Extensions().size(); ++k)
                std::printf("  %s  %s (%s)\n", spi.Extensions()[k].c_str(), spi.Formats()[k].c_str(),
                            spi.FileName().c_str());
        }
    }
    std::printf("書き出し:\n  bmp, jpg, jpeg, png\n");
}

int main(int argc, char** argv)
{
    Options o;
    std::vector<Job> jobs;
    const TCommand* command = nullptr;
    try {
        o = ParseArguments(argc, argv);
        if (o.help) {
            PrintUsage(stdout);
            return kExitOk;
        }
        if (o.version) {
            TOZCVersionResourceRec version;
            ReadVersionInfo(version);
            std::printf("nolvi2-cli %s\n", version.ProductVersion.c_str());
            return kExitOk;
        }
        if (o.formats) {
            const TPluginHost plugins;
            if (!plugins.Message().empty())
                std::fprintf(stderr, "nolvi2-cli: %s\n", ForTerminal(plugins.Message()).c_str());
            PrintFormats(plugins);
            return kExitOk;
        }
        if (LowerAscii(o.command) != "convert") {
            command = FindCommand(o.command);
            if (!command)
                throw UsageError{"不明な COMMAND です: " + o.command};
            if (command->Family == TFamily::E && !o.size)
                throw UsageError{"Resize には --size が必要です"};
            if (command->Family == TFamily::F && !o.select)
                throw UsageError{"Crop には --select が必要です"};
        }
        jobs = PlanJobs(o);
    } catch (const UsageError& e) {
        // The reason and where the rest is: the whole usage text would scroll the reason away.
        std::fprintf(stderr, "nolvi2-cli: %s\n使い方は nolvi2-cli --help で表示されます。\n", e.message.c_str());
        return kExitUsage;
    }

    if (o.outDir) {
        std::error_code ec;
        std::filesystem::create_directories(*o.outDir, ec);
        if (ec) {
            std::fprintf(stderr, "nolvi2-cli: フォルダを作成できません。\n%s\n(%s)\n", o.outDir->c_str(),
                         ErrnoText(ec.value()).c_str());
            return kExitFailure;
        }
    }

    // From here on the interrupting signals come to RunBatch only; the plug-ins' libraries may
    // start threads of their own as they load.
    HoldInterrupts();
    // Other formats are read through the plug-ins beside the tool, as the window reads them.
    const TPluginHost plugins;
    if (!plugins.Message().empty())
        std::fprintf(stderr, "nolvi2-cli: %s\n", ForTerminal(plugins.Message()).c_str());

    // A batch counts its files on the progress bar; a single file shows its steps.
    const bool batch = o.outDir.has_value();
    const std::size_t total = jobs.size();
    // --jobs workers, else one for each processor; never more than there are files.
    const std::size_t asked = o.jobs ? std::size_t(*o.jobs) : std::min<std::size_t>(AvailableProcessors(), kMaxJobs);
    const auto workers = unsigned(std::min(asked, total));
    if (TSPIs* spis = plugins.SPIs())
        spis->SetThreadShare(int32_t(std::max(1u, AvailableProcessors() / std::max(1u, workers))));
    int status = kExitOk;
    std::size_t done = 0;
    ProgressBar bar;
    if (batch)
        bar.Files(0, total);
    try {
        RunBatch(
            total, workers,
            [&](std::size_t i) { return ProcessFile(o, command, jobs[i], batch ? nullptr : &bar); },
            [&](std::size_t, TFileResult&& result) {
                if (result.Failed)
                    status = kExitFailure;
                bar.Print(stderr, result.Err);
                bar.Print(stdout, result.Out);
                if (batch)
                    bar.Files(++done, total);
            },
            [&](int, std::size_t processed) {
                if (batch)
                    bar.Print(stderr, Format("nolvi2-cli: 中断しました（%zu/%zu 個のファイルを処理済み）\n", processed, total));
                else
                    bar.Print(stderr, "nolvi2-cli: 中断しました\n");
            });
    } catch (const std::exception& e) {
        bar.Print(stderr, "nolvi2-cli: " + ForTerminal(e.what()) + "\n");
        return kExitFailure;
    }
    return status;
}
