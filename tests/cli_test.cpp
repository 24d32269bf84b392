// The velmora command-line tool: its building blocks and its commands, run in
// process through RunCli, plus one run of the real executable.
#include <sys/wait.h>

#include "support/Common.h"
#include <cstdlib>
#include <iostream>

#include "Commands.h"
#include "Dataset.h"
#include "ExitCodes.h"
#include "ModelFiles.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "SampleFile.h"
#include "StdoutRedirect.h"
#include "TemplateFile.h"
#include "Training.h"
#include "lda/IncreaseStatistics.h"
#include "lda/IncrementalData.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"
#include "support/CliTestSupport.h"
#include "support/SyntheticPeople.h"
#include "support/TestData.h"

namespace fs = std::filesystem;
using namespace velmora_cli;
using namespace velmora_test; // both have a GreyImage: the tool's is named in full

namespace {

constexpr auto npos = std::string::npos;

// Runs the tool with the common arguments followed by the extra ones.
ToolRun RunWith(std::vector<std::string> args, const std::vector<std::string>& extra)
{
    args.insert(args.end(), extra.begin(), extra.end());
    return RunVelmora(args);
}

std::vector<double> Numbers(const std::string& json, std::initializer_list<const char*> keys)
{
    std::vector<double> numbers;
    for (const char* key : keys)
        numbers.push_back(Json::parse(json).at(key).get<double>());
    return numbers;
}

double Number(const std::string& json, const char* key)
{
    return Numbers(json, {key})[0];
}

velmora_cli::GreyImage Uniform(int width, int height, unsigned char level)
{
    return {width, height, std::vector<unsigned char>(static_cast<size_t>(width) * height, level)};
}

} // namespace

// ---------------------------------------------------------------- building blocks

TEST(CliJson, OneLineInFieldOrderWithNullForNonFiniteAndNoBadUtf8)
{
    std::ostringstream text;
    PrintJson(text, {{"name", "caf\xe9"}, {"nan", std::nan("")}, {"inf", -HUGE_VAL}, {"count", 3}, {"half", 0.5}});
    EXPECT_EQ(text.str(), "{\"name\":\"caf\xef\xbf\xbd\",\"nan\":null,\"inf\":null,\"count\":3,\"half\":0.5}\n");
}

TEST(CliProgress, RenderAndDrawOnlyWhenEnabled)
{
    EXPECT_EQ(ProgressBar::Render(5, 10, "faces", 10.0, 10), "faces [#####.....] 5/10  50% 10s left");
    EXPECT_EQ(ProgressBar::Render(0, 4, "x", 0.0, 4), "x [....] 0/4   0% 0s left");
    // Counts beyond the total are shown as the total.
    EXPECT_EQ(ProgressBar::Render(7, 4, "x", 2.0, 4), "x [####] 4/4 100% 0s left");

    std::ostringstream quiet, shown;
    {
        ProgressBar off(quiet, false, 3, "work");
        off.Update(1);
        off.Update(3);
        ProgressBar on(shown, true, 3, "work");
        on.Update(3);
    }
    EXPECT_TRUE(quiet.str().empty());
    EXPECT_NE(shown.str().find("3/3"), npos);
    EXPECT_EQ(shown.str().rfind("\r\033[K"), shown.str().size() - 4); // line cleared at the end
}

TEST(CliTemplateFile, ExactBuffersJoinReadAndWrite)
{
    const TemplateBuffer t = TemplateOf({{1.0, 2.0, 3.0}});
    EXPECT_TRUE(LooksLikeTemplate(t));
    TemplateBuffer longer = t;
    longer.push_back(0);
    for (const TemplateBuffer& bad : {TemplateBuffer(t.begin(), t.end() - 1), longer, TemplateOf({{1, 2, 3}}, 0, 3),
                                      TemplateOf({{1, 2, 3}}, INT32_MAX, INT32_MAX), TemplateBuffer(7)})
        EXPECT_FALSE(LooksLikeTemplate(bad)) << bad.size() << " bytes";
    EXPECT_EQ(JoinTemplates({TemplateOf({{1, 2}}), TemplateOf({{3, 4}, {5, 6}})}), TemplateOf({{1, 2}, {3, 4}, {5, 6}}));
    EXPECT_THROW(JoinTemplates({TemplateOf({{1, 2}}), TemplateOf({{1, 2, 3}})}), CliError);
    EXPECT_THROW(JoinTemplates({}), CliError);

    ScratchDir dir;
    WriteTemplateFile(dir / "t.tpl", t);
    EXPECT_EQ(ReadTemplateFile(dir / "t.tpl"), t);
    EXPECT_TRUE(IsTemplateFile(dir / "t.tpl"));
    EXPECT_FALSE(IsTemplateFile(dir.Write("junk", "not a template at all")));
    EXPECT_TRUE(Fails([&] { ReadTemplateFile(dir / "junk"); }, kExitInput));
    EXPECT_TRUE(Fails([&] { ReadTemplateFile(dir / "absent"); }, kExitInput, "file not found"));
    EXPECT_THROW(WriteTemplateFile(dir / "no/such/folder/t.tpl", t), CliError);
}

