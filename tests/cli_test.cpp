// The velmora command-line tool: its building blocks and its commands, run in
// process through RunCli, plus one run of the real executable.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "Commands.h"
#include "Dataset.h"
#include "ExitCodes.h"
#include "Json.h"
#include "ModelFiles.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "SampleFile.h"
#include "StdoutRedirect.h"
#include "TemplateFile.h"
#include "Training.h"
#include "common/ByteOrder.h"
#include "support/SyntheticPeople.h"
#include "lda/IncrementalData.h"
#include "lda/IncreaseStatistics.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"
#include "support/TestData.h"

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
    EXPECT_EQ(DefaultModelCandidates(), std::vector<std::string>{dir / "env.model"});
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
    for (const char* command : {"detect", "cut", "template", "compare", "samples", "train", "stats", "increase"}) {
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

// ---------------------------------------------------------------- face commands

namespace {

using velmora_test::kSynthEyes;
using velmora_test::SyntheticPhoto;

GreyImage Uniform(int width, int height, unsigned char level)
{
    GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(width) * height, level);
    return image;
}

} // namespace

TEST(CliDetect, ImageWithoutFaceExitsWithFour)
{
    TempDir dir;
    SaveGreyImage(dir / "blank.png", Uniform(200, 160, 128));
    RunResult r = RunTool({"detect", dir / "blank.png", "--json"});
    EXPECT_EQ(r.code, kExitNoFace);
    EXPECT_NE(r.err.find("no face found in " + (dir / "blank.png")), std::string::npos) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out); // the result is still reported
    ASSERT_EQ(doc.Find("images")->AsArray().size(), 1u);
    const JsonValue& image = doc.Find("images")->AsArray()[0];
    EXPECT_EQ(image.Find("width")->AsNumber(), 200);
    EXPECT_EQ(image.Find("height")->AsNumber(), 160);
    EXPECT_TRUE(image.Find("faces")->AsArray().empty());

    r = RunTool({"detect", dir / "blank.png", dir / "absent.jpg"});
    EXPECT_EQ(r.code, kExitInput);
    r = RunTool({"detect", dir / "blank.png", dir / "blank.png", "--draw", dir / "marked.png"});
    EXPECT_EQ(r.code, kExitUsage);
    WriteBytes(dir / "fake.jpg", "this is text, not a JPEG");
    r = RunTool({"detect", dir / "fake.jpg"});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("cannot read an image"), std::string::npos) << r.err;
}

