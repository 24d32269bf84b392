#include "support/Common.h"

#include <velmora/Velmora.h>

#include "normalize/FaceNormalizer.h"
#include "preprocess/FaceMasks.h"
#include "preprocess/FacePreprocessor.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"
#include "support/FaceData.h"
#include "support/TestData.h"

namespace {

using Bytes = std::vector<unsigned char>;
const int kTarget[4] = {17, 13, 45, 13};

// Pixels outside the current mask are 0 after the photometric steps, except
// where the seam blending copies a neighbour in.
void ExpectMaskedFace(const Bytes& face, int maskKind)
{
    const unsigned char* mask = BuiltInFaceMask(maskKind);
    for (int i = 0; i < 4096; ++i) {
        const int r = i / 64, c = i % 64;
        const bool seam = (r >= 30 && r <= 33) || (c >= 30 && c <= 33);
        ASSERT_TRUE(mask[i] || seam || face[i] == 0) << "pixel " << i;
    }
}

} // namespace

TEST(FaceCutting, ArgumentChecksAndRefusalsWriteNothing)
{
    CVelmora v;
    Bytes img(100 * 80, 128), out(4096, 9); // room for either face
    const CPoint l(30, 40), r(60, 40);
    unsigned char* im = img.data();
    unsigned char* o = out.data();
    for (int op = 0; op < 2; ++op) {
        const auto call = [&](unsigned char* i, int w, int h, CPoint a, CPoint b, unsigned char* dst) {
            return op == 0 ? v.GetNormFace(i, w, h, a, b, dst) : v.GetFace(i, w, h, a, b, dst, 46);
        };
        EXPECT_EQ(call(nullptr, 100, 80, l, r, o), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, 100, 80, l, r, nullptr), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, -1, 80, l, r, o), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, 100, -1, l, r, o), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, 100, 80, l, CPoint(32, 40), o), GF_BAD_ARGUMENT); // 2 apart
        EXPECT_EQ(call(im, 100, 80, r, l, o), GF_BAD_ARGUMENT);              // wrong order
        // A gap that overflows 32 bits must not wrap into a pass.
        EXPECT_EQ(call(im, 100, 80, CPoint(INT_MAX, 0), CPoint(INT_MIN, 0), o), GF_BAD_ARGUMENT);
        ASSERT_EQ(out, Bytes(4096, 9)) << "operation " << op;
        // Three apart passes, whatever the rows.
        EXPECT_EQ(call(im, 100, 80, CPoint(30, 5), CPoint(33, 70), o), GF_OK);
        std::fill(out.begin(), out.end(), 9);
    }
    // The display face alone: widths of 0 or less cut nothing; an empty image,
    // a cut wholly outside the image, or a width whose height overflows is refused.
    for (int width : {0, -5, INT_MIN})
        EXPECT_EQ(v.GetFace(im, 100, 80, l, r, o, width), GF_OK) << width;
    EXPECT_EQ(v.GetFace(im, 0, 80, l, r, o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 0, l, r, o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 80, CPoint(900, 10), CPoint(950, 10), o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 80, CPoint(10, 5000), CPoint(60, 5000), o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 80, l, r, o, INT_MAX), GF_BAD_ARGUMENT);
    EXPECT_EQ(out, Bytes(4096, 9));
    // One column or one row is enough to cut from.
    EXPECT_EQ(v.GetFace(im, 1, 80, CPoint(0, 10), CPoint(3, 10), o, 46), GF_OK);
    EXPECT_EQ(v.GetFace(im, 100, 1, CPoint(0, 0), CPoint(3, 0), o, 46), GF_OK);
}

TEST(FaceCutting, NormFaceGeometricAndPhotometricAndDisplayFaceAreTheDirectCuts)
{
    CVelmora v;
    std::mt19937 rng(21);
    Bytes img(120 * 100);
    for (int i = 0; i < 120 * 100; ++i)
        img[i] = static_cast<unsigned char>(40 + (i % 120 * 3 + i / 120 * 2) % 150 + rng() % 20);
    const CPoint l(35, 40), r(80, 35);
    const int eyes[4] = {35, 40, 80, 35};

    v.m_bPreprocessNormFace = 0;
    Bytes geometric(4096), direct(4096);
    ASSERT_EQ(v.GetNormFace(img.data(), 120, 100, l, r, geometric.data()), GF_OK);
    g_faceNormalizer.NormalizeFace(img.data(), 120, 100, eyes, direct.data(), 64, 64, kTarget);
    EXPECT_EQ(geometric, direct);
    EXPECT_NE(geometric[0], 0); // outside the mask the geometric face keeps its pixels

    v.m_bPreprocessNormFace = 1;
    for (int kind : {2, 3}) {
        g_facePreprocessor.SetMask(kind);
        Bytes face(4096), expected = geometric;
        ASSERT_EQ(v.GetNormFace(img.data(), 120, 100, l, r, face.data()), GF_OK);
        ApplyPhotometricSteps(expected.data());
        EXPECT_EQ(face, expected);
        ExpectMaskedFace(face, kind);
        EXPECT_GT(std::count_if(face.begin(), face.end(), [](int p) { return p > 200; }), 20)
            << "gamma fit leaves no bright pixel";
    }
    g_facePreprocessor.SetMask(2);

    // The display face is the direct cut at 46 x 56, and nothing is written past it.
    Bytes shown(46 * 56 + 16, 3), cut(46 * 56);
    ASSERT_EQ(v.GetFace(img.data(), 120, 100, l, r, shown.data(), 46), GF_OK);
    g_faceNormalizer.CutFace(img.data(), 120, 100, eyes, cut.data(), 46, 56);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), shown.begin()));
    EXPECT_NE(std::count(shown.begin(), shown.begin() + 46 * 56, 3), 46 * 56);
    EXPECT_EQ(Bytes(shown.begin() + 46 * 56, shown.end()), Bytes(16, 3)) << "wrote past 46 x 56";
}