TEST(CliSampleFile, FeatureBytesAndWriterChecks)
{
    const double features[] = {0.0, 0.49, 0.5, 1.5, 254.49, 254.5, 255.49, 255.5, 1e9, -0.4, -0.6,
                               std::numeric_limits<double>::quiet_NaN()};
    std::vector<unsigned char> rounded(12);
    // 255.5, 1e9, -0.6 and NaN fall outside 0..255 once rounded.
    EXPECT_EQ(FeaturesToBytes(features, 12, rounded.data()), 4);
    EXPECT_EQ(rounded, (std::vector<unsigned char>{0, 0, 1, 2, 254, 255, 255, 255, 255, 0, 0, 0}));

    ScratchDir dir;
    {
        SampleFileWriter writer(dir / "s.bin", 3, 1);
        writer.AddClass({1, 2, 3, 4, 5, 6});
        writer.AddClass({7, 8, 9});
        EXPECT_THROW(writer.AddClass({1, 2}), CliError); // not a whole sample
        EXPECT_THROW(writer.AddClass({}), CliError);
        writer.Finish();
        EXPECT_EQ(std::make_pair(writer.sampleCount(), writer.classCount()), std::make_pair(3, 2));
    }
    EXPECT_THROW(SampleFileWriter(dir / "no/such/dir/s.bin", 3, 1), CliError);
}

TEST(CliModelFiles, ExplicitPathEnvironmentAndCalibration)
{
    ScratchDir dir;
    EXPECT_TRUE(Fails([&] { ResolveModelPath(dir / "absent.model"); }, kExitModel));
    const std::string model = dir.Write("m.model", "x");
    EXPECT_EQ(ResolveModelPath(model), model);
    EXPECT_FALSE(ReadCalibration(model).has_value());
    dir.Write("m.model.json", "{\"threshold\": 0.625, \"pairs\": 600}");
    EXPECT_EQ(ReadCalibration(model).value().threshold, 0.625);
    for (const char* bad : {"{\"threshold\": \"high\"}", "{\"threshold\": 0.6", "{\"threshold\": 1e999}", "[0.6]", "",
                            "{\"threshold\": 0.6, \"thresholds\": [0.6]}",
                            "{\"threshold\": 0.6, \"thresholds\": {\"max\": 0.6, \"line\": null}}"}) {
        dir.Write("m.model.json", bad);
        EXPECT_TRUE(Fails([&] { ReadCalibration(model); }, kExitModel, "cannot read the calibration file")) << bad;
    }

    const EnvVar env("VELMORA_MODEL", model);
    EXPECT_EQ(ResolveModelPath(""), model);
    EXPECT_EQ(DefaultModelCandidates(), std::vector<std::string>{model});
}

TEST(CliEyes, ParsesFourIntegers)
{
    const EyePair e = ParseEyes("10,20, 30 ,-4");
    EXPECT_EQ(std::make_tuple(e.leftX, e.leftY, e.rightX, e.rightY), std::make_tuple(10, 20, 30, -4));
    for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1;2;3;4", "a,b,c,d", "1,2,3,4x", "1.5,2,3,4"})
        EXPECT_THROW(ParseEyes(bad), CliError) << bad;
}

TEST(CliDataset, PeopleAreSortedFoldersWithImages)
{
    ScratchDir dir;
    for (const char* folder : {"Zoe", "Adam", "Empty", "Left_Out"})
        fs::create_directories(dir.path() / folder);
    // loose.jpg is in no person folder.
    for (const char* file : {"Zoe/b.PNG", "Zoe/a.jpg", "Zoe/notes.txt", "Adam/1.pgm", "Left_Out/1.pgm", "Empty/readme",
                             "loose.jpg"})
        dir.Write(file, "x");
    const std::vector<Person> people =
        ListDataset(dir.path().string(), ReadNameList(dir.Write("exclude.txt", "# people to skip\n\nLeft_Out \r\n")));
    ASSERT_EQ(people.size(), 2u);
    EXPECT_EQ(people[0].name + " " + people[1].name, "Adam Zoe");
    ASSERT_EQ(people[1].images.size(), 2u);
    EXPECT_EQ(fs::path(people[1].images[0]).filename().string() + fs::path(people[1].images[1]).filename().string(),
              "a.jpgb.PNG");
    EXPECT_THROW(ListDataset(dir / "absent", {}), CliError);
    EXPECT_THROW(ReadNameList(dir / "absent.txt"), CliError);
}

TEST(CliStdoutRedirect, CountersLeaveStdoutAlone)
{
    ScratchDir dir;
    // Point stdout at a file, print through the redirect, and see what arrived.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    FILE* file = std::fopen((dir / "stdout").c_str(), "w");
    ASSERT_TRUE(saved >= 0 && file != nullptr);
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
    EXPECT_EQ(ReadFile(dir / "stdout"), "before after");
}

// ---------------------------------------------------------------- commands