TEST(CliDetect, FindsTheEyesOfRealFaces)
{
    VELMORA_REQUIRE_DATA("bioid");
    TempDir dir;
    const fs::path bioid = velmora_test::DataDir() / "bioid";
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(bioid))
        if (entry.path().extension() == ".pgm")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    names.resize(std::min<size_t>(names.size(), 10));
    ASSERT_EQ(names.size(), 10u);
    int found = 0, close = 0;
    for (const std::string& name : names) {
        const RunResult r = RunTool({"detect", (bioid / (std::string(name) + ".pgm")).string(), "--json"});
        if (r.code != kExitOk)
            continue;
        ++found;
        // The person's left eye is on the image's right: truth "LX LY RX RY" person-wise.
        std::ifstream eyeFile(bioid / (std::string(name) + ".eye"));
        std::string comment;
        std::getline(eyeFile, comment);
        double plx, ply, prx, pry;
        eyeFile >> plx >> ply >> prx >> pry;
        const JsonValue doc = JsonValue::Parse(r.out);
        const JsonValue& face = doc.Find("images")->AsArray()[0].Find("faces")->AsArray()[0];
        const double lx = face.Find("left_eye")->Find("x")->AsNumber(), ly = face.Find("left_eye")->Find("y")->AsNumber();
        const double rx = face.Find("right_eye")->Find("x")->AsNumber(), ry = face.Find("right_eye")->Find("y")->AsNumber();
        const double d = std::hypot(plx - prx, ply - pry);
        const double e = std::max(std::hypot(lx - prx, ly - pry), std::hypot(rx - plx, ry - ply)) / d;
        if (e <= 0.25)
            ++close;
    }
    // A coarse check of the wiring (image's left eye first); accuracy is the detector's own business.
    EXPECT_GE(found, 8);
    EXPECT_GE(close, found - 1);

    const std::string image = (bioid / (names[0] + ".pgm")).string();
    const RunResult r = RunTool({"detect", image, "--draw", dir / "marked.png"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const cv::Mat marked = cv::imread(dir / "marked.png", cv::IMREAD_COLOR);
    EXPECT_EQ(marked.cols, 384);
    EXPECT_EQ(marked.rows, 286);
}

TEST(CliCut, NormalisedAndDisplayFaces)
{
    TempDir dir;
    SaveGreyImage(dir / "face.png", SyntheticPhoto(3, 0));
    RunResult r = RunTool({"cut", dir / "face.png", "-o", dir / "norm.png", "--eyes", kSynthEyes, "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("kind")->AsString(), "normalised");
    EXPECT_TRUE(doc.Find("eyes_given")->AsBool());
    const GreyImage norm = LoadGreyImage(dir / "norm.png");
    ASSERT_EQ(norm.width, 64);
    ASSERT_EQ(norm.height, 64);

    // The tool's face is the library's face for the template mask, byte for byte.
    GreyImage input = SyntheticPhoto(3, 0);
    Recognizer recognizer(std::cerr);
    recognizer.PrepareWithoutModel();
    CVelmora velmora;
    std::vector<unsigned char> expected(4096);
    ASSERT_EQ(velmora.GetNormFace(input.data(), input.width, input.height, CPoint(30, 44), CPoint(66, 44),
                                  expected.data()),
              GF_OK);
    EXPECT_EQ(norm.pixels, expected);

    r = RunTool({"cut", dir / "face.png", "-o", dir / "display.pgm", "--eyes", kSynthEyes, "--display", "46"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const GreyImage display = LoadGreyImage(dir / "display.pgm");
    EXPECT_EQ(display.width, 46);
    EXPECT_EQ(display.height, 56);

    r = RunTool({"cut", dir / "face.png", "-o", dir / "x.png", "--eyes", "30,44,32,44"});
    EXPECT_EQ(r.code, kExitUsage); // eyes 2 pixels apart
    r = RunTool({"cut", dir / "face.png", "-o", dir / "x.png", "--eyes", "30,44"});
    EXPECT_EQ(r.code, kExitUsage);
    r = RunTool({"cut", dir / "face.png", "-o", dir / "x.png", "--eyes", kSynthEyes, "--display", "0"});
    EXPECT_EQ(r.code, kExitUsage);
    r = RunTool({"cut", dir / "face.png", "-o", dir / "no/folder/x.png", "--eyes", kSynthEyes});
    EXPECT_EQ(r.code, kExitInput);
    SaveGreyImage(dir / "blank.png", Uniform(120, 120, 90));
    r = RunTool({"cut", dir / "blank.png", "-o", dir / "x.png"});
    EXPECT_EQ(r.code, kExitNoFace);
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}

TEST(CliCut, BatchWritesEachFaceAsASingleCutWould)
{
    TempDir dir;
    SaveGreyImage(dir / "a.png", SyntheticPhoto(1, 0));
    SaveGreyImage(dir / "b.png", SyntheticPhoto(2, 1));
    fs::create_directories(dir / "other");
    SaveGreyImage(dir / "other/a.png", SyntheticPhoto(3, 2)); // same file name as the first
    const std::vector<std::string> eyes = {"30,44,66,44", "31,45,65,43", "29,44,67,46"};

    // --eyes before the images: each occurrence takes one value, not the image paths after it.
    RunResult r = RunTool({"cut", "--eyes", eyes[0], "--eyes", eyes[1], "--eyes", eyes[2], dir / "a.png",
                           dir / "b.png", dir / "other/a.png", "-o", dir / "faces", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out);
    const std::vector<JsonValue>& faces = doc.Find("faces")->AsArray();
    ASSERT_EQ(faces.size(), 3u);
    const std::vector<std::string> inputs = {"a.png", "b.png", "other/a.png"};
    for (size_t i = 0; i < 3; ++i) {
        const std::string single = dir / ("single" + std::to_string(i) + ".png");
        ASSERT_EQ(RunTool({"cut", dir / inputs[i], "-o", single, "--eyes", eyes[i]}).code, kExitOk);
        const std::string output = faces[i].Find("output")->AsString();
        EXPECT_EQ(faces[i].Find("image")->AsString(), dir / inputs[i]);
        EXPECT_EQ(fs::path(output).parent_path(), fs::path(dir / "faces"));
        EXPECT_EQ(LoadGreyImage(output).pixels, LoadGreyImage(single).pixels) << output;
    }
    EXPECT_NE(faces[0].Find("output")->AsString(), faces[2].Find("output")->AsString());
    EXPECT_EQ(faces[1].Find("right_eye")->Find("y")->AsNumber(), 43);

    // One --eyes serves every image.
    r = RunTool({"cut", dir / "a.png", dir / "b.png", "-o", dir / "same", "--eyes", eyes[1], "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const JsonValue same = JsonValue::Parse(r.out);
    for (const JsonValue& face : same.Find("faces")->AsArray())
        EXPECT_EQ(face.Find("left_eye")->Find("x")->AsNumber(), 31);

    r = RunTool({"cut", dir / "a.png", dir / "b.png", dir / "other/a.png", "-o", dir / "x", "--eyes", eyes[0],
                 "--eyes", eyes[1]});
    EXPECT_EQ(r.code, kExitUsage) << "two eye pairs for three images";
    WriteBytes(dir / "file", "x");
    r = RunTool({"cut", dir / "a.png", dir / "b.png", "-o", dir / "file", "--eyes", eyes[0]});
    EXPECT_EQ(r.code, kExitInput) << "the output folder is a file";
}

TEST(CliCut, BatchGoesOnPastAnImageWithoutAFace)
{
    TempDir dir;
    SaveGreyImage(dir / "blank.png", Uniform(120, 120, 90));
    SaveGreyImage(dir / "blank2.png", Uniform(100, 100, 30));
    RunResult r = RunTool({"cut", dir / "blank.png", dir / "blank2.png", "-o", dir / "faces", "--json"});
    EXPECT_EQ(r.code, kExitNoFace);
    EXPECT_NE(r.err.find("no face found in 2 of 2 images"), std::string::npos) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out);
    const std::vector<JsonValue>& faces = doc.Find("faces")->AsArray();
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_TRUE(faces[0].Find("output")->IsNull());
    EXPECT_TRUE(fs::is_empty(dir / "faces"));
}

TEST(CliTemplate, MissingOrBadModel)
{
    TempDir dir;
    SaveGreyImage(dir / "face.png", SyntheticPhoto(1, 0));
    RunResult r = RunTool({"template", dir / "face.png", "-o", dir / "t.tpl", "--eyes", kSynthEyes, "--model",
                           dir / "absent.model"});
    EXPECT_EQ(r.code, kExitModel);
    EXPECT_NE(r.err.find("model file not found"), std::string::npos) << r.err;
    WriteBytes(dir / "bad.model", std::string(100, 'x'));
    r = RunTool({"template", dir / "face.png", "-o", dir / "t.tpl", "--eyes", kSynthEyes, "--model",
                 dir / "bad.model"});
    EXPECT_EQ(r.code, kExitModel);
    EXPECT_NE(r.err.find("cannot load the model"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "t.tpl"));
    ::setenv("VELMORA_MODEL", (dir / "absent.model").c_str(), 1);
    r = RunTool({"compare", dir / "face.png", dir / "face.png"});
    ::unsetenv("VELMORA_MODEL");
    EXPECT_EQ(r.code, kExitModel);
}

TEST(CliTrain, SampleFileProblems)
{
    TempDir dir;
    RunResult r = RunTool({"train", dir / "absent.samples", "-o", dir / "m.model"});
    EXPECT_EQ(r.code, kExitInput);
    WriteBytes(dir / "short.samples", "abc");
    r = RunTool({"train", dir / "short.samples", "-o", dir / "m.model"});
    EXPECT_EQ(r.code, kExitInput);
    {
        SampleFileWriter few(dir / "few.samples", 4, 1); // far fewer than 210 people
        few.AddClass({1, 2, 3, 4});
        few.Finish();
    }
    r = RunTool({"train", dir / "few.samples", "-o", dir / "m.model"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("210 people"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "m.model"));
}

// The whole road on a synthetic set of 210 people: samples -> train -> template -> compare.
TEST(CliTraining, SyntheticPeopleAreToldApart)
{
    TempDir dir;
    constexpr int kPeople = 210, kPhotos = 3;
    for (int p = 0; p < kPeople; ++p) {
        const fs::path folder = dir.path() / "set" / ("person" + std::to_string(1000 + p));
        fs::create_directories(folder);
        for (int k = 0; k < kPhotos; ++k)
            SaveGreyImage((folder / (std::to_string(k) + ".png")).string(), SyntheticPhoto(p, k));
    }
    // A person folder with one photo, left out by --min-images.
    fs::create_directories(dir.path() / "set" / "single");
    SaveGreyImage(dir / "set/single/0.png", SyntheticPhoto(999, 0));

    RunResult r = RunTool({"samples", dir / "set", "-o", dir / "s.samples", "--eyes", kSynthEyes, "--min-images",
                           "2", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("people")->AsNumber(), kPeople);
    EXPECT_EQ(doc.Find("samples")->AsNumber(), kPeople * kPhotos);
    EXPECT_EQ(doc.Find("people_left_out")->AsNumber(), 1);
    const double clampedShare = doc.Find("clamped_share")->AsNumber();
    EXPECT_GE(clampedShare, 0.0);
    EXPECT_LE(clampedShare, 1.0);
    EXPECT_EQ(fs::file_size(dir / "s.samples"), 16u + 4u * kPeople + 7840u * kPeople * kPhotos);

    r = RunTool({"train", dir / "s.samples", "-o", dir / "m.model", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("people")->AsNumber(), kPeople);
    EXPECT_GT(doc.Find("seconds")->AsNumber(), 0.0);

    // Templates of photo 0 (the gallery) and photo 2 (never the probe's own photo).
    auto makeTemplate = [&](int person, int photo) {
        const std::string image = dir / ("set/person" + std::to_string(1000 + person) + "/" + std::to_string(photo) + ".png");
        const std::string out = dir / ("t" + std::to_string(person) + "_" + std::to_string(photo) + ".tpl");
        const RunResult t = RunTool({"template", image, "-o", out, "--eyes", kSynthEyes, "--model", dir / "m.model"});
        EXPECT_EQ(t.code, kExitOk) << t.err;
        return out;
    };
    auto score = [&](const std::string& a, const std::string& b) {
        const RunResult c = RunTool({"compare", a, b, "--json", "--model", dir / "m.model"});
        EXPECT_EQ(c.code, kExitOk) << c.err;
        return JsonValue::Parse(c.out).Find("score")->AsNumber();
    };
    constexpr int kChecked = 12;
    int sameAboveDifferent = 0;
    for (int p = 0; p < kChecked; ++p) {
        const std::string gallery = makeTemplate(p, 0);
        const double same = score(gallery, makeTemplate(p, 2));
        const double different = score(gallery, makeTemplate((p + 1) % kChecked, 2));
        sameAboveDifferent += same > different ? 1 : 0;
    }
    EXPECT_GE(sameAboveDifferent, kChecked - 1);

    // A template from several photos holds one vector per photo.
    r = RunTool({"template", dir / "set/person1000/0.png", dir / "set/person1000/1.png", "-o", dir / "two.tpl",
                 "--eyes", kSynthEyes, "--model", dir / "m.model", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(JsonValue::Parse(r.out).Find("vectors")->AsNumber(), 2);
    EXPECT_EQ(fs::file_size(dir / "two.tpl"), 8u + 2u * 200u * 8u);
    for (const char* mode : {"max", "mean", "line"}) {
        r = RunTool({"compare", dir / "two.tpl", dir / "t0_2.tpl", "--mode", mode, "--json"});
        ASSERT_EQ(r.code, kExitOk) << r.err;
        const double s = JsonValue::Parse(r.out).Find("score")->AsNumber();
        EXPECT_GE(s, 0.0);
        EXPECT_LE(s, 1.0);
    }
}

// ---------------------------------------------------------------- training recipes and incremental training

namespace {

// Writes folder/person<1000 + p>/<k>.png for people [first, first + count), photos 0..photos-1.
void WriteSyntheticPeople(const fs::path& folder, int first, int count, int photos)
{
    for (int p = first; p < first + count; ++p) {
        const fs::path person = folder / ("person" + std::to_string(1000 + p));
        fs::create_directories(person);
        for (int k = 0; k < photos; ++k)
            SaveGreyImage((person / (std::to_string(k) + ".png")).string(), SyntheticPhoto(p, k));
    }
}

// Principal components used (K) and skipped (S) by a model file.
std::pair<int, int> ModelComponents(const std::string& model)
{
    Recognizer recognizer(std::cerr);
    recognizer.LoadModel(model);
    return {g_subspaceModel.m_nPCAEigenUsed, g_subspaceModel.m_nPCAEigenSkipped};
}

} // namespace

TEST(CliSampleSet, AppendedClassesAndPointers)
{
    SampleSet set;
    set.sizeA = 2;
    set.sizeB = 2;
    AppendClass(set, {1, 2, 3, 4, 5, 6, 7, 8});
    AppendClass(set, {9, 10, 11, 12});
    EXPECT_EQ(ClassCount(set), 2);
    EXPECT_EQ(set.counts, (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(set.firstSample, (std::vector<int64_t>{0, 2}));
    const std::vector<unsigned char*> pointers = SamplePointers(set);
    ASSERT_EQ(pointers.size(), 3u);
    EXPECT_EQ(pointers[1][0], 5);
    EXPECT_EQ(pointers[2][3], 12);
    EXPECT_THROW(AppendClass(set, {1, 2, 3}), CliError); // not a whole sample
    EXPECT_THROW(AppendClass(set, {}), CliError);
    EXPECT_EQ(ClassCount(set), 2);
}

// One synthetic set and its models for all the tests below: people 0..209 train,
// people 210..239 arrive later.
class CliModelTraining : public ::testing::Test {
protected:
    static constexpr int kPeople = 210;
    static constexpr int kLatePeople = 30;
    static constexpr int kPhotos = 3;

    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("velmora_cli_models_" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        WriteSyntheticPeople(s_dir / "early", 0, kPeople, kPhotos);
        WriteSyntheticPeople(s_dir / "late", kPeople, kLatePeople, kPhotos);
        WriteSyntheticPeople(s_dir / "all", 0, kPeople + kLatePeople, kPhotos);
        s_ready = RunTool({"samples", Path("early"), "-o", Path("early.samples"), "--eyes", kSynthEyes}).code ==
                      kExitOk &&
                  RunTool({"train", Path("early.samples"), "-o", Path("train.model")}).code == kExitOk;
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }
    void SetUp() override { ASSERT_TRUE(s_ready) << "the shared samples or model could not be made"; }

    static std::string Path(const std::string& name) { return (s_dir / name).string(); }

    // Score of photo 0 of person a against photo 2 of person b under a model.
    static double Score(const std::string& model, int a, int b)
    {
        const std::string photoA = Path("all/person" + std::to_string(1000 + a) + "/0.png");
        const std::string photoB = Path("all/person" + std::to_string(1000 + b) + "/2.png");
        const std::string ta = Path("a.tpl"), tb = Path("b.tpl");
        EXPECT_EQ(RunTool({"template", photoA, "-o", ta, "--eyes", kSynthEyes, "--model", model}).code, kExitOk);
        EXPECT_EQ(RunTool({"template", photoB, "-o", tb, "--eyes", kSynthEyes, "--model", model}).code, kExitOk);
        const RunResult r = RunTool({"compare", ta, tb, "--threshold", "0.5", "--json"});
        EXPECT_EQ(r.code, kExitOk) << r.err;
        return JsonValue::Parse(r.out).Find("score")->AsNumber();
    }

    static fs::path s_dir;
    static bool s_ready;
};

fs::path CliModelTraining::s_dir;
bool CliModelTraining::s_ready = false;

TEST_F(CliModelTraining, RefitIsTrainFollowedByIncreaseOnTheSameFaces)
{
    RunResult r = RunTool({"train", Path("early.samples"), "-o", Path("refit.model"), "--recipe", "refit", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("recipe")->AsString(), "refit");
    EXPECT_EQ(doc.Find("refit_dimension")->AsNumber(), 300);
    EXPECT_EQ(doc.Find("people")->AsNumber(), kPeople);

    // Train's model skips two components; the refit one works on components 0..299.
    EXPECT_EQ(ModelComponents(Path("train.model")), std::make_pair(300, 2));
    EXPECT_EQ(ModelComponents(Path("refit.model")), std::make_pair(300, 0));

    // The same refit by hand: the saved Train model, then increase on the same faces
    // without earlier statistics. The principal stage goes through the model file
    // unchanged, so the two files agree byte for byte.
    r = RunTool({"increase", Path("early.samples.faces"), "-o", Path("by-hand.model"), "--model",
                 Path("train.model")});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    // (Compared as a flag: a failed EXPECT_EQ would diff megabytes of binary text.)
    EXPECT_TRUE(ReadBytes(Path("refit.model")) == ReadBytes(Path("by-hand.model")));

    // It is a different model that still tells the people apart.
    int sameAboveDifferent = 0;
    for (int p = 0; p < 10; ++p)
        sameAboveDifferent += Score(Path("refit.model"), p, p) > Score(Path("refit.model"), p, p + 1) ? 1 : 0;
    EXPECT_GE(sameAboveDifferent, 9);
    EXPECT_NE(Score(Path("refit.model"), 0, 1), Score(Path("train.model"), 0, 1));

    r = RunTool({"train", Path("early.samples"), "-o", Path("small.model"), "--recipe", "refit", "--refit-dim",
                 "250"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(ModelComponents(Path("small.model")), std::make_pair(250, 0));
}

TEST_F(CliModelTraining, RefitArgumentErrors)
{
    // Faces of other people than the samples'.
    {
        SampleFileWriter faces(Path("few.faces"), 64, 64);
        faces.AddClass(std::vector<unsigned char>(4096, 7));
        faces.Finish();
    }
    RunResult r = RunTool({"train", Path("early.samples"), "-o", Path("x.model"), "--recipe", "refit", "--faces",
                           Path("few.faces")});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("do not belong to the samples"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("x.model")));
    // The samples themselves are no face file.
    r = RunTool({"train", Path("early.samples"), "-o", Path("x.model"), "--recipe", "refit", "--faces",
                 Path("early.samples")});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("not 64 x 64 faces"), std::string::npos) << r.err;
    r = RunTool({"train", Path("early.samples"), "-o", Path("x.model"), "--recipe", "refit", "--faces",
                 Path("absent.faces")});
    EXPECT_EQ(r.code, kExitInput);
    r = RunTool({"train", Path("early.samples"), "-o", Path("x.model"), "--recipe", "refit", "--refit-dim", "301"});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("exceeds the 300 components"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("x.model")));
    r = RunTool({"train", Path("early.samples"), "-o", Path("x.model"), "--recipe", "again"});
    EXPECT_EQ(r.code, kExitUsage);
    r = RunTool({"train", Path("early.samples"), "-o", Path("x.model"), "--faces", Path("early.samples.faces")});
    EXPECT_EQ(r.code, kExitUsage); // faces without the refit recipe

    // Leaving out one of exactly 210 people, by the name the sample file gives it.
    const std::string first = ReadNameLines(NamesPathFor(Path("early.samples"))).at(0);
    std::ofstream(Path("leave.txt")) << "# held out\n" << first << "\nnobody_here\n";
    r = RunTool({"train", Path("early.samples"), "-o", Path("x.model"), "--exclude", Path("leave.txt")});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("holds 209 once the excluded are left out"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("x.model")));
}

TEST_F(CliModelTraining, FaceFileHonoursThePeopleAndPhotoChoices)
{
    // A held-out person must stay out whether the faces come from photos or from a face file.
    const std::string first = ReadNameLines(NamesPathFor(Path("early.samples"))).at(0);
    std::ofstream(Path("leave-first.txt")) << first << "\n";
    auto stats = [](const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"stats", Path("early.samples.faces"), "-o", Path("chosen.inc"), "--model",
                                         Path("train.model"), "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunTool(args);
    };
    RunResult r = stats({"--exclude", Path("leave-first.txt")});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(JsonValue::Parse(r.out).Find("people")->AsNumber(), kPeople - 1);
    EXPECT_EQ(JsonValue::Parse(r.out).Find("faces")->AsNumber(), (kPeople - 1) * kPhotos);

    r = stats({"--max-per-person", "2"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(JsonValue::Parse(r.out).Find("faces")->AsNumber(), kPeople * 2);

    r = stats({"--min-images", std::to_string(kPhotos + 1)});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("no person of the face file"), std::string::npos) << r.err;

    // Names are needed to exclude anyone: a face file without its names file is refused.
    fs::copy_file(Path("early.samples.faces"), Path("nameless.faces"), fs::copy_options::overwrite_existing);
    r = RunTool({"stats", Path("nameless.faces"), "-o", Path("chosen.inc"), "--model", Path("train.model"),
                 "--exclude", Path("leave-first.txt")});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("nameless.names"), std::string::npos) << r.err;
}

TEST_F(CliModelTraining, StatisticsOfEarlyPeoplePlusLatePeopleEqualOneTraining)
{
    // Statistics of the early people, then the late people on top of them ...
    RunResult r = RunTool({"stats", Path("early.samples.faces"), "-o", Path("early.inc"), "--model",
                           Path("train.model"), "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("people")->AsNumber(), kPeople);
    EXPECT_EQ(doc.Find("faces")->AsNumber(), kPeople * kPhotos);
    EXPECT_EQ(doc.Find("dimension")->AsNumber(), 300);
    EXPECT_EQ(fs::file_size(Path("early.inc")), IncreaseFileSize(kPeople, 300));

    r = RunTool({"increase", Path("late"), "-o", Path("increased.model"), "--model", Path("train.model"), "--stats",
                 Path("early.inc"), "--eyes", kSynthEyes, "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("people")->AsNumber(), kLatePeople);
    EXPECT_EQ(doc.Find("earlier_people")->AsNumber(), kPeople);
    EXPECT_EQ(ModelComponents(Path("increased.model")), std::make_pair(300, 0));

    // ... give the model that all people's faces at once give.
    r = RunTool({"increase", Path("all"), "-o", Path("at-once.model"), "--model", Path("train.model"), "--eyes",
                 kSynthEyes});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    for (const auto& [a, b] : {std::pair{0, 0}, {3, 4}, {215, 215}, {220, 7}, {239, 238}})
        EXPECT_NEAR(Score(Path("increased.model"), a, b), Score(Path("at-once.model"), a, b), 1e-9) << a << " " << b;
    // A late person is now told from the others.
    EXPECT_GT(Score(Path("increased.model"), 225, 225), Score(Path("increased.model"), 225, 226));

    // Appending the late people's statistics to the early ones' equals one file of all.
    r = RunTool({"stats", Path("late"), "-o", Path("both.inc"), "--append", Path("early.inc"), "--model",
                 Path("train.model"), "--eyes", kSynthEyes});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    r = RunTool({"stats", Path("all"), "-o", Path("all.inc"), "--model", Path("train.model"), "--eyes", kSynthEyes});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    CIncreaseStatistics both, all;
    ASSERT_TRUE(both.Load(Path("both.inc").c_str()));
    ASSERT_TRUE(all.Load(Path("all.inc").c_str()));
    ASSERT_EQ(both.GetClassNum(), kPeople + kLatePeople);
    ASSERT_EQ(all.GetClassNum(), kPeople + kLatePeople);
    for (int c = 0; c < both.GetClassNum(); c += 37) {
        EXPECT_EQ(both.GetClassSampNum(c), kPhotos);
        EXPECT_EQ(both.GetClassMean(c), all.GetClassMean(c)) << c; // the same faces, the same arithmetic
    }
    const std::vector<double>& s1 = both.GetScatter();
    const std::vector<double>& s2 = all.GetScatter();
    double largest = 0.0, difference = 0.0;
    for (size_t i = 0; i < s1.size(); ++i) {
        largest = std::max(largest, std::fabs(s2[i]));
        difference = std::max(difference, std::fabs(s1[i] - s2[i]));
    }
    EXPECT_LE(difference, 1e-12 * largest);
}

TEST_F(CliModelTraining, StatsAndIncreaseErrorsInPlainWords)
{
    ::setenv("VELMORA_MODEL", Path("absent.model").c_str(), 1);
    RunResult r = RunTool({"stats", Path("early.samples.faces"), "-o", Path("x.inc")});
    ::unsetenv("VELMORA_MODEL");
    EXPECT_EQ(r.code, kExitModel);
    EXPECT_NE(r.err.find("no model found"), std::string::npos) << r.err;

    r = RunTool({"stats", Path("early.samples"), "-o", Path("x.inc"), "--model", Path("train.model")});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("not 64 x 64 faces"), std::string::npos) << r.err;
    r = RunTool({"stats", Path("early.samples.faces"), "-o", Path("x.inc"), "--model", Path("train.model"), "--dim",
                 "301"});
    EXPECT_EQ(r.code, kExitUsage);
    r = RunTool({"stats", Path("early.samples.faces"), "-o", Path("x.inc"), "--model", Path("train.model"),
                 "--append", Path("early.samples")});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("not an incremental data file"), std::string::npos) << r.err;
    r = RunTool({"stats", Path("early.samples.faces"), "-o", Path("no/folder/x.inc"), "--model", Path("train.model"),
                 "--dim", "20"});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;

    // Statistics of 20 components do not fit a training on 300.
    r = RunTool({"stats", Path("late"), "-o", Path("small.inc"), "--model", Path("train.model"), "--dim", "20",
                 "--eyes", kSynthEyes});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    r = RunTool({"increase", Path("late"), "-o", Path("x.model"), "--model", Path("train.model"), "--stats",
                 Path("small.inc"), "--dim", "300", "--eyes", kSynthEyes});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("dimension 20, not 300"), std::string::npos) << r.err;
    // 30 people alone give fewer than the 205 discriminant vectors a model needs.
    r = RunTool({"increase", Path("late"), "-o", Path("x.model"), "--model", Path("train.model"), "--eyes",
                 kSynthEyes});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("fewer than 205 discriminant vectors"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("x.model")));
    // A folder of photos without faces.
    fs::create_directories(s_dir / "blank" / "nobody");
    SaveGreyImage(Path("blank/nobody/0.png"), Uniform(120, 120, 90));
    r = RunTool({"increase", Path("blank"), "-o", Path("x.model"), "--model", Path("train.model")});
    EXPECT_EQ(r.code, kExitNoFace);
    r = RunTool({"increase", Path("absent"), "-o", Path("x.model"), "--model", Path("train.model")});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_FALSE(fs::exists(Path("x.model")));
}
