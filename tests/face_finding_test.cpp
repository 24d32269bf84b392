// FindFaces and FindOneFace on scripted detector records, and the detector
// library itself on blank, degenerate and real images.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tarvik/DetectionSource.h>
#include <velmora/Velmora.h>

#include "support/TestData.h"

namespace {

// Installs a scripted detection source for one test and records what it saw.
class Script {
public:
    explicit Script(std::vector<FACE_LOCATION> faces) : m_faces(std::move(faces))
    {
        TarvikSetDetectionSource([this](const unsigned char*, int, int, FACE_LOCATION* records,
                                        int room) {
            m_rooms.push_back(room);
            int n = 0;
            for (; n < room && n < static_cast<int>(m_faces.size()); ++n)
                records[n] = m_faces[n];
            return m_reportAll ? static_cast<int>(m_faces.size()) : n;
        });
    }
    ~Script() { TarvikSetDetectionSource(nullptr); }
    const std::vector<int>& rooms() const { return m_rooms; }
    void ReportAll() { m_reportAll = true; } // claims more faces than it filled

private:
    std::vector<FACE_LOCATION> m_faces;
    std::vector<int> m_rooms;
    bool m_reportAll = false;
};

// A record whose boxes lie outside a small image, so the localiser finds no
// eye and the fallbacks decide.
FACE_LOCATION OutsideRecord(int offset)
{
    FACE_LOCATION r{};
    r.nEye1X = 1000 + offset;
    r.nEye1Y = 500;
    r.nEye1Height = 10;
    r.nEye1Width = 21; // becomes 22 before the fallback reads it
    r.nEye2X = 2000 + offset;
    r.nEye2Y = 600;
    r.nEye2Height = 30;
    r.nEye2Width = 40;
    return r;
}

std::vector<unsigned char> Blank(int w, int h, unsigned char v = 128)
{
    return std::vector<unsigned char>(static_cast<size_t>(w) * h, v);
}

TEST(FaceFindingScripted, FallbacksUseTheBoxCentresAndTheFirstBoxSize)
{
    Script script({OutsideRecord(0)});
    CVelmora v;
    auto img = Blank(64, 48);
    CRect face(1, 2, 3, 4);
    CPoint first, second;
    ASSERT_EQ(v.FindOneFace(img.data(), 64, 48, face, first, second), FF_OK);
    EXPECT_EQ(first.x, 1000 + 22 / 2);
    EXPECT_EQ(first.y, 500 + 10 / 2);
    EXPECT_EQ(second.x, 2000 + 22 / 2); // second corner, first box's width and height
    EXPECT_EQ(second.y, 600 + 10 / 2);
    EXPECT_EQ(face.left, 1);
    EXPECT_EQ(face.top, 2);
    EXPECT_EQ(face.right, 3);
    EXPECT_EQ(face.bottom, 4);
    EXPECT_EQ(script.rooms(), std::vector<int>({10}));
}

TEST(FaceFindingScripted, FallbacksNearTheEndsOfTheIntRangeWrapAround)
{
    FACE_LOCATION r = OutsideRecord(0);
    r.nEye1X = INT32_MAX - 3;
    r.nEye1Width = INT32_MAX; // not a multiple of 4, but one more would overflow: stays
    r.nEye1Y = INT32_MIN + 1;
    r.nEye1Height = -7; // halves to -3, truncating toward zero
    r.nEye2X = INT32_MAX;
    r.nEye2Y = 5;
    Script script({r});
    CVelmora v;
    auto img = Blank(16, 16);
    CRect face;
    CPoint first, second;
    ASSERT_EQ(v.FindOneFace(img.data(), 16, 16, face, first, second), FF_OK);
    // (2^31 - 4) + (2^30 - 1) = 3 x 2^30 - 5, which is -2^30 - 5 in 32 bits.
    EXPECT_EQ(first.x, -(1 << 30) - 5);
    EXPECT_EQ(first.y, INT32_MAX - 1); // (-2^31 + 1) - 3 wraps to 2^31 - 2
    EXPECT_EQ(second.x, -(1 << 30) - 2); // (2^31 - 1) + (2^30 - 1)
    EXPECT_EQ(second.y, 2);
}

TEST(FaceFindingScripted, LocalisedEyesAreReportedAndOnlyTheFirstRecordCounts)
{
    // A dark block inside the first record's first box; the second box is off
    // the image.
    const int w = 64, h = 64;
    auto img = Blank(w, h, 200);
    for (int r = 33; r <= 41; ++r)
        for (int c = 28; c <= 37; ++c)
            img[r * w + c] = 10;
    FACE_LOCATION rec = OutsideRecord(0);
    rec.nEye1X = 8;
    rec.nEye1Y = 8;
    rec.nEye1Width = 48;
    rec.nEye1Height = 48;
    Script script({rec, OutsideRecord(7), OutsideRecord(9)});
    CVelmora v;
    CRect face;
    CPoint first, second;
    ASSERT_EQ(v.FindOneFace(img.data(), w, h, face, first, second), FF_OK);
    EXPECT_EQ(first.x, 8 + (21 + 28) / 2);
    EXPECT_EQ(first.y, 8 + (26 + 32) / 2);
    EXPECT_EQ(second.x, 2000 + 48 / 2);
    EXPECT_EQ(second.y, 600 + 48 / 2);
}

TEST(FaceFindingScripted, CapacityLimitsTheFacesReported)
{
    Script script({OutsideRecord(0), OutsideRecord(100), OutsideRecord(200)});
    CVelmora v;
    auto img = Blank(32, 32);
    const CPoint untouched(-7, -7);
    std::vector<CPoint> first(4, untouched), second(4, untouched);

    int count = 0;
    EXPECT_EQ(v.FindFaces(img.data(), 32, 32, first.data(), second.data(), count), FF_NO_FACE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(first[0].x, -7);

    count = 1;
    ASSERT_EQ(v.FindFaces(img.data(), 32, 32, first.data(), second.data(), count), FF_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(first[0].x, 1011);
    EXPECT_EQ(second[0].x, 2011);
    EXPECT_EQ(first[1].x, -7);

    count = 4;
    ASSERT_EQ(v.FindFaces(img.data(), 32, 32, first.data(), second.data(), count), FF_OK);
    EXPECT_EQ(count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(first[i].x, 1011 + 100 * i);
        EXPECT_EQ(first[i].y, 505);
        EXPECT_EQ(second[i].x, 2011 + 100 * i);
        EXPECT_EQ(second[i].y, 605);
    }
    EXPECT_EQ(first[3].x, -7);
    // The detector is offered the caller's room, and never more than 10 (0
    // from FindFaces with no room also means its full 10).
    EXPECT_EQ(script.rooms(), std::vector<int>({10, 1, 4}));

    count = 50;
    std::vector<CPoint> many(50), many2(50);
    ASSERT_EQ(v.FindFaces(img.data(), 32, 32, many.data(), many2.data(), count), FF_OK);
    EXPECT_EQ(script.rooms().back(), 10);
}

TEST(FaceFindingScripted, NoFaceLeavesPointsAtZeroAndArraysUntouched)
{
    Script script({});
    CVelmora v;
    auto img = Blank(32, 32);
    CRect face;
    CPoint first(5, 5), second(6, 6);
    EXPECT_EQ(v.FindOneFace(img.data(), 32, 32, face, first, second), FF_NO_FACE);
    EXPECT_EQ(first.x, 0);
    EXPECT_EQ(first.y, 0);
    EXPECT_EQ(second.x, 0);
    EXPECT_EQ(second.y, 0);

    CPoint a[2] = {CPoint(3, 3), CPoint(3, 3)}, b[2] = {CPoint(4, 4), CPoint(4, 4)};
    int count = 2;
    EXPECT_EQ(v.FindFaces(img.data(), 32, 32, a, b, count), FF_NO_FACE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(a[0].x, 3);
    EXPECT_EQ(b[1].y, 4);
}

TEST(FaceFindingScripted, OverclaimingSourcesAreHeldToTheRoom)
{
    std::vector<FACE_LOCATION> twelve;
    for (int i = 0; i < 12; ++i)
        twelve.push_back(OutsideRecord(i));
    Script script(twelve);
    script.ReportAll();
    CAdaboostFaceDetect detector;
    FACE_LOCATION records[10];
    unsigned char px = 0;
    int count = 3;
    EXPECT_EQ(detector.RunFaceDetector(&px, 1, 1, records, &count), 3);
    EXPECT_EQ(count, 3);
    count = 0;
    EXPECT_EQ(detector.RunFaceDetector(&px, 1, 1, records, &count), 10);
    EXPECT_EQ(count, 10);
}

TEST(Detector, BadArgumentsAndBlankImagesFindNothing)
{
    CAdaboostFaceDetect detector;
    FACE_LOCATION records[10];
    int count = 5;
    unsigned char px = 0;
    EXPECT_EQ(detector.RunFaceDetector(nullptr, 10, 10, records, &count), 0);
    EXPECT_EQ(count, 0);
    count = 5;
    EXPECT_EQ(detector.RunFaceDetector(&px, 0, 0, records, &count), 0);
    EXPECT_EQ(count, 0);
    count = 5;
    EXPECT_EQ(detector.RunFaceDetector(&px, -4, 1, records, &count), 0);
    EXPECT_EQ(detector.RunFaceDetector(&px, 1, 1, nullptr, &count), 0);
    EXPECT_EQ(detector.RunFaceDetector(&px, 1, 1, records, nullptr), 0);
    count = 0;
    EXPECT_EQ(detector.RunFaceDetector(&px, 1, 1, records, &count), 0);

    CVelmora v;
    CRect face;
    CPoint first, second;
    for (const auto& [w, h] : {std::pair<int, int>{1, 1}, {2, 3}, {384, 286}, {4000, 3000}}) {
        auto black = Blank(w, h, 0);
        EXPECT_EQ(v.FindOneFace(black.data(), w, h, face, first, second), FF_NO_FACE)
            << w << "x" << h;
        int n = 3;
        CPoint a[3], b[3];
        EXPECT_EQ(v.FindFaces(black.data(), w, h, a, b, n), FF_NO_FACE);
        EXPECT_EQ(n, 0);
    }
    EXPECT_EQ(v.FindOneFace(nullptr, 0, 0, face, first, second), FF_NO_FACE);
}

TEST(Detector, MissingCascadeIsReportedOnceAndFindsNoFace)
{
    const char* old = std::getenv("VELMORA_CASCADE_DIR");
    const std::string saved = old ? old : "";
    setenv("VELMORA_CASCADE_DIR", "/nonexistent/velmora-cascades", 1);
    static std::vector<std::string> texts;
    texts.clear();
    {
        CAdaboostFaceDetect detector;
        TarvikSetMessageSink([](const char* t) { texts.emplace_back(t); });
        auto img = Blank(100, 100);
        FACE_LOCATION records[10];
        for (int i = 0; i < 3; ++i) {
            int count = 0;
            EXPECT_EQ(detector.RunFaceDetector(img.data(), 100, 100, records, &count), 0);
            EXPECT_EQ(count, 0);
        }
        TarvikSetMessageSink(nullptr);
    }
    if (old)
        setenv("VELMORA_CASCADE_DIR", saved.c_str(), 1);
    else
        unsetenv("VELMORA_CASCADE_DIR");
    // One message per cascade file (two face cascades and two eye cascades),
    // none repeated by the later calls.
    ASSERT_EQ(texts.size(), 4u);
    int firstFace = 0;
    for (const std::string& t : texts)
        firstFace += t.find("the face cascade") != std::string::npos;
    EXPECT_EQ(firstFace, 1);
}

// Reads a binary PGM (P5, 8-bit); empty on failure.
std::vector<unsigned char> ReadPgm(const std::string& path, int& w, int& h)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    if (magic != "P5" || w < 1 || h < 1 || maxval != 255)
        return {};
    std::vector<unsigned char> px(static_cast<size_t>(w) * h);
    in.read(reinterpret_cast<char*>(px.data()), static_cast<std::streamsize>(px.size()));
    return in ? px : std::vector<unsigned char>{};
}

TEST(FaceFindingReal, BioIdFaceGivesEyesNearTheMarkedOnes)
{
    VELMORA_REQUIRE_DATA("bioid");
    const std::string base = (velmora_test::DataDir() / "bioid" / "BioID_0000").string();
    int w = 0, h = 0;
    auto img = ReadPgm(base + ".pgm", w, h);
    ASSERT_FALSE(img.empty());
    std::ifstream eyes(base + ".eye");
    std::string comment;
    std::getline(eyes, comment);
    int lx, ly, rx, ry; // the person's left eye is on the image's right
    ASSERT_TRUE(eyes >> lx >> ly >> rx >> ry);

    CVelmora v;
    CRect face;
    CPoint first, second;
    ASSERT_EQ(v.FindOneFace(img.data(), w, h, face, first, second), FF_OK);
    const double dist = std::hypot(lx - rx, ly - ry);
    EXPECT_LE(std::hypot(first.x - rx, first.y - ry), 0.25 * dist);
    EXPECT_LE(std::hypot(second.x - lx, second.y - ly), 0.25 * dist);

    // Two copies of the face side by side, the right one halved: the larger
    // face comes first, and every first eye lies left of its second eye.
    const int cw = w + w / 2, ch = h;
    std::vector<unsigned char> canvas(static_cast<size_t>(cw) * ch, 128);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            canvas[r * cw + c] = img[r * w + c];
    for (int r = 0; r < h / 2; ++r)
        for (int c = 0; c < w / 2; ++c)
            canvas[(r + h / 4) * cw + w + c] = img[(2 * r) * w + 2 * c];
    CAdaboostFaceDetect detector;
    FACE_LOCATION records[10];
    int count = 0;
    detector.RunFaceDetector(canvas.data(), cw, ch, records, &count);
    ASSERT_GE(count, 2);
    for (int i = 0; i < count; ++i)
        EXPECT_LT(records[i].nEye1X, records[i].nEye2X);
    for (int i = 1; i < count; ++i)
        EXPECT_GE(int64_t(records[i - 1].nFaceWidth) * records[i - 1].nFaceHeight,
                  int64_t(records[i].nFaceWidth) * records[i].nFaceHeight);
    EXPECT_LT(records[0].nFaceX, w);
    EXPECT_GT(records[1].nFaceX, w - 10);
}

struct Marked {
    std::vector<unsigned char> img;
    int w = 0, h = 0;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0; // image-left eye first
};

// A BioID image and its marked eyes (the .eye file lists the image-right eye first).
bool ReadMarked(int number, Marked& m)
{
    char name[32];
    std::snprintf(name, sizeof name, "BioID_%04d", number);
    const std::string base = (velmora_test::DataDir() / "bioid" / name).string();
    m.img = ReadPgm(base + ".pgm", m.w, m.h);
    std::ifstream eyes(base + ".eye");
    std::string comment;
    std::getline(eyes, comment);
    return !m.img.empty() && static_cast<bool>(eyes >> m.x2 >> m.y2 >> m.x1 >> m.y1);
}

// Largest distance of a found eye from its marked one, in eye distances.
double EyeError(const Marked& m, const CPoint& first, const CPoint& second)
{
    const double d1 = std::hypot(first.x - m.x1, first.y - m.y1);
    const double d2 = std::hypot(second.x - m.x2, second.y - m.y2);
    return std::max(d1, d2) / std::hypot(m.x2 - m.x1, m.y2 - m.y1);
}

TEST(FaceFindingReal, FaceCutByTheTopBorderIsStillFound)
{
    VELMORA_REQUIRE_DATA("bioid");
    Marked m;
    ASSERT_TRUE(ReadMarked(0, m));
    // Drop the rows above the eyes but 22, so the forehead is gone.
    const int cut = static_cast<int>(std::min(m.y1, m.y2)) - 22;
    ASSERT_GT(cut, 0);
    Marked c = m;
    c.h = m.h - cut;
    c.img.assign(m.img.begin() + static_cast<size_t>(cut) * m.w, m.img.end());
    c.y1 -= cut;
    c.y2 -= cut;
    CVelmora v;
    CRect face;
    CPoint first, second;
    ASSERT_EQ(v.FindOneFace(c.img.data(), c.w, c.h, face, first, second), FF_OK);
    EXPECT_LE(EyeError(c, first, second), 0.10);
}

TEST(FaceFindingReal, TiltedFaceKeepsEachEyeInItsBox)
{
    VELMORA_REQUIRE_DATA("bioid");
    Marked m;
    ASSERT_TRUE(ReadMarked(0, m));
    const double cx = (m.x1 + m.x2) / 2, cy = (m.y1 + m.y2) / 2;
    for (double degrees : {-12.0, 12.0}) {
        // Rotate about the eyes' midpoint (bilinear, grey outside).
        const double a = degrees * 3.14159265358979 / 180, ca = std::cos(a), sa = std::sin(a);
        Marked r = m;
        for (int y = 0; y < m.h; ++y)
            for (int x = 0; x < m.w; ++x) {
                const double sx = cx + (x - cx) * ca + (y - cy) * sa;
                const double sy = cy - (x - cx) * sa + (y - cy) * ca;
                const int ix = static_cast<int>(std::floor(sx)), iy = static_cast<int>(std::floor(sy));
                double v = 128;
                if (ix >= 0 && iy >= 0 && ix + 1 < m.w && iy + 1 < m.h) {
                    const double fx = sx - ix, fy = sy - iy;
                    const unsigned char* p = &m.img[static_cast<size_t>(iy) * m.w + ix];
                    v = (p[0] * (1 - fx) + p[1] * fx) * (1 - fy) + (p[m.w] * (1 - fx) + p[m.w + 1] * fx) * fy;
                }
                r.img[static_cast<size_t>(y) * m.w + x] = static_cast<unsigned char>(v + 0.5);
            }
        // Forward map of the marked eyes: the inverse of the sampling above.
        auto turn = [&](double& x, double& y) {
            const double dx = x - cx, dy = y - cy;
            x = cx + dx * ca - dy * sa;
            y = cy + dx * sa + dy * ca;
        };
        turn(r.x1, r.y1);
        turn(r.x2, r.y2);
        CVelmora v;
        CRect face;
        CPoint first, second;
        ASSERT_EQ(v.FindOneFace(r.img.data(), r.w, r.h, face, first, second), FF_OK) << degrees;
        EXPECT_LE(EyeError(r, first, second), 0.10) << degrees;
    }
}

// Every 10th image of the set (45): a guard against eye-box changes that lose
// accuracy. This sample is harder than the whole set: the design that met
// neither target there gets 32 and 43 of 45 here, the current one 36 and 44.
TEST(FaceFindingReal, BioIdSampleMeetsTheEyeAccuracyTargets)
{
    VELMORA_REQUIRE_DATA("bioid");
    CVelmora v;
    int present = 0, images = 0, within10 = 0, within25 = 0;
    for (int n = 0; n < 10000; ++n) {
        Marked m;
        if (!ReadMarked(n, m) || present++ % 10 != 0)
            continue;
        ++images;
        CRect face;
        CPoint first, second;
        if (v.FindOneFace(m.img.data(), m.w, m.h, face, first, second) != FF_OK)
            continue;
        const double e = EyeError(m, first, second);
        within10 += e <= 0.10;
        within25 += e <= 0.25;
    }
    ASSERT_GE(images, 10);
    EXPECT_GE(within10, 0.75 * images) << within10 << " of " << images;
    EXPECT_GE(within25, 0.95 * images) << within25 << " of " << images;
}

} // namespace
