#pragma once
// Locates the shared face data sets (tests that need them call VELMORA_REQUIRE_DATA,
// which skips with a clear message on a machine that has none) and sets
// environment variables for a scope.
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

// Sets an environment variable for one scope.
class EnvVar {
public:
    EnvVar(const char* name, const std::string& value) : m_name(name)
    {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        m_old = m_had ? old : "";
        setenv(name, value.c_str(), 1);
    }
    ~EnvVar() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    bool m_had;
    std::string m_old;
};

} // namespace velmora_test

#define VELMORA_REQUIRE_DATA(set)                                                              \
    do {                                                                                       \
        if (!velmora_test::HasData(set))                                                       \
            GTEST_SKIP() << "face data set '" << (set) << "' not found under "                \
                         << velmora_test::DataDir() << " (set VELMORA_DATA_DIR to use it)";    \
    } while (0)
