// Evaluation: sample files read back with their side files, and the evaluate
// command on small synthetic sets.
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "Json.h"
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
