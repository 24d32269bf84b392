// Evaluation: sample files read back with their side files, and the evaluate
// command on small synthetic sets.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "Json.h"
#include "Metrics.h"
#include "ModelFiles.h"
#include "PairsFile.h"
#include "RocPlot.h"
#include "SampleFile.h"
#include "support/CliTestSupport.h"
#include "support/SyntheticPeople.h"

namespace fs = std::filesystem;
using namespace velmora_cli;
using velmora_test::ReadFileBytes;
using velmora_test::RunVelmora;
using velmora_test::ToolRun;
using velmora_test::ToolTempDir;
using velmora_test::WriteFileBytes;

// ---------------------------------------------------------------- sample files

TEST(EvaluateSampleFile, ReadsBackWhatTheWriterWrote)
{
    ToolTempDir dir;
    {
        SampleFileWriter w(dir / "s.bin", 2, 3);
        w.AddClass({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
        w.AddClass({21, 22, 23, 24, 25, 26});
        w.Finish();
    }
    const SampleSet set = ReadSampleFile(dir / "s.bin");
    EXPECT_EQ(set.sizeA, 2);
    EXPECT_EQ(set.sizeB, 3);
    EXPECT_EQ(set.counts, (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(set.firstSample, (std::vector<int64_t>{0, 2}));
    EXPECT_EQ(set.sampleCount(), 3);
    EXPECT_EQ(set.Sample(1)[0], 7);
    EXPECT_EQ(set.Sample(2)[5], 26);

    // Names keep their order and spaces; a Windows line end is dropped.
    WriteFileBytes(dir / "n.names", "Zoe Ann\r\nBob\n");
    EXPECT_EQ(ReadNameLines(dir / "n.names"), (std::vector<std::string>{"Zoe Ann", "Bob"}));
    WriteNameList(dir / "m.names", {"x", "y z"});
    EXPECT_EQ(ReadFileBytes(dir / "m.names"), "x\ny z\n");
    EXPECT_THROW(ReadNameLines(dir / "absent.names"), CliError);
}

TEST(EvaluateSampleFile, DamagedFilesAreRefusedBeforeAllocating)
{
    ToolTempDir dir;
    const std::string good = [&] {
        SampleFileWriter w(dir / "good.bin", 4, 1);
        w.AddClass({1, 2, 3, 4, 5, 6, 7, 8});
        w.AddClass({9, 9, 9, 9});
        w.Finish();
        return ReadFileBytes(dir / "good.bin");
    }();
    auto refused = [&](const std::string& bytes) {
        WriteFileBytes(dir / "bad.bin", bytes);
        try {
            ReadSampleFile(dir / "bad.bin");
        } catch (const CliError& e) {
            return e.code() == kExitInput;
        }
        return false;
    };
    auto withInt = [&](size_t offset, int32_t value) {
        std::string b = good;
        WriteInt32LE(reinterpret_cast<unsigned char*>(&b[offset]), value);
        return b;
    };
    EXPECT_FALSE(refused(good));
    EXPECT_TRUE(refused(good.substr(0, 10)));               // inside the header
    EXPECT_TRUE(refused(good.substr(0, good.size() - 1)));  // inside the last sample
    EXPECT_TRUE(refused(withInt(0, 0)));                    // empty sample size
    EXPECT_TRUE(refused(withInt(4, -1)));
    EXPECT_TRUE(refused(withInt(8, 2000000000)));           // far more samples than bytes
    EXPECT_TRUE(refused(withInt(8, 4)));                    // counts add up to 3
    EXPECT_TRUE(refused(withInt(12, 2000000000)));          // class count
    EXPECT_TRUE(refused(withInt(0, 1 << 30)));              // huge samples
    EXPECT_TRUE(refused(withInt(16, 0)));                   // a class without samples
    EXPECT_TRUE(refused(withInt(16, 3)));                   // overruns the sample count
    EXPECT_THROW(ReadSampleFile(dir / "absent.bin"), CliError);
}

TEST(EvaluateSampleFile, SamplesWritesNamesAndFacesBesideTheSamples)
{
    ToolTempDir dir;
    velmora_test::WriteSyntheticSet(dir.path() / "set", 0, 3, 2);
    fs::remove(dir.path() / "set" / velmora_test::SyntheticName(1) / "2.png");
    const ToolRun r =
        RunVelmora({"samples", dir / "set", "-o", dir / "s.samples", "--eyes", velmora_test::kSynthEyes, "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("names")->AsString(), dir / "s.samples.names");
    EXPECT_EQ(ReadNameLines(dir / "s.samples.names"),
              (std::vector<std::string>{"person1000", "person1001", "person1002"}));
    const SampleSet samples = ReadSampleFile(dir / "s.samples");
    const SampleSet faces = ReadSampleFile(dir / "s.samples.faces");
    EXPECT_EQ(faces.sizeA, 64);
    EXPECT_EQ(faces.sizeB, 64);
    EXPECT_EQ(faces.counts, samples.counts);
    EXPECT_EQ(faces.counts, (std::vector<int32_t>{2, 1, 2}));
    // Each stored face is the one cut from its photo.
    const ToolRun cut = RunVelmora({"cut", dir / ("set/" + velmora_test::SyntheticName(2) + "/2.png"), "-o",
                                    dir / "face.png", "--eyes", velmora_test::kSynthEyes});
    ASSERT_EQ(cut.code, kExitOk) << cut.err;
    const GreyImage face = LoadGreyImage(dir / "face.png");
    EXPECT_TRUE(std::equal(face.pixels.begin(), face.pixels.end(), faces.Sample(4)));
}

// ---------------------------------------------------------------- pairs lists

TEST(EvaluatePairsFile, FoldsOfSameThenDifferentPairs)
{
    ToolTempDir dir;
    WriteFileBytes(dir / "pairs.txt", "2\t1\r\nAnn\t1\t2\nAnn\t1\tBob_Lee\t3\nCy\t4\t12\nDee\t1\tEd\t1\n");
    const std::vector<PairFold> folds = ReadPairsFile(dir / "pairs.txt");
    ASSERT_EQ(folds.size(), 2u);
    ASSERT_EQ(folds[0].pairs.size(), 2u);
    const FacePair& same = folds[0].pairs[0];
    EXPECT_TRUE(same.same);
    EXPECT_EQ(same.nameA, "Ann");
    EXPECT_EQ(same.nameB, "Ann");
    EXPECT_EQ(same.imageB, 2);
    const FacePair& different = folds[0].pairs[1];
    EXPECT_FALSE(different.same);
    EXPECT_EQ(different.nameB, "Bob_Lee");
    EXPECT_EQ(different.imageB, 3);
    EXPECT_EQ(folds[0].People(), (std::set<std::string>{"Ann", "Bob_Lee"}));
    EXPECT_EQ(folds[1].pairs[0].imageB, 12);
    EXPECT_EQ(PairImagePath("/d", "Bob_Lee", 3), "/d/Bob_Lee/Bob_Lee_0003.jpg");
    // A set named by photo number alone; the LFW name wins where both exist.
    fs::create_directories(dir / "s7");
    for (const char* file : {"3.pgm", "13.pgm", "4.txt", "Ann_0004.jpg", "a4.png"})
        WriteFileBytes(dir / ("s7/" + std::string(file)), "x");
    EXPECT_EQ(PairImagePath(dir.path().string(), "s7", 3), dir / "s7/3.pgm");
    EXPECT_EQ(PairImagePath(dir.path().string(), "s7", 4), dir / "s7/Ann_0004.jpg");
    EXPECT_EQ(PairImagePath(dir.path().string(), "s7", 5), dir / "s7/s7_0005.jpg"); // named in errors
    WriteFileBytes(dir / "s7/s7_0004.jpg", "x");
    EXPECT_EQ(PairImagePath(dir.path().string(), "s7", 4), dir / "s7/s7_0004.jpg");

    auto refusedAtLine = [&](const std::string& text, const std::string& line) {
        WriteFileBytes(dir / "bad.txt", text);
        try {
            ReadPairsFile(dir / "bad.txt");
        } catch (const CliError& e) {
            EXPECT_EQ(e.code(), kExitInput);
            return std::string(e.what()).find("bad.txt:" + line + ":") != std::string::npos;
        }
        return false;
    };
    EXPECT_TRUE(refusedAtLine("", "0"));
    EXPECT_TRUE(refusedAtLine("two\t1\n", "1"));
    EXPECT_TRUE(refusedAtLine("1\t0\n", "1"));
    EXPECT_TRUE(refusedAtLine("1\t1\t1\n", "1"));
    EXPECT_TRUE(refusedAtLine("1\t1\nAnn\t1\n", "2"));                        // same pair without its second photo
    EXPECT_TRUE(refusedAtLine("1\t1\nAnn\t1\t2\nAnn\t1\t2\n", "3"));          // a same pair where a different one is due
    EXPECT_TRUE(refusedAtLine("1\t1\nAnn\t1\t2\n", "2"));                     // ends early
    EXPECT_TRUE(refusedAtLine("1\t1\nAnn\tx\t2\nA\t1\tB\t2\n", "2"));
    EXPECT_TRUE(refusedAtLine("1\t1\nAnn\t1\t2\n..\t1\tB\t2\n", "3"));        // names are no paths
    EXPECT_TRUE(refusedAtLine("1\t1\nAnn\t1\t2\nA/b\t1\tB\t2\n", "3"));
    EXPECT_TRUE(refusedAtLine("1\t1\n\t1\t2\nA\t1\tB\t2\n", "2"));
    EXPECT_THROW(ReadPairsFile(dir / "absent.txt"), CliError);
}

// ---------------------------------------------------------------- ROC picture

TEST(EvaluateRocPlot, CurvesLegendAndEscapedLabels)
{
    std::vector<ScoredPair> pairs = {{0.9, true}, {0.8, true}, {0.6, true}, {0.4, true}, {0.7, false},
                                     {0.5, false}, {0.3, false}, {0.2, false}, {0.1, false}};
    const std::string svg = RocSvg("t <1> & 2", {{"fold <a>", RocCurve(pairs), 0.225}, {"b", RocCurve(pairs), 0.5}});
    EXPECT_EQ(svg.rfind("<svg", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find("t &lt;1&gt; &amp; 2"), std::string::npos);
    EXPECT_NE(svg.find("fold &lt;a&gt; (EER 22.50%)"), std::string::npos);
    // Two curves; the plot square is 500 wide from (70, 50): (FAR 0, TAR 0) is at (70, 550),
    // (FAR 0.2, TAR 0.75) at (170, 175), (1, 1) at (570, 50).
    size_t count = 0;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1))
        ++count;
    EXPECT_EQ(count, 2u);
    const size_t line = svg.find("<polyline");
    const std::string points = svg.substr(svg.find("points=\"", line) + 8, svg.find("\"/>", line) - svg.find("points=\"", line) - 8);
    EXPECT_EQ(points.rfind("70.00,550.00 ", 0), 0u) << points;
    EXPECT_NE(points.find(" 170.00,175.00 "), std::string::npos) << points;
    EXPECT_EQ(points.substr(points.size() - 13), "570.00,50.00 ") << points;
    // The equal-error mark sits on the diagonal TAR = 1 - FAR.
    EXPECT_NE(svg.find("cx=\"182.50\" cy=\"162.50\""), std::string::npos);
    // Every element is closed (a coarse well-formedness check).
    EXPECT_EQ(std::count(svg.begin(), svg.end(), '<'), std::count(svg.begin(), svg.end(), '>'));
    ToolTempDir dir;
    WriteRocSvg(dir / "roc.svg", "x", {});
    EXPECT_NE(ReadFileBytes(dir / "roc.svg").find("</svg>"), std::string::npos);
    EXPECT_THROW(WriteRocSvg(dir / "no/folder/roc.svg", "x", {}), CliError);
}

// ---------------------------------------------------------------- evaluate on synthetic people

namespace {

constexpr int kPeople = 230;
constexpr int kPhotos = 3;

// Synthetic people in the LFW layout (Name/Name_0001.jpg), their sample file,
// a model trained on them, and a pairs list of two folds of 12 people each.
class EvaluateSynthetic : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new std::string((fs::temp_directory_path() / ("velmora_evaluate_" + std::to_string(::getpid()))).string());
        fs::remove_all(*s_dir);
        const fs::path people = Path("people");
        for (int p = 0; p < kPeople; ++p) {
            const std::string name = velmora_test::SyntheticName(p);
            fs::create_directories(people / name);
            for (int k = 1; k <= kPhotos; ++k) {
                char file[32];
                std::snprintf(file, sizeof file, "_%04d.png", k);
                SaveGreyImage((people / name / (name + file)).string(), velmora_test::SyntheticPhoto(p, k));
            }
        }
        ToolRun r = RunVelmora({"samples", Path("people"), "-o", Path("s.samples"), "--eyes", velmora_test::kSynthEyes});
        ASSERT_EQ(r.code, kExitOk) << r.err;
        r = RunVelmora({"train", Path("s.samples"), "-o", Path("m.model")});
        ASSERT_EQ(r.code, kExitOk) << r.err;
        // Fold f: people 12f .. 12f+11; same pairs of photos 1 and 2, different pairs p with p + 6.
        std::ofstream pairs(Path("pairs.txt"));
        pairs << "2\t6\n";
        for (int f = 0; f < 2; ++f) {
            for (int p = 12 * f; p < 12 * f + 6; ++p)
                pairs << velmora_test::SyntheticName(p) << "\t1\t2\n";
            for (int p = 12 * f; p < 12 * f + 6; ++p)
                pairs << velmora_test::SyntheticName(p) << "\t1\t" << velmora_test::SyntheticName(p + 6) << "\t2\n";
        }
    }
    static void TearDownTestSuite()
    {
        fs::remove_all(*s_dir);
        delete s_dir;
        s_dir = nullptr;
    }
    static std::string Path(const std::string& name) { return (fs::path(*s_dir) / name).string(); }

    // The pair list's photos are .jpg; the set is made of .png: link them under the pair names.
    static std::string PairPhotos()
    {
        const fs::path photos = Path("pair-photos");
        if (!fs::exists(photos))
            for (int p = 0; p < 24; ++p) {
                const std::string name = velmora_test::SyntheticName(p);
                fs::create_directories(photos / name);
                for (int k = 1; k <= 2; ++k) {
                    char png[32], jpg[32];
                    std::snprintf(png, sizeof png, "_%04d.png", k);
                    std::snprintf(jpg, sizeof jpg, "_%04d.jpg", k);
                    fs::create_symlink(fs::path(Path("people")) / name / (name + png), photos / name / (name + jpg));
                }
            }
        return photos.string();
    }

    static std::string* s_dir;
};
std::string* EvaluateSynthetic::s_dir = nullptr;

std::vector<std::vector<std::string>> ReadCsv(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string f;
        while (std::getline(s, f, ','))
            fields.push_back(f);
        rows.push_back(fields);
    }
    return rows;
}

} // namespace

TEST_F(EvaluateSynthetic, OrlProtocolRanksEveryProbe)
{
    ToolTempDir dir;
    const ToolRun r = RunVelmora({"evaluate", "orl", Path("people"), "--model", Path("m.model"), "--enroll", "1-2",
                                  "--probe", "3", "--eyes", velmora_test::kSynthEyes, "--csv", dir / "orl.csv", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("people")->AsNumber(), kPeople);
    EXPECT_EQ(doc.Find("probes")->AsNumber(), kPeople);
    // The model was trained on these people: nearly every probe is found.
    EXPECT_GE(doc.Find("rank1_rate")->AsNumber(), 0.95);
    const auto rows = ReadCsv(dir / "orl.csv");
    ASSERT_EQ(rows.size(), static_cast<size_t>(kPeople + 1));
    EXPECT_EQ(rows[0], (std::vector<std::string>{"probe", "expected", "answer", "score", "correct"}));
    long correct = 0;
    for (size_t i = 1; i < rows.size(); ++i)
        correct += rows[i].at(4) == "1" ? 1 : 0;
    EXPECT_EQ(correct, static_cast<long>(doc.Find("rank1_correct")->AsNumber()));

    // No face is found in synthetic photos: probes count as wrong, unless fallback eyes stand in.
    for (int p = 0; p < 10; ++p) {
        const std::string name = velmora_test::SyntheticName(p);
        fs::create_directories(dir.path() / "few" / name);
        for (int k = 1; k <= 2; ++k) {
            char file[32];
            std::snprintf(file, sizeof file, "_%04d.png", k);
            fs::create_symlink(fs::path(Path("people")) / name / (name + file), dir.path() / "few" / name / (name + file));
        }
    }
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"evaluate", "orl", dir / "few", "--model", Path("m.model"), "--enroll", "1",
                                         "--probe", "2", "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const ToolRun run = RunVelmora(args);
        EXPECT_EQ(run.code, kExitOk) << run.err;
        return JsonValue::Parse(run.out);
    };
    const JsonValue found = run({"--eyes", velmora_test::kSynthEyes});
    const JsonValue none = run({});
    const JsonValue fallback = run({"--fallback-eyes", velmora_test::kSynthEyes});
    EXPECT_EQ(found.Find("probes_without_face")->AsNumber(), 0);
    // (The detector may take a blob pattern for a face now and then.)
    const double missed = none.Find("probes_without_face")->AsNumber();
    EXPECT_GE(missed, 8);
    EXPECT_GE(none.Find("enrolment_photos_without_face")->AsNumber(), 8);
    EXPECT_LE(none.Find("rank1_correct")->AsNumber(), 10 - missed);
    EXPECT_EQ(fallback.Find("probes_without_face")->AsNumber(), missed);
    EXPECT_GE(fallback.Find("rank1_correct")->AsNumber(), 8);
    EXPECT_GE(found.Find("rank1_correct")->AsNumber(), 9);

    // Photo numbers that select nothing, and a bad list.
    EXPECT_EQ(RunVelmora({"evaluate", "orl", Path("people"), "--model", Path("m.model"), "--probe", "7"}).code, kExitInput);
    EXPECT_EQ(RunVelmora({"evaluate", "orl", Path("people"), "--model", Path("m.model"), "--probe", "7-"}).code, kExitUsage);
}

TEST_F(EvaluateSynthetic, LfwProtocolWithOneModel)
{
    ToolTempDir dir;
    const std::string photos = PairPhotos();
    ToolRun r = RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--model", Path("m.model"), "--eyes",
                            velmora_test::kSynthEyes, "--csv", dir / "s.csv", "--roc", dir / "roc.svg", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    JsonValue doc = JsonValue::Parse(r.out);
    const auto& folds = doc.Find("folds")->AsArray();
    ASSERT_EQ(folds.size(), 2u);
    EXPECT_EQ(folds[0].Find("pairs")->AsNumber(), 12);

    // Recompute from the CSV: fold 1's threshold is the most accurate one on fold 2's scores.
    const auto rows = ReadCsv(dir / "s.csv");
    ASSERT_EQ(rows.size(), 25u);
    EXPECT_EQ(rows[0][0], "fold");
    std::vector<ScoredPair> fold1, fold2;
    for (size_t i = 1; i < rows.size(); ++i)
        (rows[i][0] == "1" ? fold1 : fold2).push_back({std::stod(rows[i][3]), rows[i][2] == "1"});
    ASSERT_EQ(fold1.size(), 12u);
    EXPECT_NEAR(folds[0].Find("threshold")->AsNumber(), BestAccuracyThreshold(fold2), 1e-8);
    EXPECT_NEAR(folds[1].Find("threshold")->AsNumber(), BestAccuracyThreshold(fold1), 1e-8);
    EXPECT_NEAR(folds[0].Find("accuracy")->AsNumber(), AccuracyAt(fold1, BestAccuracyThreshold(fold2)), 1e-6);
    EXPECT_NEAR(folds[0].Find("eer")->AsNumber(), EqualErrorRate(fold1).rate, 1e-12);
    const MeanAndError mean = MeanWithStandardError({folds[0].Find("accuracy")->AsNumber(), folds[1].Find("accuracy")->AsNumber()});
    EXPECT_NEAR(doc.Find("summary")->Find("accuracy")->Find("mean")->AsNumber(), mean.mean, 1e-12);
    EXPECT_NEAR(doc.Find("summary")->Find("accuracy")->Find("standard_error")->AsNumber(), mean.standardError, 1e-12);
    // The people were trained on: same and different pairs are told apart.
    EXPECT_GE(mean.mean, 0.9);
    const std::string svg = ReadFileBytes(dir / "roc.svg");
    EXPECT_NE(svg.find("fold 1 (EER"), std::string::npos);
    EXPECT_NE(svg.find("all folds (EER"), std::string::npos);

    // One fold: its own equal-error threshold, written beside the model by --calibrate.
    fs::copy_file(Path("m.model"), dir / "c.model");
    r = RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--model", dir / "c.model", "--eyes",
                    velmora_test::kSynthEyes, "--folds", "2", "--calibrate", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    doc = JsonValue::Parse(r.out);
    ASSERT_EQ(doc.Find("folds")->AsArray().size(), 1u);
    const JsonValue& only = doc.Find("folds")->AsArray()[0];
    EXPECT_EQ(only.Find("fold")->AsNumber(), 2);
    EXPECT_EQ(only.Find("threshold")->AsNumber(), only.Find("eer_threshold")->AsNumber());
    EXPECT_NEAR(only.Find("eer_threshold")->AsNumber(), EqualErrorRate(fold2).threshold, 1e-8);
    const auto calibration = ReadCalibration(dir / "c.model");
    ASSERT_TRUE(calibration.has_value());
    EXPECT_EQ(calibration->threshold, only.Find("eer_threshold")->AsNumber());

    // Argument and file errors.
    EXPECT_EQ(RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--model", Path("m.model"), "--folds", "3"}).code,
              kExitUsage);
    EXPECT_EQ(RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--model", Path("m.model"), "--train-samples",
                          Path("s.samples")}).code,
              kExitUsage);
    const std::string a = velmora_test::SyntheticName(0), b = velmora_test::SyntheticName(1);
    std::ofstream(Path("beyond.txt")) << "1\t1\n" << a << "\t1\t" << kPhotos + 1 << "\n" << a << "\t1\t" << b << "\t1\n";
    r = RunVelmora({"evaluate", "lfw", Path("people"), Path("beyond.txt"), "--model", Path("m.model")});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("photo not found: " + Path("people") + "/" + a + "/" + a + "_00"), std::string::npos) << r.err;
    EXPECT_EQ(RunVelmora({"evaluate", "lfw", photos, dir / "absent.txt", "--model", Path("m.model")}).code, kExitInput);
}

