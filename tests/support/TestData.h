#pragma once
// Locates the shared face data sets. Tests that need them call VELMORA_REQUIRE_DATA,
// which skips with a clear message on a machine that has none.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace velmora_test {

inline std::filesystem::path DataDir()
{
    if (const char* env = std::getenv("VELMORA_DATA_DIR"))
        return env;
    return std::filesystem::path(VELMORA_SOURCE_DIR) / ".." / "shared" / "data";
}

inline bool HasData(const std::string& set)
{
    std::error_code ec;
    return std::filesystem::is_directory(DataDir() / set, ec);
}

} // namespace velmora_test

#define VELMORA_REQUIRE_DATA(set)                                                              \
    do {                                                                                       \
        if (!velmora_test::HasData(set))                                                       \
            GTEST_SKIP() << "face data set '" << (set) << "' not found under "                \
                         << velmora_test::DataDir() << " (set VELMORA_DATA_DIR to use it)";    \
    } while (0)