TEST(CliArguments, UsageErrorsExitWithTwoAndHelpWithZero)
{
    ToolRun r = RunVelmora({});
    EXPECT_TRUE(r.code == kExitUsage && r.out.find("compare") != npos) << r.out; // the overview is shown
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"frobnicate"}, {"compare", "a", "b", "--mode", "median"}, {"compare", "a", "b", "--threshold", "1.5"}})
        EXPECT_TRUE(Exits(RunVelmora(args), kExitUsage)) << args[0];
    EXPECT_TRUE(Exits(RunVelmora({"compare", "only-one"}), kExitUsage, "B"));
    r = RunVelmora({"compare", "a", "b", "--no-such-option"});
    EXPECT_TRUE(Exits(r, kExitUsage) && r.out.empty()) << r.out;

    EXPECT_TRUE(Has(Tool({"--help"}).out, "Exit codes"));
    for (const char* command : {"detect", "cut", "template", "compare", "samples", "train", "stats", "increase"})
        EXPECT_TRUE(Has(Tool({command, "--help"}).out, "Usage: velmora " + std::string(command)));
}

TEST(CliCompare, TemplateScoresModesAndFileProblems)
{
    ScratchDir dir;
    WriteTemplateFile(dir / "a.tpl", TemplateOf({{1.0, 0.0}}));
    WriteTemplateFile(dir / "b.tpl", TemplateOf({{1.0, 1.0}}));
    // cos 45 degrees = 0.70710678; (cos + 1) / 2 = 0.85355339. A model without
    // calibration beside it gives a score but no decision.
    const Json doc = ToolJson({"compare", dir / "a.tpl", dir / "b.tpl", "--model", dir.Write("plain.model", "x")});
    EXPECT_NEAR(doc.at("score").get<double>(), 0.8535533905932737, 1e-15);
    EXPECT_EQ(doc.at("mode"), "mean");
    EXPECT_FALSE(doc.contains("same_person"));
    const std::string text = Tool({"compare", dir / "a.tpl", dir / "b.tpl", "--threshold", "0.9"}).out;
    EXPECT_TRUE(Has(text, "score 0.853553") && Has(text, "different people"));
    EXPECT_EQ(ToolJson({"compare", dir / "a.tpl", dir / "b.tpl", "--threshold", "0.8"}).at("same_person"), true);

    // Gallery of two vectors; the query lies on the line through them beyond both.
    WriteTemplateFile(dir / "g.tpl", TemplateOf({{1.0, 0.0, 0.0}, {1.0, 1.0, 0.0}}));
    WriteTemplateFile(dir / "q.tpl", TemplateOf({{1.0, 3.0, 0.0}}));
    const auto score = [&](const char* mode) {
        return ToolJson({"compare", dir / "q.tpl", dir / "g.tpl", "--mode", mode}).at("score").get<double>();
    };
    const double q = std::sqrt(10.0);
    EXPECT_NEAR(score("max"), (4.0 / (q * std::sqrt(2.0)) + 1.0) * 0.5, 1e-12);
    EXPECT_NEAR(score("mean"), ((1.0 + 1.5) / (q * std::sqrt(1.25)) + 1.0) * 0.5, 1e-12);
    EXPECT_NEAR(score("line"), 1.0, 1e-12);

    const ToolRun r = RunVelmora({"compare", dir / "a.tpl", dir / "missing.tpl"});
    EXPECT_TRUE(Exits(r, kExitInput, "file not found: " + (dir / "missing.tpl")) && r.out.empty());
    EXPECT_TRUE(Exits(RunVelmora({"compare", dir / "a.tpl", dir / "a.tpl", "--model", dir / "absent.model"}),
                      kExitModel, "model file not found"));
    EXPECT_TRUE(Exits(RunVelmora({"compare", dir / "a.tpl", dir / "q.tpl", "--threshold", "0.5"}), kExitFailure,
                      "dimension"));
}

TEST(CliExecutable, ExitCodeAndStreamsOfTheRealTool)
{
    ScratchDir dir;
    const std::string command = std::string(VELMORA_TOOL_PATH) + " compare " + (dir / "x") + " " + (dir / "y") +
                                " >" + (dir / "out") + " 2>" + (dir / "err");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kExitInput);
    EXPECT_TRUE(ReadFile(dir / "out").empty());
    EXPECT_EQ(ReadFile(dir / "err"), "velmora: file not found: " + (dir / "x") + "\n");
}

TEST(CliDetectAndCut, ImagesWithoutAFaceExitWithFour)
{
    ScratchDir dir;
    SaveGreyImage(dir / "blank.png", Uniform(200, 160, 128));
    SaveGreyImage(dir / "blank2.png", Uniform(100, 100, 30));
    ToolRun r = RunVelmora({"detect", dir / "blank.png", "--json"});
    EXPECT_TRUE(Exits(r, kExitNoFace, "no face found in " + (dir / "blank.png")));
    const Json images = Json::parse(r.out).at("images"); // still reported
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0], (Json{{"path", dir / "blank.png"}, {"width", 200}, {"height", 160}, {"faces", Json::array()}}));

    EXPECT_TRUE(Exits(RunVelmora({"detect", dir / "blank.png", dir / "absent.jpg"}), kExitInput));
    EXPECT_TRUE(Exits(RunVelmora({"detect", dir / "blank.png", dir / "blank.png", "--draw", dir / "marked.png"}),
                      kExitUsage));
    EXPECT_TRUE(
        Exits(RunVelmora({"detect", dir.Write("fake.jpg", "this is text, not a JPEG")}), kExitInput, "cannot read an image"));

    EXPECT_TRUE(Exits(RunVelmora({"cut", dir / "blank.png", "-o", dir / "x.png"}), kExitNoFace));
    EXPECT_FALSE(fs::exists(dir / "x.png"));
    // A batch goes on past them and says how many it missed.
    r = RunVelmora({"cut", dir / "blank.png", dir / "blank2.png", "-o", dir / "faces", "--json"});
    EXPECT_TRUE(Exits(r, kExitNoFace, "no face found in 2 of 2 images"));
    const Json faces = Json::parse(r.out).at("faces");
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_TRUE(faces[0].at("output").is_null());
    EXPECT_TRUE(fs::is_empty(dir / "faces"));
}

