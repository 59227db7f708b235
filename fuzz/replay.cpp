// A plain main() for a fuzz target: feeds every file of the folders it is given, one at a
// time, to the target's LLVMFuzzerTestOneInput, as libFuzzer would run them as a corpus. The
// test suite links each target of fuzz/ with it in the ordinary build and replays the seed and
// regression folders of fuzz/seeds.txt (ctest -R '^fuzz\.').
//
//   replay_<target> [--if-present] FOLDER...
//
// A folder after --if-present may be absent (the public test pictures): it is skipped with a
// message. Any other absent folder is a failure. An input that crashes or traps the target
// stops the run with its name on stderr; so does one that runs past 10 seconds (libFuzzer's
// -timeout=10 in fuzz/run.sh) or leaves the process above 2 GB (its -rss_limit_mb=2048).

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

constexpr unsigned kSecondsPerInput = 10;
constexpr long kMostKilobytes = 2048L * 1024;

// The input being run, for the signal handlers (a fixed buffer: they may only write(2)).
char gCurrent[4096];
struct sigaction gPrevious[NSIG];

void Say(const char* text) { (void)!::write(2, text, std::strlen(text)); }

// Names the input, then hands the signal on to the handler there was before (the
// sanitizers' report, or the default: the process dies of it): a fault happens again when
// the handler returns, and abort() raises its signal again.
void OnSignal(int signal)
{
    Say(signal == SIGALRM ? "\nreplay: this input ran past the time limit: " : "\nreplay: this input stopped the target: ");
    Say(gCurrent);
    Say("\n");
    if (signal == SIGALRM)
        ::_exit(3);
    ::sigaction(signal, &gPrevious[signal], nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<fs::path> files;
    bool optional = false;
    int folders = 0, absent = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--if-present") {
            optional = true;
            continue;
        }
        const fs::path dir = arg;
        if (!fs::is_directory(dir)) {
            if (optional) {
                std::printf("%s: not found, skipped (the public test pictures; set NOLVI2_TESTDATA_DIR)\n", arg.c_str());
                ++absent;
                optional = false;
                continue;
            }
            std::fprintf(stderr, "replay: %s: no such folder\n", arg.c_str());
            return 2;
        }
        optional = false;
        ++folders;
        std::vector<fs::path> here;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file())
                here.push_back(e.path());
        std::sort(here.begin(), here.end());
        std::printf("%s: %zu files\n", arg.c_str(), here.size());
        files.insert(files.end(), here.begin(), here.end());
    }
    if (folders == 0) {
        std::fprintf(stderr, "replay: no folder to replay\n");
        return 2;
    }

    for (const int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGALRM}) {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(s, &action, &gPrevious[s]);
    }
    std::fflush(stdout);
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in.eof() && in.fail()) {
            std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 2;
        }
        std::snprintf(gCurrent, sizeof gCurrent, "%s", file.c_str());
        // A block of exactly the input's size, as libFuzzer passes it, so that a read past its
        // end shows under the sanitizers.
        const std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size() ? bytes.size() : 1]);
        std::memcpy(data.get(), bytes.data(), bytes.size());
        ::alarm(kSecondsPerInput);
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
        ::alarm(0);
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        if (usage.ru_maxrss > kMostKilobytes) {
            std::fprintf(stderr, "replay: %s: the process grew to %ld MB\n", file.c_str(), usage.ru_maxrss / 1024);
            return 3;
        }
    }
    std::printf("%zu inputs replayed from %d folders (%d absent)\n", files.size(), folders, absent);
    return 0;
}
