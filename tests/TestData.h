#pragma once
// Where the public conformance pictures are; tests that need them skip when they are absent.

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace nolvi2::test {

inline std::filesystem::path TestDataDir() { return NOLVI2_TESTDATA_DIR; }
inline bool HaveTestData() { return std::filesystem::is_directory(TestDataDir()); }

}  // namespace nolvi2::test

#define NOLVI2_REQUIRE_TESTDATA()                                                                  \
    do {                                                                                           \
        if (!nolvi2::test::HaveTestData())                                                         \
            GTEST_SKIP() << "test pictures not found at " << nolvi2::test::TestDataDir()           \
                         << " (set NOLVI2_TESTDATA_DIR)";                                          \
    } while (0)