// With VELMORA_EYES=localiser the tool's own detector gives the eyes of the
// library's FindFaces (with room for one face), which uses the module-wide one.
TEST(CliDetect, LocaliserEyesAreTheLibrarysOnARealFace)
{
    VELMORA_REQUIRE_DATA("bioid");
    const EnvVar localiser("VELMORA_EYES", "localiser");
    velmora_cli::GreyImage image = LoadGreyImage((DataDir() / "bioid" / "BioID_0000.pgm").string());
    CPoint first, second;
    int room = 1;
    ASSERT_EQ(CVelmora().FindFaces(image.data(), image.width, image.height, &first, &second, room), FF_OK);
    const std::optional<EyePair> eyes = FaceFinder().FindOneFace(image);
    ASSERT_TRUE(eyes.has_value());
    EXPECT_EQ(std::make_tuple(eyes->leftX, eyes->leftY, eyes->rightX, eyes->rightY),
              std::make_tuple(first.x, first.y, second.x, second.y));
}

TEST(CliCut, NormalisedDisplayAndBatchFaces)
{
    ScratchDir dir;
    auto input = SyntheticPhoto(3, 0);
    SaveGreyImage(dir / "face.png", input);
    const Json doc = ToolJson({"cut", dir / "face.png", "-o", dir / "norm.png", "--eyes", kSynthEyes});
    EXPECT_EQ(doc.at("kind"), "normalised");
    EXPECT_EQ(doc.at("eyes_given"), true);

    // The tool's face is the library's face for the template mask, byte for byte.
    Recognizer recognizer(std::cerr);
    recognizer.PrepareWithoutModel();
    std::vector<unsigned char> expected(4096);
    ASSERT_EQ(CVelmora().GetNormFace(input.data(), input.width, input.height, CPoint(30, 44), CPoint(66, 44),
                                     expected.data()),
              GF_OK);
    const auto norm = LoadGreyImage(dir / "norm.png");
    EXPECT_EQ(std::make_pair(norm.width, norm.height), std::make_pair(64, 64));
    EXPECT_EQ(norm.pixels, expected);
    Tool({"cut", dir / "face.png", "-o", dir / "display.pgm", "--eyes", kSynthEyes, "--display", "46"});
    const auto display = LoadGreyImage(dir / "display.pgm");
    EXPECT_EQ(std::make_pair(display.width, display.height), std::make_pair(46, 56));

    const auto cut = [&](const std::vector<std::string>& extra) { return RunWith({"cut", dir / "face.png", "-o"}, extra); };
    for (const char* eyes : {"30,44,32,44", "2147483647,0,-2147483644,0"}) // 2 apart; -4294967291 apart, 5 in 32 bits
        EXPECT_TRUE(Exits(cut({dir / "x.png", "--eyes", eyes}), kExitUsage)) << eyes;
    EXPECT_TRUE(Exits(cut({dir / "x.png", "--eyes", "30,44"}), kExitUsage));
    EXPECT_TRUE(Exits(cut({dir / "x.png", "--eyes", kSynthEyes, "--display", "0"}), kExitUsage));
    EXPECT_TRUE(Exits(cut({dir / "no/folder/x.png", "--eyes", kSynthEyes}), kExitInput));

    // A batch writes each face as a single cut would; two inputs share a file name.
    SaveGreyImage(dir / "b.png", SyntheticPhoto(2, 1));
    fs::create_directories(dir.path() / "other");
    SaveGreyImage(dir / "other/face.png", SyntheticPhoto(1, 2));
    const std::vector<std::string> inputs = {"face.png", "b.png", "other/face.png"};
    const std::vector<std::string> eyes = {"30,44,66,44", "31,45,65,43", "29,44,67,46"};
    // --eyes before the images: each occurrence takes one value, not the image paths after it.
    const Json faces = ToolJson({"cut", "--eyes", eyes[0], "--eyes", eyes[1], "--eyes", eyes[2], dir / inputs[0],
                                 dir / inputs[1], dir / inputs[2], "-o", dir / "faces"})
                           .at("faces");
    ASSERT_EQ(faces.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const std::string single = dir / ("single" + std::to_string(i) + ".png");
        Tool({"cut", dir / inputs[i], "-o", single, "--eyes", eyes[i]});
        const std::string output = faces[i].at("output");
        EXPECT_EQ(faces[i].at("image"), dir / inputs[i]);
        EXPECT_EQ(fs::path(output).parent_path(), fs::path(dir / "faces"));
        EXPECT_EQ(LoadGreyImage(output).pixels, LoadGreyImage(single).pixels) << output;
    }
    EXPECT_NE(faces[0].at("output"), faces[2].at("output"));
    EXPECT_EQ(faces[1].at("right_eye").at("y"), 43);
    // One --eyes serves every image; two for three images are refused, and so is an output folder that is a file.
    const Json same = ToolJson({"cut", dir / "face.png", dir / "b.png", "-o", dir / "same", "--eyes", eyes[1]});
    for (const Json& face : same.at("faces"))
        EXPECT_EQ(face.at("left_eye").at("x"), 31);
    EXPECT_TRUE(Exits(RunVelmora({"cut", dir / inputs[0], dir / inputs[1], dir / inputs[2], "-o", dir / "x", "--eyes",
                                  eyes[0], "--eyes", eyes[1]}),
                      kExitUsage));
    EXPECT_TRUE(Exits(RunVelmora({"cut", dir / "face.png", dir / "b.png", "-o", dir.Write("file", "x"), "--eyes", eyes[0]}),
                      kExitInput));
}

