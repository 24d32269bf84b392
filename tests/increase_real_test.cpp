// A model trained by Train on some LFW people is extended by IncreaseTrain with
// new people; the saved model must tell those people apart on held-out images.
#include "support/Common.h"

#include <cstdio>
#include <fstream>

#include <opencv2/imgcodecs.hpp>
#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "pca/SubspaceModel.h"
#include "recognizer/Engine.h"
#include "recognizer/ModuleState.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace {

using Face = std::vector<unsigned char>;

// Normalised face of LFW image i; deep-funneled eyes lie near (103,113), (145,112).
Face Cut(const CVelmora& v, const std::string& name, int i)
{
    char file[16];
    std::snprintf(file, sizeof file, "_%04d.jpg", i);
    cv::Mat grey = cv::imread((velmora_test::DataDir() / "lfw" / name / (name + file)).string(),
                              cv::IMREAD_GRAYSCALE);
    Face face(4096);
    EXPECT_EQ(v.GetNormFace(grey.data, grey.cols, grey.rows, CPoint(103, 113), CPoint(145, 112),
                            face.data()), GF_OK) << name << i;
    return face;
}

// Train's sample: the template features, rounded and clamped to bytes.
Face SampleBytes(const Face& face)
{
    const std::vector<double> f = velmora::engine::FaceFeatures(face.data());
    Face bytes(f.size());
    for (size_t j = 0; j < f.size(); ++j)
        bytes[j] = static_cast<unsigned char>(std::clamp(std::trunc(f[j] + 0.5), 0.0, 255.0));
    return bytes;
}

// Mean same- and different-person scores of the probes, and the share of
// (same, different) pairings in which the same-person pair scores higher.
void Report(const char* label, CVelmora& v, std::vector<Face> probes, double& same,
            double& different)
{
    std::vector<Face> t(probes.size(), Face(1608));
    int length = 0;
    for (size_t i = 0; i < probes.size(); ++i)
        ASSERT_EQ(v.CreateTemplate(probes[i].data(), 64, 64, t[i].data(), length), CT_OK);
    std::vector<double> s, d;
    for (size_t a = 0; a < t.size(); ++a)
        for (size_t b = a + 1; b < t.size(); ++b)
            (a / 2 == b / 2 ? s : d).push_back(v.CompareTemplate(t[a].data(), t[b].data(), 0));
    double ordered = 0;
    for (double x : s)
        for (double y : d)
            ordered += x > y;
    same = std::accumulate(s.begin(), s.end(), 0.0) / s.size();
    different = std::accumulate(d.begin(), d.end(), 0.0) / d.size();
    std::printf("\n%s model, new people: same-person %.4f (%zu pairs), different-person %.4f "
                "(%zu pairs), same above different in %.1f%% of pairings\n",
                label, same, s.size(), different, d.size(), 100 * ordered / (s.size() * d.size()));
}

} // namespace

TEST(IncreaseTrainRealFaces, NewPeopleAreSeparated)
{
    VELMORA_REQUIRE_DATA("lfw");
    velmora_test::ScratchDir dir;
    CVelmora v;
    ASSERT_TRUE(velmora::engine::PrepareWithoutModel(v)); // as Initialize, to make Train's samples

    // New people: the first 30 with five images or more (1-3 to learn, 4-5 to
    // compare). Trained people: 215 others with three or more, three images each.
    std::ifstream list(velmora_test::DataDir() / "lfw" / "people.txt");
    std::string name;
    int images = 0, nFresh = 0, nTrained = 0;
    std::vector<Face> trainFaces, trainBytes, learn, probes;
    while (list >> name >> images && (nFresh < 30 || nTrained < 215)) {
        const bool fresh = images >= 5 && nFresh < 30;
        if (!fresh && (images < 3 || nTrained == 215))
            continue;
        (fresh ? nFresh : nTrained)++;
        for (int i = 1; i <= (fresh ? 5 : 3); ++i) {
            Face face = Cut(v, name, i);
            if (!fresh)
                trainBytes.push_back(SampleBytes(face));
            (fresh ? (i <= 3 ? learn : probes) : trainFaces).push_back(face);
        }
    }
    ASSERT_EQ(nTrained, 215);
    ASSERT_EQ(nFresh, 30);

    std::string header(16, '\0'); // an empty sample file: every sample from memory
    WriteInt32LE(reinterpret_cast<unsigned char*>(&header[0]), 7840);
    WriteInt32LE(reinterpret_cast<unsigned char*>(&header[4]), 1);
    auto rows = velmora_test::Pointers(trainBytes), trainTable = velmora_test::Pointers(trainFaces),
         learnTable = velmora_test::Pointers(learn);
    std::vector<int> threes(215, 3);
    ASSERT_EQ(v.Train(rows.data(), 7840, 1, 215, threes.data(),
                      dir.Write("empty.samples", header).c_str()), T_OK);
    ASSERT_EQ(v.SaveMatrix((dir / "trained.model").c_str()), T_OK);
    ASSERT_TRUE(v.Initialize((dir / "trained.model").c_str(), nullptr));
    double sameBefore, differentBefore;
    Report("Train", v, probes, sameBefore, differentBefore);

    // Statistics of the trained faces, then the new people on top of them.
    const std::string inc = (dir / "trained.inc");
    ASSERT_EQ(v.SaveIncreaseData(trainTable.data(), 215, threes.data(), false, 298, nullptr,
                                 inc.c_str()), T_OK);
    ASSERT_EQ(v.IncreaseTrain(learnTable.data(), 30, threes.data(), 0, false, 298, 0, nullptr,
                              inc.c_str(), (dir / "increased.model").c_str()), T_OK);
    ASSERT_TRUE(v.Initialize((dir / "increased.model").c_str(), nullptr));
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 298);
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenSkipped, 0);
    EXPECT_EQ(g_subspaceModel.m_pLDA->m_nValidEigenNum, 244); // 245 classes - 1
    double same, different;
    Report("Train + IncreaseTrain", v, probes, same, different);
    EXPECT_GT(same, different + 0.03);
}
