#pragma once
// Runs the velmora tool's command lines in process.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Commands.h"
#include "ExitCodes.h"
#include "Json.h"
#include "TemplateFile.h"
#include "support/HandModel.h"

namespace velmora_test {

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

// The run ended with this exit code and, on failure, said why in an error text holding the words.
inline ::testing::AssertionResult Exits(const ToolRun& r, int code, const std::string& words = "")
{
    if (r.code == code && r.err.find(words) != std::string::npos && (code == 0 || !r.err.empty()))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit code " << r.code << ", error text: " << r.err;
}

// The action throws a CliError with this exit code and a message holding the part.
template <class Action>
::testing::AssertionResult Fails(Action action, int code, const std::string& part = "")
{
    try {
        action();
    } catch (const velmora_cli::CliError& e) {
        if (e.code() == code && std::string(e.what()).find(part) != std::string::npos)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "exit code " << e.code() << ": " << e.what();
    }
    return ::testing::AssertionFailure() << "no error";
}

// A command line that must end with `code`.
inline ToolRun Tool(const std::vector<std::string>& args, int code = velmora_cli::kExitOk)
{
    ToolRun r = RunVelmora(args);
    EXPECT_EQ(r.code, code) << ::testing::PrintToString(args) << "\n" << r.err;
    return r;
}

// Its --json output, parsed.
inline velmora_cli::Json ToolJson(std::vector<std::string> args, int code = velmora_cli::kExitOk)
{
    args.push_back("--json");
    return velmora_cli::Json::parse(Tool(args, code).out);
}

} // namespace velmora_test
