#pragma once
// Helpers for tests of the velmora tool's commands: a scratch folder per test,
// running a command line in process, and template buffers from plain vectors.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Commands.h"
#include "ExitCodes.h"
#include "Json.h"
#include "TemplateFile.h"
#include "common/ByteOrder.h"

namespace velmora_test {

class ToolTempDir {
public:
    ToolTempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = std::filesystem::temp_directory_path() /
                 ("velmora_tool_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                  std::to_string(::getpid()));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~ToolTempDir() { std::filesystem::remove_all(m_path); }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

inline ToolRun RunVelmora(std::vector<std::string> args)
{
    args.insert(args.begin(), "velmora");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = velmora_cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return {code, out.str(), err.str()};
}

// Whether `text` holds `part`, showing the text when it does not.
inline ::testing::AssertionResult Has(const std::string& text, const std::string& part)
{
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "'" << part << "' not in: " << text;
}

// A command line that must end with `code`.
inline ToolRun Tool(const std::vector<std::string>& args, int code = velmora_cli::kExitOk)
{
    ToolRun r = RunVelmora(args);
    EXPECT_EQ(r.code, code) << ::testing::PrintToString(args) << "\n" << r.err;
    return r;
}

// Its --json output, parsed.
inline velmora_cli::JsonValue ToolJson(std::vector<std::string> args, int code = velmora_cli::kExitOk)
{
    args.push_back("--json");
    return velmora_cli::JsonValue::Parse(Tool(args, code).out);
}

inline velmora_cli::TemplateBuffer TemplateOf(const std::vector<std::vector<double>>& vectors)
{
    velmora_cli::TemplateBuffer t(8 + 8 * vectors.size() * vectors.at(0).size());
    WriteInt32LE(t.data(), static_cast<int32_t>(vectors.size()));
    WriteInt32LE(t.data() + 4, static_cast<int32_t>(vectors[0].size()));
    size_t offset = 8;
    for (const auto& v : vectors)
        for (double x : v) {
            WriteDoubleLE(t.data() + offset, x);
            offset += 8;
        }
    return t;
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace velmora_test