TEST_F(EvaluateSynthetic, LfwProtocolTrainsAModelPerFoldWithoutItsPeople)
{
    const std::string photos = PairPhotos();
    for (const char* recipe : {"train", "refit"}) {
        const ToolRun r = RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--train-samples", Path("s.samples"),
                                      "--recipe", recipe, "--eyes", velmora_test::kSynthEyes, "--json"});
        ASSERT_EQ(r.code, kExitOk) << recipe << ": " << r.err;
        const JsonValue doc = JsonValue::Parse(r.out);
        EXPECT_EQ(doc.Find("recipe")->AsString(), recipe);
        for (const JsonValue& fold : doc.Find("folds")->AsArray()) {
            // Each fold's 12 people are left out of its training.
            EXPECT_EQ(fold.Find("train_people")->AsNumber(), kPeople - 12);
            EXPECT_EQ(fold.Find("train_faces")->AsNumber(), (kPeople - 12) * kPhotos);
            EXPECT_EQ(fold.Find("pairs_without_template")->AsNumber(), 0);
        }
        // New people: synthetic faces still come apart well.
        EXPECT_GE(doc.Find("summary")->Find("accuracy")->Find("mean")->AsNumber(), 0.75) << recipe;
    }
    // The refit recipe starts from faces; without the .faces file it cannot run.
    ToolTempDir dir;
    fs::copy_file(Path("s.samples"), dir / "s.samples");
    fs::copy_file(Path("s.samples.names"), dir / "s.samples.names");
    ToolRun r = RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--train-samples", dir / "s.samples", "--recipe",
                            "refit", "--eyes", velmora_test::kSynthEyes});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find(".faces"), std::string::npos) << r.err;
    fs::remove(dir / "s.samples.names");
    r = RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--train-samples", dir / "s.samples", "--eyes",
                    velmora_test::kSynthEyes});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find(".names"), std::string::npos) << r.err;
    // Names that do not match the classes.
    WriteFileBytes(dir / "s.samples.names", "just one\n");
    EXPECT_EQ(RunVelmora({"evaluate", "lfw", photos, Path("pairs.txt"), "--train-samples", dir / "s.samples", "--eyes",
                          velmora_test::kSynthEyes}).code,
              kExitInput);
}
