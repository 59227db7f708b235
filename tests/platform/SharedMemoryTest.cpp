// The hand-over block: sealed once written, inherited by the one child started with it, and
// what a receiver refuses to take.
#include "platform/Process.h"
#include "platform/SharedMemory.h"

#include "HandedBlocks.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace nolvi2;
using nolvi2::test::HandedBlocks;

namespace {

int CodeOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ESharedMemory& e) {
        EXPECT_EQ(std::string(e.what()), "共有メモリが開けませんでした(" + std::to_string(e.Code()) + ")");
        return e.Code();
    }
    return 0;
}

std::unique_ptr<TSharedBlock> SealedBlock(const std::string& content)
{
    auto block = CreateSharedBlock();
    block->WriteBuffer(content.data(), int64_t(content.size()));
    block->Seal();
    return block;
}

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

// The descriptors of a shell started with handOver, as it lists them.
std::vector<int> ChildDescriptors(const std::string& folder, const std::string& name, int handOver)
{
    const std::string out = folder + "/" + name;
    StartProgram("/bin/sh", {"sh", "-c", "ls /proc/$$/fd > \"$0.tmp\" && mv \"$0.tmp\" \"$0\"", out}, handOver);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::access(out.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(out);
    std::vector<int> fds;
    for (int fd; in >> fd;)
        fds.push_back(fd);
    EXPECT_FALSE(fds.empty()) << name;
    return fds;
}

}  // namespace

// Written and sealed, the block reads back whole and nobody can change it any more.
TEST(SharedBlock, SealedAfterWriting)
{
    const auto block = SealedBlock("state block");
    EXPECT_EQ(block->Size(), 11);
    EXPECT_EQ(CodeOf([&] { block->WriteBuffer("x", 1); }), EPERM);
    EXPECT_EQ(::ftruncate(block->Handle(), 0), -1);
    const int copy = ::fcntl(block->Handle(), F_DUPFD_CLOEXEC, 3);
    const auto received = OpenSharedBlock(std::to_string(copy), 11);
    std::string text(11, '\0');
    received->ReadBuffer(text.data(), 11);
    EXPECT_EQ(text, "state block");
}

// The child started with the block inherits it under the same number; a child started
// meanwhile without it does not.
TEST(SharedBlock, OnlyTheChildStartedWithItInheritsIt)
{
    const test::TempDir dir;
    const auto block = SealedBlock("abc");
    const std::vector<int> with = ChildDescriptors(dir.Path().string(), "with", block->Handle());
    const std::vector<int> without = ChildDescriptors(dir.Path().string(), "without", -1);
    EXPECT_NE(std::find(with.begin(), with.end(), block->Handle()), with.end());
    EXPECT_EQ(std::find(without.begin(), without.end(), block->Handle()), without.end());
}

// A block that cannot be written gives the system's code, not a file.
TEST(SharedBlock, WriteFailuresCarryTheSystemCode)
{
    TSharedBlock full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    const std::vector<char> bytes(100, 1);
    EXPECT_EQ(CodeOf([&] { full.WriteBuffer(bytes.data(), 100); }), ENOSPC);
}

// What a receiver refuses: numbers that are no descriptor, descriptors that are no sealed
// block of the size said, blocks of another user. A refused block is closed all the same;
// a descriptor that is no block is left alone.
TEST(SharedBlock, ReceiverRefusals)
{
    for (const char* text : {"", "../etc", "12a", "-3", "99999999999", "4294967295"})
        EXPECT_EQ(CodeOf([&] { OpenSharedBlock(text, 10); }), EINVAL) << text;
    int unused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(unused);
    for (const int fd : {0, 1, 2, unused})
        EXPECT_EQ(CodeOf([&] { OpenSharedBlock(std::to_string(fd), 10); }), EBADF) << fd;

    // Descriptors that are no block stay open.
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const int file = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    for (const int fd : {pipeEnds[0], file}) {
        EXPECT_EQ(CodeOf([&] { OpenSharedBlock(std::to_string(fd), 10); }), EINVAL) << fd;
        EXPECT_TRUE(IsOpen(fd));
        ::close(fd);
    }
    ::close(pipeEnds[1]);

    // Blocks of another size than said, or not sealed: refused and closed.
    const std::string ten(10, 'x');
    for (const int64_t size : {int64_t(0), int64_t(-1), int64_t(9), int64_t(11)}) {
        const int fd = SealedBlock(ten)->Release();
        EXPECT_EQ(CodeOf([&] { OpenSharedBlock(std::to_string(fd), size); }), EINVAL) << size;
        EXPECT_FALSE(IsOpen(fd)) << size;
    }
    auto unsealed = CreateSharedBlock();
    unsealed->WriteBuffer(ten.data(), 10);
    const int fd = unsealed->Release();
    EXPECT_EQ(CodeOf([&] { OpenSharedBlock(std::to_string(fd), 10); }), EINVAL);
    EXPECT_FALSE(IsOpen(fd));

    if (::geteuid() == 0) {
        auto foreign = SealedBlock(ten);
        ASSERT_EQ(::fchown(foreign->Handle(), 65534, 65534), 0);
        const int n = foreign->Release();
        EXPECT_EQ(CodeOf([&] { OpenSharedBlock(std::to_string(n), 10); }), EACCES);
        EXPECT_FALSE(IsOpen(n));
    }
    EXPECT_TRUE(HandedBlocks().empty());
}
