// The velmora command-line tool: its building blocks and its commands, run in
// process through RunCli, plus one run of the real executable.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Commands.h"
#include "Dataset.h"
#include "ExitCodes.h"
#include "Json.h"
#include "ModelFiles.h"
#include "ProgressBar.h"
#include "SampleFile.h"
#include "StdoutRedirect.h"
#include "TemplateFile.h"
#include "common/ByteOrder.h"

namespace fs = std::filesystem;
using namespace velmora_cli;

namespace {

// A fresh folder for one test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = fs::temp_directory_path() /
                 ("velmora_cli_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                  std::to_string(::getpid()));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

struct RunResult {
    int code;
    std::string out;
    std::string err;
};

RunResult RunTool(std::vector<std::string> args)
{
    args.insert(args.begin(), "velmora");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = RunCli(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return {code, out.str(), err.str()};
}

TemplateBuffer MakeTemplate(const std::vector<std::vector<double>>& vectors)
{
    TemplateBuffer t(8 + 8 * vectors.size() * vectors.at(0).size());
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

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

// ---------------------------------------------------------------- JSON

TEST(CliJson, WrittenDocumentParsesBack)
{
    std::ostringstream text;
    JsonWriter w(text);
    w.BeginObject();
    w.Key("name").String("a \"quoted\"\\path\n\x01");
    w.Key("score").Number(0.1 + 0.2);
    w.Key("nan").Number(std::numeric_limits<double>::quiet_NaN());
    w.Key("count").Integer(-42);
    w.Key("list").BeginArray().Bool(true).Null().BeginArray().EndArray().BeginObject().EndObject().EndArray();
    w.EndObject();
    EXPECT_TRUE(w.Complete());

    const JsonValue doc = JsonValue::Parse(text.str());
    EXPECT_EQ(doc.Find("name")->AsString(), "a \"quoted\"\\path\n\x01");
    EXPECT_EQ(doc.Find("score")->AsNumber(), 0.1 + 0.2); // 17 digits read back exactly
    EXPECT_TRUE(doc.Find("nan")->IsNull());
    EXPECT_EQ(doc.Find("count")->AsNumber(), -42.0);
    const auto& list = doc.Find("list")->AsArray();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_TRUE(list[0].AsBool());
    EXPECT_TRUE(list[1].IsNull());
    EXPECT_TRUE(list[2].AsArray().empty());
    EXPECT_TRUE(list[3].AsObject().empty());
    EXPECT_EQ(doc.Find("missing"), nullptr);
}

TEST(CliJson, WriterRefusesMisuse)
{
    std::ostringstream text;
    JsonWriter w(text);
    w.BeginObject();
    EXPECT_THROW(w.String("value without key"), std::logic_error);
    EXPECT_THROW(w.EndArray(), std::logic_error);
    w.EndObject();
    EXPECT_THROW(w.BeginObject(), std::logic_error); // one document only
}

TEST(CliJson, ParserHandlesEscapesAndNumbers)
{
    const JsonValue v = JsonValue::Parse(" [\"\\u00e9\\ud83d\\ude00\\/\", -0.5e2, 0, 1E+1 ] ");
    const auto& a = v.AsArray();
    EXPECT_EQ(a[0].AsString(), "\xc3\xa9\xf0\x9f\x98\x80/");
    EXPECT_EQ(a[1].AsNumber(), -50.0);
    EXPECT_EQ(a[2].AsNumber(), 0.0);
    EXPECT_EQ(a[3].AsNumber(), 10.0);
}

TEST(CliJson, ParserRejectsMalformedText)
{
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "{\"a\":1,}", "\"open", "01", "1.", "-", "tru",
                            "[1] 2", "{1:2}", "\"\\x\"", "\"\\ud800\\u0041\"", "\"tab\there\""})
        EXPECT_THROW(JsonValue::Parse(bad), std::runtime_error) << bad;
    // Hostile nesting is refused, not followed down the stack.
    EXPECT_THROW(JsonValue::Parse(std::string(100000, '[')), std::runtime_error);
    EXPECT_THROW(JsonValue::Parse("1").AsString(), std::runtime_error);
}

// ---------------------------------------------------------------- progress bar

TEST(CliProgress, RenderShowsShareAndCounts)
{
    const std::string half = ProgressBar::Render(5, 10, "faces", 10.0, 10);
    EXPECT_EQ(half, "faces [#####.....] 5/10  50% 10s left");
    EXPECT_EQ(ProgressBar::Render(0, 4, "x", 0.0, 4), "x [....] 0/4   0% 0s left");
    // Counts beyond the total are shown as the total.
    EXPECT_EQ(ProgressBar::Render(7, 4, "x", 2.0, 4), "x [####] 4/4 100% 0s left");
}

TEST(CliProgress, DrawsOnlyWhenEnabled)
{
    std::ostringstream quiet, shown;
    {
        ProgressBar off(quiet, false, 3, "work");
        off.Update(1);
        off.Update(3);
    }
    EXPECT_TRUE(quiet.str().empty());
    {
        ProgressBar on(shown, true, 3, "work");
        on.Update(3);
    }
    EXPECT_NE(shown.str().find("3/3"), std::string::npos);
    EXPECT_EQ(shown.str().rfind("\r\033[K"), shown.str().size() - 4); // line cleared at the end
}

// ---------------------------------------------------------------- files

TEST(CliTemplateFile, RecognisesOnlyExactBuffers)
{
    const TemplateBuffer t = MakeTemplate({{1.0, 2.0, 3.0}});
    EXPECT_TRUE(LooksLikeTemplate(t));
    TemplateBuffer shorter(t.begin(), t.end() - 1);
    EXPECT_FALSE(LooksLikeTemplate(shorter));
    TemplateBuffer longer = t;
    longer.push_back(0);
    EXPECT_FALSE(LooksLikeTemplate(longer));
    TemplateBuffer zeroCount = t;
    WriteInt32LE(zeroCount.data(), 0);
    EXPECT_FALSE(LooksLikeTemplate(zeroCount));
    TemplateBuffer huge = t;
    WriteInt32LE(huge.data(), INT32_MAX);
    WriteInt32LE(huge.data() + 4, INT32_MAX);
    EXPECT_FALSE(LooksLikeTemplate(huge));
    EXPECT_FALSE(LooksLikeTemplate(TemplateBuffer(7)));
}

TEST(CliTemplateFile, JoinKeepsVectorsInOrder)
{
    const TemplateBuffer joined = JoinTemplates({MakeTemplate({{1, 2}}), MakeTemplate({{3, 4}, {5, 6}})});
    EXPECT_EQ(joined, MakeTemplate({{1, 2}, {3, 4}, {5, 6}}));
    EXPECT_THROW(JoinTemplates({MakeTemplate({{1, 2}}), MakeTemplate({{1, 2, 3}})}), CliError);
    EXPECT_THROW(JoinTemplates({}), CliError);
}

TEST(CliTemplateFile, ReadWriteAndErrors)
{
    TempDir dir;
    const TemplateBuffer t = MakeTemplate({{0.25, -1.5}});
    WriteTemplateFile(dir / "t.tpl", t);
    EXPECT_EQ(ReadTemplateFile(dir / "t.tpl"), t);
    EXPECT_TRUE(IsTemplateFile(dir / "t.tpl"));
    WriteBytes(dir / "junk", "not a template at all");
    EXPECT_FALSE(IsTemplateFile(dir / "junk"));
    try {
        ReadTemplateFile(dir / "junk");
        FAIL();
    } catch (const CliError& e) {
        EXPECT_EQ(e.code(), kExitInput);
    }
    try {
        ReadTemplateFile(dir / "absent");
        FAIL();
    } catch (const CliError& e) {
        EXPECT_EQ(e.code(), kExitInput);
        EXPECT_NE(std::string(e.what()).find("file not found"), std::string::npos);
    }
    EXPECT_THROW(WriteTemplateFile(dir / "no/such/folder/t.tpl", t), CliError);
}

TEST(CliSampleFile, FeatureBytesRoundAndClamp)
{
    const double features[] = {0.0, 0.49, 0.5, 1.5, 254.49, 254.5, 255.49, 255.5, 1e9, -0.4, -0.6,
                               std::numeric_limits<double>::quiet_NaN()};
    const unsigned char expected[] = {0, 0, 1, 2, 254, 255, 255, 255, 255, 0, 0, 0};
    unsigned char bytes[12];
    // 255.5, 1e9, -0.6 and NaN fall outside 0..255 once rounded.
    EXPECT_EQ(FeaturesToBytes(features, 12, bytes), 4);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(bytes[i], expected[i]) << "value " << features[i];
}

TEST(CliSampleFile, LayoutIsHeaderThenClassRecords)
{
    TempDir dir;
    {
        SampleFileWriter writer(dir / "s.bin", 3, 1);
        writer.AddClass({1, 2, 3, 4, 5, 6});
        writer.AddClass({7, 8, 9});
        EXPECT_THROW(writer.AddClass({1, 2}), CliError); // not a whole sample
        EXPECT_THROW(writer.AddClass({}), CliError);
        writer.Finish();
        EXPECT_EQ(writer.sampleCount(), 3);
        EXPECT_EQ(writer.classCount(), 2);
    }
    const std::string bytes = ReadBytes(dir / "s.bin");
    ASSERT_EQ(bytes.size(), 16u + 4 * 2 + 3 * 3);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    EXPECT_EQ(ReadInt32LE(p), 3);
    EXPECT_EQ(ReadInt32LE(p + 4), 1);
    EXPECT_EQ(ReadInt32LE(p + 8), 3);
    EXPECT_EQ(ReadInt32LE(p + 12), 2);
    EXPECT_EQ(ReadInt32LE(p + 16), 2);
    EXPECT_EQ(p[20], 1);
    EXPECT_EQ(p[25], 6);
    EXPECT_EQ(ReadInt32LE(p + 26), 1);
    EXPECT_EQ(p[30], 7);
    EXPECT_THROW(SampleFileWriter(dir / "no/such/dir/s.bin", 3, 1), CliError);
}

TEST(CliModelFiles, ExplicitPathAndCalibration)
{
    TempDir dir;
    try {
        ResolveModelPath(dir / "absent.model");
        FAIL();
    } catch (const CliError& e) {
        EXPECT_EQ(e.code(), kExitModel);
    }
    WriteBytes(dir / "m.model", "x");
    EXPECT_EQ(ResolveModelPath(dir / "m.model"), dir / "m.model");
    EXPECT_FALSE(ReadCalibration(dir / "m.model").has_value());
    WriteBytes(dir / "m.model.json", "{\"threshold\": 0.625, \"pairs\": 600}");
    const auto c = ReadCalibration(dir / "m.model");
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->threshold, 0.625);
    WriteBytes(dir / "m.model.json", "{\"threshold\": \"high\"}");
    EXPECT_THROW(ReadCalibration(dir / "m.model"), CliError);
}

TEST(CliModelFiles, EnvironmentComesFirst)
{
    TempDir dir;
    WriteBytes(dir / "env.model", "x");
    ::setenv("VELMORA_MODEL", (dir / "env.model").c_str(), 1);
    EXPECT_EQ(ResolveModelPath(""), dir / "env.model");
    EXPECT_EQ(DefaultModelCandidates().front(), dir / "env.model");
    ::unsetenv("VELMORA_MODEL");
}

TEST(CliEyes, ParsesFourIntegers)
{
    const EyePair e = ParseEyes("10,20, 30 ,-4");
    EXPECT_EQ(e.leftX, 10);
    EXPECT_EQ(e.leftY, 20);
    EXPECT_EQ(e.rightX, 30);
    EXPECT_EQ(e.rightY, -4);
    for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1;2;3;4", "a,b,c,d", "1,2,3,4x", "1.5,2,3,4"})
        EXPECT_THROW(ParseEyes(bad), CliError) << bad;
}

TEST(CliDataset, PeopleAreSortedFoldersWithImages)
{
    TempDir dir;
    fs::create_directories(dir.path() / "Zoe");
    fs::create_directories(dir.path() / "Adam");
    fs::create_directories(dir.path() / "Empty");
    fs::create_directories(dir.path() / "Left_Out");
    WriteBytes(dir / "Zoe/b.PNG", "x");
    WriteBytes(dir / "Zoe/a.jpg", "x");
    WriteBytes(dir / "Zoe/notes.txt", "x");
    WriteBytes(dir / "Adam/1.pgm", "x");
    WriteBytes(dir / "Left_Out/1.pgm", "x");
    WriteBytes(dir / "Empty/readme", "x");
    WriteBytes(dir / "loose.jpg", "x"); // not in a person folder
    WriteBytes(dir / "exclude.txt", "# people to skip\n\nLeft_Out \r\n");

    const std::vector<Person> people = ListDataset(dir.path().string(), ReadNameList(dir / "exclude.txt"));
    ASSERT_EQ(people.size(), 2u);
    EXPECT_EQ(people[0].name, "Adam");
    EXPECT_EQ(people[1].name, "Zoe");
    ASSERT_EQ(people[1].images.size(), 2u);
    EXPECT_EQ(fs::path(people[1].images[0]).filename(), "a.jpg");
    EXPECT_EQ(fs::path(people[1].images[1]).filename(), "b.PNG");

    EXPECT_THROW(ListDataset(dir / "absent", {}), CliError);
    EXPECT_THROW(ReadNameList(dir / "absent.txt"), CliError);
}

TEST(CliStdoutRedirect, CountersLeaveStdoutAlone)
{
    TempDir dir;
    // Point stdout at a file, print through the redirect, and see what arrived.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    FILE* file = std::fopen((dir / "stdout").c_str(), "w");
    ASSERT_NE(file, nullptr);
    dup2(fileno(file), STDOUT_FILENO);
    std::printf("before ");
    {
        const StdoutRedirect quiet(false);
        std::printf("\rloop1 times: 7   ");
    }
    std::printf("after");
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::fclose(file);
    EXPECT_EQ(ReadBytes(dir / "stdout"), "before after");
}

// ---------------------------------------------------------------- commands

TEST(CliArguments, UsageErrorsExitWithTwo)
{
    RunResult r = RunTool({});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.out.find("compare"), std::string::npos); // the overview is shown