TEST(CliTemplateAndTrain, MissingOrBadModelAndSampleFiles)
{
    ScratchDir dir;
    SaveGreyImage(dir / "face.png", SyntheticPhoto(1, 0));
    EXPECT_TRUE(Exits(RunVelmora({"template", dir / "face.png", "-o", dir / "t.tpl", "--eyes", kSynthEyes, "--model",
                                  dir.Write("bad.model", std::string(100, 'x'))}),
                      kExitModel, "cannot load the model"));
    EXPECT_FALSE(fs::exists(dir / "t.tpl"));
    // Photos need a model to compare.
    {
        const EnvVar env("VELMORA_MODEL", dir / "absent.model");
        EXPECT_TRUE(Exits(RunVelmora({"compare", dir / "face.png", dir / "face.png"}), kExitModel));
    }

    {
        SampleFileWriter few(dir / "few.samples", 4, 1); // far fewer than 210 people
        few.AddClass({1, 2, 3, 4});
        few.Finish();
    }
    EXPECT_TRUE(Exits(RunVelmora({"train", dir / "absent.samples", "-o", dir / "m.model"}), kExitInput));
    EXPECT_TRUE(Exits(RunVelmora({"train", dir / "few.samples", "-o", dir / "m.model"}), kExitFailure, "210 people"));
    EXPECT_FALSE(fs::exists(dir / "m.model"));
}

// ---------------------------------------------------------------- training and incremental training

// One synthetic set and its models for all the tests below: people 0..209 train,
// people 210..239 arrive later.
class CliModelTraining : public ::testing::Test {
protected:
    static constexpr int kPeople = 210;
    static constexpr int kLatePeople = 30;
    static constexpr int kPhotos = 3;

    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<ScratchDir>();
        WriteSyntheticSet(s_dir->path() / "early", 0, kPeople, kPhotos);
        WriteSyntheticSet(s_dir->path() / "late", kPeople, kLatePeople, kPhotos);
        WriteSyntheticSet(s_dir->path() / "all", 0, kPeople + kLatePeople, kPhotos);
        WriteSyntheticSet(s_dir->path() / "early", 999, 1, 1); // one photo: left out by --min-images
        s_samples = RunVelmora({"samples", Path("early"), "-o", Path("early.samples"), "--eyes", kSynthEyes,
                                "--min-images", "2", "--json"});
        s_train = RunVelmora({"train", Path("early.samples"), "-o", Path("train.model"), "--recipe", "train", "--json"});
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(Exits(s_samples, kExitOk));
        ASSERT_TRUE(Exits(s_train, kExitOk));
    }

    static std::string Path(const std::string& name) { return *s_dir / name; }
    static std::string Photo(int person, int photo)
    {
        return Path("all/" + SyntheticName(person) + "/" + std::to_string(photo) + ".png");
    }

    // Score of photo 1 of person a against photo 3 of person b under a model.
    static double Score(const std::string& model, int a, int b)
    {
        for (const auto& [person, photo, file] : {std::tuple{a, 1, "a.tpl"}, {b, 3, "b.tpl"}})
            Tool({"template", Photo(person, photo), "-o", Path(file), "--eyes", kSynthEyes, "--model", model});
        return ToolJson({"compare", Path("a.tpl"), Path("b.tpl"), "--model", model}).at("score").get<double>();
    }

    // Runs the tool with the model trained on the early people.
    static ToolRun WithModel(const std::vector<std::string>& args) { return RunWith(args, {"--model", Path("train.model")}); }

    // Principal components used (K) and skipped (S) by a model file.
    static std::pair<int, int> ModelComponents(const std::string& model)
    {
        Recognizer(std::cerr).LoadModel(model);
        return {g_subspaceModel.m_nPCAEigenUsed, g_subspaceModel.m_nPCAEigenSkipped};
    }

    // How many of people 0..count-1 score higher against themselves than against the next one.
    static int ToldApart(const std::string& model, int count)
    {
        int apart = 0;
        for (int p = 0; p < count; ++p)
            apart += Score(model, p, p) > Score(model, p, (p + 1) % count) ? 1 : 0;
        return apart;
    }

    static inline std::unique_ptr<ScratchDir> s_dir;
    static inline ToolRun s_samples, s_train;
};

