// Evaluation: sample files read back with their side files, and the evaluate
// command on small synthetic sets.
#include "support/Common.h"
#include <fstream>
#include <sstream>

#include "ExitCodes.h"
#include "Metrics.h"
#include "ModelFiles.h"
#include "PairsFile.h"
#include "RocPlot.h"
#include "SampleFile.h"
#include "support/CliTestSupport.h"
#include "support/SyntheticPeople.h"

namespace fs = std::filesystem;
using namespace velmora_cli;
using namespace velmora_test;

TEST(EvaluateSampleFile, ReadsBackWhatTheWriterWroteAndRefusesDamage)
{
    ScratchDir dir;
    {
        SampleFileWriter w(dir / "good.bin", 2, 3);
        w.AddClass({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
        w.AddClass({21, 22, 23, 24, 25, 26});
        w.Finish();
    }
    const SampleSet set = ReadSampleFile(dir / "good.bin");
    EXPECT_EQ(std::make_pair(set.sizeA, set.sizeB), std::make_pair(2, 3));
    EXPECT_EQ(set.counts, (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(set.firstSample, (std::vector<int64_t>{0, 2}));
    EXPECT_EQ(set.sampleCount(), 3);
    EXPECT_EQ(set.Sample(1)[0] + 256 * set.Sample(2)[5], 7 + 256 * 26);

    // Cut inside the header or the last sample; header and class counts changed
    // one at a time: an empty or huge sample size, far more samples than bytes,
    // counts that do not add up to 3, a class without samples or beyond the
    // sample count.
    const std::string good = ReadFile(dir / "good.bin");
    std::vector<std::string> bad = {good.substr(0, 10), good.substr(0, good.size() - 1)};
    for (const auto& [offset, value] : {std::pair<size_t, int32_t>{0, 0}, {0, 1 << 30}, {4, -1}, {8, 2000000000},
                                        {8, 4}, {12, 2000000000}, {16, 0}, {16, 3}}) {
        bad.push_back(good);
        WriteInt32LE(reinterpret_cast<unsigned char*>(&bad.back()[offset]), value);
    }
    for (const std::string& bytes : bad)
        EXPECT_TRUE(Fails([&] { ReadSampleFile(dir.Write("bad.bin", bytes)); }, kExitInput)) << bytes.size();

    // Names keep their order and spaces; a Windows line end is dropped.
    WriteFile(dir / "n.names", "Zoe Ann\r\nBob\n");
    EXPECT_EQ(ReadNameLines(dir / "n.names"), (std::vector<std::string>{"Zoe Ann", "Bob"}));
    WriteNameList(dir / "m.names", {"x", "y z"});
    EXPECT_EQ(ReadFile(dir / "m.names"), "x\ny z\n");
    EXPECT_THROW(ReadNameLines(dir / "absent.names"), CliError);
}

TEST(EvaluateSampleFile, SamplesWritesNamesAndFacesBesideTheSamples)
{
    ScratchDir dir;
    WriteSyntheticSet(dir.path() / "set", 0, 3, 2);
    fs::remove(dir.path() / "set" / SyntheticName(1) / "2.png");
    const Json doc = ToolJson({"samples", dir / "set", "-o", dir / "s.samples", "--eyes", kSynthEyes});
    EXPECT_EQ(doc.at("names"), dir / "s.samples.names");
    EXPECT_EQ(ReadNameLines(dir / "s.samples.names"), (std::vector<std::string>{"person1000", "person1001", "person1002"}));
    const SampleSet faces = ReadSampleFile(dir / "s.samples.faces");
    EXPECT_EQ(std::make_pair(faces.sizeA, faces.sizeB), std::make_pair(64, 64));
    EXPECT_EQ(faces.counts, ReadSampleFile(dir / "s.samples").counts);
    EXPECT_EQ(faces.counts, (std::vector<int32_t>{2, 1, 2}));
    // Each stored face is the one cut from its photo.
    Tool({"cut", dir / ("set/" + SyntheticName(2) + "/2.png"), "-o", dir / "face.png", "--eyes", kSynthEyes});
    const GreyImage face = LoadGreyImage(dir / "face.png");
    EXPECT_TRUE(std::equal(face.pixels.begin(), face.pixels.end(), faces.Sample(4)));
}

TEST(EvaluatePairsFile, FoldsOfSameThenDifferentPairs)
{
    ScratchDir dir;
    WriteFile(dir / "pairs.txt", "2\t1\r\nAnn\t1\t2\nAnn\t1\tBob_Lee\t3\nCy\t4\t12\nDee\t1\tEd\t1\n");
    const std::vector<PairFold> folds = ReadPairsFile(dir / "pairs.txt");
    std::vector<std::string> pairs; // fold, kind and photos of each pair
    for (size_t f = 0; f < folds.size(); ++f)
        for (const FacePair& p : folds[f].pairs)
            pairs.push_back(std::to_string(f) + (p.same ? " same " : " different ") + p.nameA + " " +
                            std::to_string(p.imageA) + " " + p.nameB + " " + std::to_string(p.imageB));
    EXPECT_EQ(pairs, (std::vector<std::string>{"0 same Ann 1 Ann 2", "0 different Ann 1 Bob_Lee 3", "1 same Cy 4 Cy 12",
                                               "1 different Dee 1 Ed 1"}));
    EXPECT_EQ(folds[0].People(), (std::set<std::string>{"Ann", "Bob_Lee"}));
    EXPECT_EQ(PairImagePath("/d", "Bob_Lee", 3), "/d/Bob_Lee/Bob_Lee_0003.jpg");
    // A set named by photo number alone; the LFW name wins where both exist.
    fs::create_directories(dir / "s7");
    for (const char* file : {"3.pgm", "13.pgm", "4.txt", "Ann_0004.jpg", "a4.png"})
        WriteFile(dir / ("s7/" + std::string(file)), "x");
    const std::string folder = dir.path().string();
    EXPECT_EQ(PairImagePath(folder, "s7", 3), dir / "s7/3.pgm");
    EXPECT_EQ(PairImagePath(folder, "s7", 4), dir / "s7/Ann_0004.jpg");
    EXPECT_EQ(PairImagePath(folder, "s7", 5), dir / "s7/s7_0005.jpg"); // named in errors
    WriteFile(dir / "s7/s7_0004.jpg", "x");
    EXPECT_EQ(PairImagePath(folder, "s7", 4), dir / "s7/s7_0004.jpg");

    // Bad lists, and the line each is refused at: bad headers, a same pair without its second
    // photo, a same pair where a different one is due, a list that ends early, bad photo
    // numbers, an empty name, names that are paths.
    const std::pair<const char*, const char*> bad[] = {
        {"", "0"}, {"two\t1\n", "1"}, {"1\t0\n", "1"}, {"1\t1\t1\n", "1"}, {"1\t1\nAnn\t1\n", "2"},
        {"1\t1\nAnn\t1\t2\nAnn\t1\t2\n", "3"}, {"1\t1\nAnn\t1\t2\n", "2"}, {"1\t1\nAnn\tx\t2\nA\t1\tB\t2\n", "2"},
        {"1\t1\n\t1\t2\nA\t1\tB\t2\n", "2"}, {"1\t1\nAnn\t1\t2\n..\t1\tB\t2\n", "3"},
        {"1\t1\nAnn\t1\t2\nA/b\t1\tB\t2\n", "3"}};
    for (const auto& [text, line] : bad)
        EXPECT_TRUE(Fails([&, t = text] { ReadPairsFile(dir.Write("bad.txt", t)); }, kExitInput,
                          "bad.txt:" + std::string(line) + ":"))
            << text;
    EXPECT_THROW(ReadPairsFile(dir / "absent.txt"), CliError);
}

TEST(EvaluateRocPlot, CurvesLegendAndEscapedLabels)
{
    const std::vector<ScoredPair> pairs = {{0.9, true},  {0.8, true},  {0.6, true},  {0.4, true}, {0.7, false},
                                           {0.5, false}, {0.3, false}, {0.2, false}, {0.1, false}};
    const std::string svg = RocSvg("t <1> & 2", {{"fold <a>", RocCurve(pairs), 0.225}, {"b", RocCurve(pairs), 0.5}});
    EXPECT_TRUE(Has(svg, "</svg>"));
    EXPECT_TRUE(Has(svg, "t &lt;1&gt; &amp; 2"));
    EXPECT_TRUE(Has(svg, "fold &lt;a&gt; (EER 22.50%)"));
    // Two curves; the plot square is 500 wide from (70, 50): (FAR 0, TAR 0) is at (70, 550),
    // (FAR 0.2, TAR 0.75) at (170, 175), (1, 1) at (570, 50).
    size_t curves = 0;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1))
        ++curves;
    EXPECT_EQ(curves, 2u);
    EXPECT_TRUE(Has(svg, "points=\"70.00,550.00 "));
    EXPECT_TRUE(Has(svg, " 170.00,175.00 "));
    EXPECT_TRUE(Has(svg, " 570.00,50.00 \"/>"));
    // The equal-error mark sits on the diagonal TAR = 1 - FAR.
    EXPECT_TRUE(Has(svg, "cx=\"182.50\" cy=\"162.50\""));
    // Every element is closed (a coarse well-formedness check).
    EXPECT_EQ(std::count(svg.begin(), svg.end(), '<'), std::count(svg.begin(), svg.end(), '>'));
    EXPECT_THROW(WriteRocSvg((fs::temp_directory_path() / "velmora-no-folder/roc.svg").string(), "x", {}), CliError);
}

namespace {

constexpr int kPeople = 230;
constexpr int kPhotos = 3;

// Synthetic people named by photo number (person1000/1.png), their sample file,
// a model trained on them, and a pairs list of two folds of 12 people each.
class EvaluateSynthetic : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<ScratchDir>();
        WriteSyntheticSet(s_dir->path() / "people", 0, kPeople, kPhotos);
        Tool({"samples", Path("people"), "-o", Path("s.samples"), "--eyes", kSynthEyes});
        Tool({"train", Path("s.samples"), "-o", Path("m.model")});
        // Fold f: people 12f .. 12f+11; same pairs of photos 1 and 2, different pairs p with p + 6.
        std::ofstream pairs(Path("pairs.txt"));
        pairs << "2\t6\n";
        for (int f = 0; f < 2; ++f) {
            for (int p = 12 * f; p < 12 * f + 6; ++p)
                pairs << SyntheticName(p) << "\t1\t2\n";
            for (int p = 12 * f; p < 12 * f + 6; ++p)
                pairs << SyntheticName(p) << "\t1\t" << SyntheticName(p + 6) << "\t2\n";
        }
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    static std::string Path(const std::string& name) { return *s_dir / name; }

    // evaluate lfw on the pairs list with the given model or training choices.
    static std::vector<std::string> Lfw(std::vector<std::string> rest)
    {
        rest.insert(rest.begin(), {"evaluate", "lfw", Path("people"), Path("pairs.txt"), "--eyes", kSynthEyes});
        return rest;
    }

    static inline std::unique_ptr<ScratchDir> s_dir;
};

std::vector<std::vector<std::string>> ReadCsv(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    for (std::string line, field; std::getline(in, line);) {
        std::stringstream s(line);
        rows.emplace_back();
        while (std::getline(s, field, ','))
            rows.back().push_back(field);
    }
    return rows;
}

} // namespace

TEST_F(EvaluateSynthetic, OrlProtocolRanksEveryProbe)
{
    ScratchDir dir;
    const Json doc = ToolJson({"evaluate", "orl", Path("people"), "--model", Path("m.model"), "--enroll", "1-2",
                               "--probe", "3", "--eyes", kSynthEyes, "--csv", dir / "orl.csv"});
    EXPECT_EQ(doc.at("people"), kPeople);
    EXPECT_EQ(doc.at("probes"), kPeople);
    // The model was trained on these people: nearly every probe is found.
    EXPECT_GE(doc.at("rank1_rate").get<double>(), 0.95);
    const auto rows = ReadCsv(dir / "orl.csv");
    ASSERT_EQ(rows.size(), static_cast<size_t>(kPeople + 1));
    EXPECT_EQ(rows[0], (std::vector<std::string>{"probe", "expected", "answer", "score", "correct"}));
    const long correct = std::count_if(rows.begin() + 1, rows.end(), [](const auto& row) { return row.at(4) == "1"; });
    EXPECT_EQ(correct, doc.at("rank1_correct"));

    // No face is found in synthetic photos: probes count as wrong, unless fallback eyes stand in.
    WriteSyntheticSet(dir.path() / "few", 0, 10, 2);
    const auto few = [&](std::vector<std::string> eyes) {
        eyes.insert(eyes.begin(), {"evaluate", "orl", dir / "few", "--model", Path("m.model"), "--enroll", "1", "--probe", "2"});
        return ToolJson(eyes);
    };
    const Json found = few({"--eyes", kSynthEyes}), none = few({}), fallback = few({"--fallback-eyes", kSynthEyes});
    EXPECT_EQ(found.at("probes_without_face"), 0);
    // (The detector may take a blob pattern for a face now and then.)
    const double missed = none.at("probes_without_face").get<double>();
    EXPECT_GE(missed, 8);
    EXPECT_GE(none.at("enrolment_photos_without_face").get<double>(), 8);
    EXPECT_LE(none.at("rank1_correct").get<double>(), 10 - missed);
    EXPECT_EQ(fallback.at("probes_without_face"), missed);
    EXPECT_GE(fallback.at("rank1_correct").get<double>(), 8);
    EXPECT_GE(found.at("rank1_correct").get<double>(), 9);

    // Photo numbers that select nothing, and a bad list.
    Tool({"evaluate", "orl", Path("people"), "--model", Path("m.model"), "--probe", "7"}, kExitInput);
    Tool({"evaluate", "orl", Path("people"), "--model", Path("m.model"), "--probe", "7-"}, kExitUsage);
}

TEST_F(EvaluateSynthetic, LfwProtocolWithOneModel)
{
    ScratchDir dir;
    Json doc = ToolJson(Lfw({"--model", Path("m.model"), "--csv", dir / "s.csv", "--roc", dir / "roc.svg"}));
    const auto& folds = doc.at("folds");
    ASSERT_EQ(folds.size(), 2u);
    EXPECT_EQ(folds[0].at("pairs"), 12);

    // Recompute from the CSV: fold 1's threshold is the most accurate one on fold 2's scores.
    const auto rows = ReadCsv(dir / "s.csv");
    ASSERT_EQ(rows.size(), 25u);
    EXPECT_EQ(rows[0][0], "fold");
    std::vector<ScoredPair> fold1, fold2;
    for (size_t i = 1; i < rows.size(); ++i)
        (rows[i][0] == "1" ? fold1 : fold2).push_back({std::stod(rows[i][3]), rows[i][2] == "1"});
    ASSERT_EQ(fold1.size(), 12u);
    EXPECT_NEAR(folds[0].at("threshold").get<double>(), BestAccuracyThreshold(fold2), 1e-8);
    EXPECT_NEAR(folds[1].at("threshold").get<double>(), BestAccuracyThreshold(fold1), 1e-8);
    EXPECT_NEAR(folds[0].at("accuracy").get<double>(), AccuracyAt(fold1, BestAccuracyThreshold(fold2)), 1e-6);
    EXPECT_NEAR(folds[0].at("eer").get<double>(), EqualErrorRate(fold1).rate, 1e-12);
    const MeanAndError mean = MeanWithStandardError({folds[0].at("accuracy").get<double>(), folds[1].at("accuracy").get<double>()});
    const Json& accuracy = doc.at("summary").at("accuracy");
    EXPECT_NEAR(accuracy.at("mean").get<double>(), mean.mean, 1e-12);
    EXPECT_NEAR(accuracy.at("standard_error").get<double>(), mean.standardError, 1e-12);
    // The people were trained on: same and different pairs are told apart.
    EXPECT_GE(mean.mean, 0.9);
    const std::string svg = ReadFile(dir / "roc.svg");
    EXPECT_TRUE(Has(svg, "fold 1 (EER"));
    EXPECT_TRUE(Has(svg, "all folds (EER"));

    // One fold: its own equal-error threshold, written beside the model by --calibrate.
    fs::copy_file(Path("m.model"), dir / "c.model");
    doc = ToolJson(Lfw({"--model", dir / "c.model", "--folds", "2", "--calibrate"}));
    ASSERT_EQ(doc.at("folds").size(), 1u);
    const Json& only = doc.at("folds")[0];
    EXPECT_EQ(only.at("fold"), 2);
    EXPECT_EQ(only.at("threshold"), only.at("eer_threshold"));
    EXPECT_NEAR(only.at("eer_threshold").get<double>(), EqualErrorRate(fold2).threshold, 1e-8);
    const Calibration calibration = ReadCalibration(dir / "c.model").value();
    EXPECT_EQ(calibration.threshold, only.at("eer_threshold").get<double>());
    // It holds each mode's own threshold: the one a run in that mode finds.
    EXPECT_EQ(calibration.ThresholdFor("mean"), calibration.threshold);
    for (const char* mode : {"max", "line"})
        EXPECT_EQ(calibration.ThresholdFor(mode),
                  ToolJson(Lfw({"--model", dir / "c.model", "--folds", "2", "--mode", mode})).at("folds")[0].at(
                      "eer_threshold").get<double>()) << mode;

    // Argument and file errors.
    Tool(Lfw({"--model", Path("m.model"), "--folds", "3"}), kExitUsage);
    Tool(Lfw({"--model", Path("m.model"), "--train-samples", Path("s.samples")}), kExitUsage);
    const std::string a = SyntheticName(0), b = SyntheticName(1);
    std::ofstream(dir / "beyond.txt") << "1\t1\n" << a << "\t1\t" << kPhotos + 1 << "\n" << a << "\t1\t" << b << "\t1\n";
    EXPECT_TRUE(Has(Tool({"evaluate", "lfw", Path("people"), dir / "beyond.txt", "--model", Path("m.model")}, kExitInput).err,
                    "photo not found: " + Path("people") + "/" + a + "/" + a + "_00"));
    Tool({"evaluate", "lfw", Path("people"), dir / "absent.txt", "--model", Path("m.model")}, kExitInput);
}

TEST_F(EvaluateSynthetic, LfwProtocolTrainsAModelPerFoldWithoutItsPeople)
{
    for (const char* recipe : {"train", "refit"}) {
        const Json doc = ToolJson(Lfw({"--train-samples", Path("s.samples"), "--recipe", recipe}));
        for (const Json& fold : doc.at("folds")) {
            // Each fold's 12 people are left out of its training.
            EXPECT_EQ(fold.at("train_people"), kPeople - 12);
            EXPECT_EQ(fold.at("train_faces"), (kPeople - 12) * kPhotos);
            EXPECT_EQ(fold.at("pairs_without_template"), 0);
        }
        // New people: synthetic faces still come apart well.
        EXPECT_GE(doc.at("summary").at("accuracy").at("mean").get<double>(), 0.75) << recipe;
    }
    // No recipe runs without the names or with names that do not match the classes; the
    // refit recipe starts from faces and cannot run without the .faces file either.
    ScratchDir dir;
    fs::copy_file(Path("s.samples"), dir / "s.samples");
    EXPECT_TRUE(Has(Tool(Lfw({"--train-samples", dir / "s.samples"}), kExitInput).err, ".names"));
    WriteFile(dir / "s.samples.names", "just one\n");
    Tool(Lfw({"--train-samples", dir / "s.samples"}), kExitInput);
    fs::copy_file(Path("s.samples.names"), dir / "s.samples.names", fs::copy_options::overwrite_existing);
    EXPECT_TRUE(Has(Tool(Lfw({"--train-samples", dir / "s.samples", "--recipe", "refit"}), kExitInput).err, ".faces"));
}