    r = RunTool({"frobnicate"});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_FALSE(r.err.empty());

    r = RunTool({"compare", "only-one"});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("B"), std::string::npos);

    r = RunTool({"compare", "a", "b", "--mode", "median"});
    EXPECT_EQ(r.code, kExitUsage);
    r = RunTool({"compare", "a", "b", "--threshold", "1.5"});
    EXPECT_EQ(r.code, kExitUsage);
    r = RunTool({"compare", "a", "b", "--no-such-option"});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_TRUE(r.out.empty());
}

TEST(CliArguments, HelpOnEveryCommandExitsWithZero)
{
    RunResult r = RunTool({"--help"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_NE(r.out.find("Exit codes"), std::string::npos);
    for (const char* command : {"compare"}) {
        r = RunTool({command, "--help"});
        EXPECT_EQ(r.code, kExitOk) << command;
        EXPECT_NE(r.out.find("Usage: velmora " + std::string(command)), std::string::npos) << r.out;
    }
}

TEST(CliCompare, TemplateFilesScoreAsMappedCosine)
{
    TempDir dir;
    WriteTemplateFile(dir / "a.tpl", MakeTemplate({{1.0, 0.0}}));
    WriteTemplateFile(dir / "b.tpl", MakeTemplate({{1.0, 1.0}}));
    // cos 45 degrees = 0.70710678; (cos + 1) / 2 = 0.85355339.
    // A model without calibration beside it: a score but no decision.
    WriteBytes(dir / "plain.model", "x");
    RunResult r = RunTool({"compare", dir / "a.tpl", dir / "b.tpl", "--model", dir / "plain.model", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_NEAR(doc.Find("score")->AsNumber(), 0.8535533905932737, 1e-15);
    EXPECT_EQ(doc.Find("mode")->AsString(), "max");
    EXPECT_EQ(doc.Find("same_person"), nullptr);

    r = RunTool({"compare", dir / "a.tpl", dir / "b.tpl", "--threshold", "0.9"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("score 0.853553"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("different people"), std::string::npos) << r.out;

    r = RunTool({"compare", dir / "a.tpl", dir / "b.tpl", "--threshold", "0.8", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(JsonValue::Parse(r.out).Find("same_person")->AsBool());
}

TEST(CliCompare, ModesDifferOnSeveralVectors)
{
    TempDir dir;
    // Gallery of two vectors; the query lies on the line through them beyond both.
    WriteTemplateFile(dir / "g.tpl", MakeTemplate({{1.0, 0.0, 0.0}, {1.0, 1.0, 0.0}}));
    WriteTemplateFile(dir / "q.tpl", MakeTemplate({{1.0, 3.0, 0.0}}));
    auto score = [&](const char* mode) {
        const RunResult r = RunTool({"compare", dir / "q.tpl", dir / "g.tpl", "--mode", mode, "--json"});
        EXPECT_EQ(r.code, kExitOk) << r.err;
        return JsonValue::Parse(r.out).Find("score")->AsNumber();
    };
    const double q = std::sqrt(10.0);
    EXPECT_NEAR(score("max"), (4.0 / (q * std::sqrt(2.0)) + 1.0) * 0.5, 1e-12);
    EXPECT_NEAR(score("mean"), ((1.0 + 1.5) / (q * std::sqrt(1.25)) + 1.0) * 0.5, 1e-12);
    EXPECT_NEAR(score("line"), 1.0, 1e-12);
}

TEST(CliCompare, FileProblemsAreReportedInPlainWords)
{
    TempDir dir;
    WriteTemplateFile(dir / "a.tpl", MakeTemplate({{1.0, 0.0}}));
    WriteTemplateFile(dir / "c.tpl", MakeTemplate({{1.0, 0.0, 1.0}}));
    RunResult r = RunTool({"compare", dir / "a.tpl", dir / "missing.tpl"});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("file not found: " + (dir / "missing.tpl")), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());

    r = RunTool({"compare", dir / "a.tpl", dir / "a.tpl", "--model", dir / "absent.model"});
    EXPECT_EQ(r.code, kExitModel);
    EXPECT_NE(r.err.find("model file not found"), std::string::npos) << r.err;

    r = RunTool({"compare", dir / "a.tpl", dir / "c.tpl", "--threshold", "0.5"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("dimension"), std::string::npos) << r.err;
}

TEST(CliExecutable, ExitCodeAndStreamsOfTheRealTool)
{
    TempDir dir;
    const std::string command = std::string(VELMORA_TOOL_PATH) + " compare " + (dir / "x") + " " + (dir / "y") +
                                " >" + (dir / "out") + " 2>" + (dir / "err");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kExitInput);
    EXPECT_TRUE(ReadBytes(dir / "out").empty());
    EXPECT_EQ(ReadBytes(dir / "err"), "velmora: file not found: " + (dir / "x") + "\n");
}