TEST(FaceCutting, EmptyBlackOrHostileInputNeverBreaksTheFace)
{
    CVelmora v;
    Bytes black(64 * 64, 0), grey(64 * 64, 90);
    const auto face = [&v](Bytes& img, int side, CPoint l, CPoint r) {
        Bytes out(4096, 7);
        EXPECT_EQ(v.GetNormFace(img.data(), side, side, l, r, out.data()), GF_OK);
        return out;
    };
    for (int preprocess : {0, 1}) {
        v.m_bPreprocessNormFace = preprocess;
        EXPECT_EQ(face(black, 0, {10, 10}, {40, 10}), Bytes(4096, 0));
        EXPECT_EQ(face(black, 64, {10, 10}, {40, 10}), Bytes(4096, 0));
        // Eyes far outside the image: the face is black, not NaN bytes.
        face(grey, 64, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX});
        EXPECT_EQ(face(grey, 64, {5000, -9000}, {5040, -9000}), Bytes(4096, 0));
    }

    // Random sizes and eyes anywhere in the int range: refused or a masked face.
    g_facePreprocessor.SetMask(3);
    std::mt19937 rng(24);
    std::uniform_int_distribution<int> size(0, 90), any(INT_MIN, INT_MAX), near(-300, 300);
    for (int trial = 0; trial < 300; ++trial) {
        const int w = size(rng), h = size(rng);
        Bytes img(static_cast<size_t>(std::max(1, w * h)));
        for (auto& p : img)
            p = static_cast<unsigned char>(rng());
        CPoint l(trial % 4 == 0 ? any(rng) : near(rng), trial % 3 == 0 ? any(rng) : near(rng));
        CPoint r(trial % 5 == 0 ? any(rng) : near(rng), trial % 3 == 1 ? any(rng) : near(rng));
        if (static_cast<int64_t>(r.x) - l.x < 3)
            std::swap(l.x, r.x);
        Bytes face(4096), display(20 * 24);
        const auto result = v.GetNormFace(img.data(), w, h, l, r, face.data());
        if (static_cast<int64_t>(r.x) - l.x < 3) {
            EXPECT_EQ(result, GF_BAD_ARGUMENT);
            continue;
        }
        ASSERT_EQ(result, GF_OK);
        ExpectMaskedFace(face, 3);
        const auto shown = v.GetFace(img.data(), w, h, l, r, display.data(), 20);
        EXPECT_TRUE(shown == GF_OK || shown == GF_BAD_ARGUMENT);
    }
    g_facePreprocessor.SetMask(2);
}

TEST(FaceCutting, RealBioIdFaces)
{
    VELMORA_REQUIRE_DATA("bioid");
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(velmora_test::DataDir() / "bioid"))
        if (e.path().extension() == ".pgm")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 100u);

    CVelmora v;
    g_facePreprocessor.SetMask(3);
    const unsigned char* mask = BuiltInFaceMask(3);
    int faces = 0, darkEyes = 0;
    for (size_t k = 0; k < files.size(); k += 3, ++faces) {
        velmora_test::GreyImage img;
        CPoint l, r;
        ASSERT_TRUE(velmora_test::ReadPgm(files[k], img)) << files[k];
        ASSERT_TRUE(velmora_test::ReadBioIdEyes(std::filesystem::path(files[k]).replace_extension(".eye"), l, r));
        Bytes geometric(4096), face(4096);
        v.m_bPreprocessNormFace = 0;
        ASSERT_EQ(v.GetNormFace(img.pixels.data(), img.width, img.height, l, r, geometric.data()), GF_OK);
        v.m_bPreprocessNormFace = 1;
        ASSERT_EQ(v.GetNormFace(img.pixels.data(), img.width, img.height, l, r, face.data()), GF_OK);
        ExpectMaskedFace(face, 3);

        // Pupils and lids are darker than the face around them: the 3 x 3
        // patches at the eye targets are darker than the masked mean. The
        // photometric face spans a wide range inside the mask.
        double mean = 0;
        int lo = 255, hi = 0;
        for (int i = 0; i < 4096; ++i)
            if (mask[i]) {
                mean += geometric[i];
                lo = std::min<int>(lo, face[i]);
                hi = std::max<int>(hi, face[i]);
            }
        mean /= 2898;
        const auto patch = [&](int cx) {
            double s = 0;
            for (int y = 12; y <= 14; ++y)
                for (int x = cx - 1; x <= cx + 1; ++x)
                    s += geometric[y * 64 + x];
            return s / 9;
        };
        darkEyes += patch(17) < mean && patch(45) < mean;
        EXPECT_GT(hi - lo, 150) << files[k];
    }
    EXPECT_GE(darkEyes, faces * 9 / 10) << darkEyes << " of " << faces;
    g_facePreprocessor.SetMask(2);
}