// The whole road: samples -> train -> template -> compare, and a gallery of new people.
TEST_F(CliModelTraining, SyntheticPeopleAreToldApart)
{
    EXPECT_EQ(Numbers(s_samples.out, {"people", "samples", "people_left_out"}),
              (std::vector<double>{kPeople, kPeople * kPhotos, 1}));
    const double clampedShare = Number(s_samples.out, "clamped_share");
    EXPECT_TRUE(clampedShare >= 0.0 && clampedShare <= 1.0) << clampedShare;
    EXPECT_EQ(fs::file_size(Path("early.samples")), 16u + 4u * kPeople + 7840u * kPeople * kPhotos);
    EXPECT_EQ(Number(s_train.out, "people"), kPeople);
    EXPECT_GT(Number(s_train.out, "seconds"), 0.0);
    EXPECT_GE(ToldApart(Path("train.model"), 12), 11);

    // A template from several photos holds six vectors per photo (its face and
    // its mirror image's, each at three eye distances), or one with --single-vector.
    const ToolRun r =
        WithModel({"template", Photo(0, 1), Photo(0, 2), "-o", Path("two.tpl"), "--eyes", kSynthEyes, "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(Number(r.out, "vectors"), 12);
    EXPECT_EQ(fs::file_size(Path("two.tpl")), 8u + 12u * 200u * 8u);
    ASSERT_TRUE(Exits(WithModel({"template", Photo(0, 3), "-o", Path("one.tpl"), "--eyes", kSynthEyes,
                                 "--single-vector"}), kExitOk));
    EXPECT_EQ(fs::file_size(Path("one.tpl")), 8u + 200u * 8u);

    // The late people's photo folders, enrolled and identified with one command each.
    const auto gallery = [](std::vector<std::string> args, int code = kExitOk) {
        args.insert(args.end(), {"--gallery", Path("g.db"), "--model", Path("train.model")});
        return Tool(args, code);
    };
    const auto json = [&](std::vector<std::string> args, int code = kExitOk) {
        args.push_back("--json");
        return Json::parse(gallery(args, code).out);
    };
    Json doc = json({"enroll", "--folders", Path("late"), "--images", "1-2", "--eyes", kSynthEyes});
    ASSERT_EQ(doc.at("people").size(), size_t{kLatePeople});
    EXPECT_EQ(doc.at("people")[0].at("vectors"), 12); // six views of each photo
    doc = json({"identify", "--folders", Path("late"), "--images", "3", "--eyes", kSynthEyes});
    EXPECT_EQ(doc.at("summary").at("probes"), kLatePeople);
    EXPECT_GE(doc.at("summary").at("rank1_correct").get<int>(), kLatePeople - 2);
    EXPECT_TRUE(doc.at("threshold").is_null()); // no calibration: every probe gets its best match
    // An early person is a stranger to this gallery: unknown against a strict threshold.
    doc = json({"identify", Photo(0, 1), "--eyes", kSynthEyes, "--threshold", "0.999"});
    EXPECT_TRUE(doc.at("results").at(0).at("answer").is_null());

    // Without given eyes a blank photo has no face: reported, exit code 4; enrol skips it.
    SaveGreyImage(Path("blank.png"), Uniform(kSynthWidth, kSynthHeight, 128));
    EXPECT_EQ(json({"identify", Path("blank.png")}, kExitNoFace).at("results").at(0).at("face_found"), false);
    EXPECT_TRUE(Has(gallery({"enroll", "Ann", Path("blank.png")}, kExitNoFace).err, "nobody was enrolled"));
    // Done, but a photo was skipped.
    const ToolRun skipped = gallery({"enroll", "Ann", Path("blank.png"), Path("two.tpl")}, kExitNoFace);
    EXPECT_TRUE(Has(skipped.err, "no face found in " + Path("blank.png")));
    EXPECT_TRUE(Has(skipped.out, "enrolled Ann: 12 vectors"));
}

TEST_F(CliModelTraining, RefitIsTrainFollowedByIncreaseOnTheSameFaces)
{
    const ToolRun r = RunVelmora({"train", Path("early.samples"), "-o", Path("refit.model"), "--recipe", "refit",
                                  "--stats", Path("refit.stats"), "--json"});
    ASSERT_TRUE(Exits(r, kExitOk));
    EXPECT_EQ(Json::parse(r.out).at("recipe"), "refit");
    EXPECT_EQ(Numbers(r.out, {"refit_dimension", "people"}), (std::vector<double>{300, kPeople}));
    // Train's model skips two components; the refit one works on components 0..299.
    EXPECT_EQ(ModelComponents(Path("train.model")), std::make_pair(300, 2));
    EXPECT_EQ(ModelComponents(Path("refit.model")), std::make_pair(300, 0));

    // The same refit by hand: the saved Train model, then increase on the same faces
    // without earlier statistics. The principal stage goes through the model file
    // unchanged, so the two files agree byte for byte.
    ASSERT_TRUE(Exits(WithModel({"increase", Path("early.samples.faces"), "-o", Path("by-hand.model")}), kExitOk));
    // (Compared as a flag: a failed EXPECT_EQ would diff megabytes of binary text.)
    EXPECT_TRUE(ReadFile(Path("refit.model")) == ReadFile(Path("by-hand.model")));

    // The statistics the refit writes are those 'velmora stats' makes of the same faces.
    ASSERT_TRUE(Exits(RunVelmora({"stats", Path("early.samples.faces"), "-o", Path("by-hand.stats"), "--model",
                                  Path("refit.model")}),
                      kExitOk));
    EXPECT_TRUE(ReadFile(Path("refit.stats")) == ReadFile(Path("by-hand.stats")));
    // Mirror images double the refit's faces; they are the refit's alone.
    const ToolRun mirrored =
        RunVelmora({"train", Path("early.samples"), "-o", Path("mirror.model"), "--recipe", "refit", "--mirror", "--json"});
    EXPECT_EQ(Numbers(mirrored.out, {"refit_people", "refit_faces", "samples"}),
              (std::vector<double>{kPeople, 2 * kPeople * kPhotos, kPeople * kPhotos}));
    EXPECT_TRUE(
        Exits(RunVelmora({"train", Path("early.samples"), "-o", Path("x.model"), "--recipe", "train", "--mirror"}), kExitUsage));

    // It still tells the people apart.
    EXPECT_GE(ToldApart(Path("refit.model"), 10), 9);

    Tool({"train", Path("early.samples"), "-o", Path("small.model"), "--recipe", "refit", "--refit-dim", "250"});
    EXPECT_EQ(ModelComponents(Path("small.model")), std::make_pair(250, 0));
}

TEST_F(CliModelTraining, ArgumentErrorsAndChosenPeople)
{
    {
        SampleFileWriter faces(Path("few.faces"), 64, 64);
        faces.AddClass(std::vector<unsigned char>(4096, 7));
        faces.Finish();
    }
    // Leaving out one of exactly 210 people, by the name the sample file gives it.
    const std::string first = ReadNameLines(NamesPathFor(Path("early.samples"))).at(0);
    WriteFile(Path("leave.txt"), "# held out\n" + first + "\nnobody_here\n");
    // Names are needed to exclude anyone: a face file without its names file is refused.
    fs::copy_file(Path("early.samples.faces"), Path("nameless.faces"), fs::copy_options::overwrite_existing);
    fs::create_directories(s_dir->path() / "blank" / "nobody");
    SaveGreyImage(Path("blank/nobody/0.png"), Uniform(120, 120, 90));
    ASSERT_TRUE(Exits(WithModel({"stats", Path("late"), "-o", Path("small.inc"), "--dim", "20", "--eyes", kSynthEyes}),
                      kExitOk));

    const std::string samples = Path("early.samples"), faces = Path("early.samples.faces"), x = Path("x.model"),
                      inc = Path("x.inc");
    const struct {
        std::vector<std::string> args; // stats and increase run with the early people's model
        int code;
        const char* words;
    } errors[] = {
        // Faces of other people than the samples', the samples themselves, no faces at all.
        {{"train", samples, "-o", x, "--recipe", "refit", "--faces", Path("few.faces")}, kExitInput, "do not belong"},
        {{"train", samples, "-o", x, "--recipe", "refit", "--faces", samples}, kExitInput, "not 64 x 64 faces"},
        {{"train", samples, "-o", x, "--recipe", "refit", "--faces", Path("absent.faces")}, kExitInput, ""},
        {{"train", samples, "-o", x, "--recipe", "refit", "--refit-dim", "301"}, kExitUsage, "exceeds the 300"},
        {{"train", samples, "-o", x, "--recipe", "again"}, kExitUsage, ""},
        {{"train", samples, "-o", x, "--recipe", "train", "--faces", faces}, kExitUsage, ""}, // faces without the refit recipe
        {{"train", samples, "-o", x, "--exclude", Path("leave.txt")}, kExitFailure, "holds 209 once the excluded"},
        {{"stats", faces, "-o", inc, "--min-images", std::to_string(kPhotos + 1)}, kExitInput, "no person of the"},
        {{"stats", Path("nameless.faces"), "-o", inc, "--exclude", Path("leave.txt")}, kExitInput, "nameless.names"},
        {{"stats", samples, "-o", inc}, kExitInput, "not 64 x 64 faces"},
        {{"stats", faces, "-o", inc, "--dim", "301"}, kExitUsage, ""},
        {{"stats", faces, "-o", inc, "--append", samples}, kExitInput, "not an incremental data file"},
        {{"stats", faces, "-o", Path("no/folder/x.inc"), "--dim", "20"}, kExitInput, "cannot write"},
        // Statistics of 20 components do not fit a training on 300; 30 people alone give
        // fewer than the 205 discriminant vectors a model needs.
        {{"increase", Path("late"), "-o", x, "--stats", Path("small.inc"), "--dim", "300", "--eyes", kSynthEyes},
         kExitUsage, "dimension 20, not 300"},
        {{"increase", Path("late"), "-o", x, "--eyes", kSynthEyes}, kExitFailure, "fewer than 205 discriminant"},
        // A folder of photos without faces, and no folder at all.
        {{"increase", Path("blank"), "-o", x}, kExitNoFace, ""},
        {{"increase", Path("absent"), "-o", x}, kExitInput, ""},
    };
    for (const auto& e : errors)
        EXPECT_TRUE(Exits(e.args[0] == "train" ? RunVelmora(e.args) : WithModel(e.args), e.code, e.words))
            << ::testing::PrintToString(e.args);
    EXPECT_FALSE(fs::exists(x));
    {
        const EnvVar env("VELMORA_MODEL", Path("absent.model"));
        EXPECT_TRUE(Exits(RunVelmora({"stats", faces, "-o", inc}), kExitModel, "no model found"));
    }

    // A held-out person stays out of the statistics, and a cap per person holds.
    ToolRun r = WithModel({"stats", faces, "-o", Path("chosen.inc"), "--exclude", Path("leave.txt"), "--json"});
    ASSERT_TRUE(Exits(r, kExitOk));
    EXPECT_EQ(Numbers(r.out, {"people", "faces"}), (std::vector<double>{kPeople - 1, (kPeople - 1) * kPhotos}));
    r = WithModel({"stats", faces, "-o", Path("chosen.inc"), "--max-per-person", "2", "--json"});
    ASSERT_TRUE(Exits(r, kExitOk));
    EXPECT_EQ(Number(r.out, "faces"), kPeople * 2);
}

TEST_F(CliModelTraining, StatisticsOfEarlyPeoplePlusLatePeopleEqualOneTraining)
{
    // Statistics of the early people, then the late people on top of them ...
    ToolRun r = WithModel({"stats", Path("early.samples.faces"), "-o", Path("early.inc"), "--json"});
    ASSERT_TRUE(Exits(r, kExitOk));
    EXPECT_EQ(Numbers(r.out, {"people", "faces", "dimension"}), (std::vector<double>{kPeople, kPeople * kPhotos, 300}));
    EXPECT_EQ(fs::file_size(Path("early.inc")), IncreaseFileSize(kPeople, 300));
    r = WithModel({"increase", Path("late"), "-o", Path("increased.model"), "--stats", Path("early.inc"), "--eyes",
                   kSynthEyes, "--json"});
    ASSERT_TRUE(Exits(r, kExitOk));
    EXPECT_EQ(Numbers(r.out, {"people", "earlier_people"}), (std::vector<double>{kLatePeople, kPeople}));
    EXPECT_EQ(ModelComponents(Path("increased.model")), std::make_pair(300, 0));

    // ... give the model that all people's faces at once give.
    ASSERT_TRUE(Exits(WithModel({"increase", Path("all"), "-o", Path("at-once.model"), "--eyes", kSynthEyes}), kExitOk));
    for (const auto& [a, b] : {std::pair{0, 0}, {3, 4}, {215, 215}, {220, 7}, {239, 238}})
        EXPECT_NEAR(Score(Path("increased.model"), a, b), Score(Path("at-once.model"), a, b), 1e-9) << a << " " << b;
    // A late person is now told from the others.
    EXPECT_GT(Score(Path("increased.model"), 225, 225), Score(Path("increased.model"), 225, 226));

    // Appending the late people's statistics to the early ones' equals one file of all.
    ASSERT_TRUE(Exits(WithModel({"stats", Path("late"), "-o", Path("both.inc"), "--append", Path("early.inc"), "--eyes",
                                 kSynthEyes}),
                      kExitOk));
    ASSERT_TRUE(Exits(WithModel({"stats", Path("all"), "-o", Path("all.inc"), "--eyes", kSynthEyes}), kExitOk));
    CIncreaseStatistics both, all;
    ASSERT_TRUE(both.Load(Path("both.inc").c_str()) && all.Load(Path("all.inc").c_str()));
    ASSERT_EQ(std::make_tuple(both.GetClassNum(), all.GetClassNum(), both.GetTotalSampNum()),
              std::make_tuple(kPeople + kLatePeople, kPeople + kLatePeople, all.GetTotalSampNum()));
    for (int c = 0; c < both.GetClassNum(); c += 37)
        EXPECT_EQ(both.GetClassMean(c), all.GetClassMean(c)) << c; // the same faces, the same arithmetic
    // Sums taken in another order agree to rounding.
    for (auto sums : {&CIncreaseStatistics::GetScatter, &CIncreaseStatistics::GetSampSum}) {
        const std::vector<double>&a = (both.*sums)(), &b = (all.*sums)();
        const auto larger = [](double x, double y) { return std::fabs(x) < std::fabs(y); };
        const double largest = std::fabs(*std::max_element(b.begin(), b.end(), larger));
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i)
            ASSERT_NEAR(a[i], b[i], 1e-12 * largest) << i;
    }
}
