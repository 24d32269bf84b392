#include "support/Common.h"

#include <complex>

#include "gabor/GaborBank.h"
#include "gabor/Transform.h"
#include "support/FaceData.h"
#include "support/NaiveVsFast.h"
#include "support/TestData.h"

namespace {

using Complex = std::complex<double>;
using Face = std::vector<unsigned char>;
constexpr double kPi = 3.141592653; // the value the recognizer passes
constexpr double kSigma = 2.0 * kPi;
constexpr double kFreqStep = 1.41421;
constexpr int kSide = CGaborBank::kSide;
constexpr int kFeatures = 7840;

const double kAngles[8] = {0.0, 0.39269908169872414, 0.7853981633974483, 1.1780972450961724,
                           1.5707963267948966, 2.1598449493429825, 2.552544031041707, 2.945243112740431};

Face RandomFace(unsigned seed)
{
    std::mt19937 rng(seed);
    return velmora_test::RandomBytes(32 * 32, rng);
}

// One default bank for the whole file: building it costs 40 transforms.
CGaborBank& DefaultBank()
{
    static CGaborBank* bank = [] {
        auto* b = new CGaborBank;
        b->BuildKernels(5, 8, kSigma, kSigma, kPi, kFreqStep);
        return b;
    }();
    return *bank;
}

std::vector<double> Features(CGaborBank& bank, const Face& face)
{
    bank.LoadFace(face.data());
    std::vector<double> out(bank.ExtractFeatures());
    bank.CopyFeatures(out.data(), static_cast<int>(out.size()));
    return out;
}

// Spatial kernel of orientation u and scale v at offset (y, x), from the Gabor
// formula evaluated here independently of the bank.
Complex SpatialKernel(int u, int v, int y, int x)
{
    const double k = kPi / std::pow(kFreqStep, v);
    const double envelope = std::exp(-k * k * (x * x + y * y) / (kSigma * kSigma));
    const double amplitude = envelope * k * k / (kSigma * kSigma);
    const double theta = k * (x * std::sin(kAngles[u]) + y * std::cos(kAngles[u]));
    return amplitude * (std::polar(1.0, theta) - std::exp(-kSigma * kSigma / 2.0));
}

// Every feature against the Gabor formula convolved with the face directly in
// space. Face rows and columns 2, 4, .., 14, 18, .., 30 are sampled, and
// sampled point (Y, X) of the response is face point (Y - 15, X - 15): the sum
// over face pixels of face[r][c] x kernel at offset (Y - 15 - r, X - 15 - c).
// Both agree to about 5e-15 of the face's largest feature and 1e-10 of each
// feature (measured); the tolerance is the smaller of 1e-13 and 1e-9 of those.
void ExpectSpatialConvolution(CGaborBank& bank, const Face& face)
{
    const int scales = bank.ScaleCount(), orientations = bank.OrientationCount();
    std::vector<Complex> kernel(static_cast<size_t>(scales) * orientations * 33 * 33); // offsets -16..16
    for (size_t i = 0; i < kernel.size(); ++i)
        kernel[i] = SpatialKernel(static_cast<int>(i / 1089 % orientations), static_cast<int>(i / 1089 / orientations),
                                  static_cast<int>(i / 33 % 33) - 16, static_cast<int>(i % 33) - 16);
    const auto line = [](int i) { return i < 7 ? 2 + 2 * i : 4 + 2 * i; };
    const auto features = Features(bank, face);
    std::vector<double> direct(static_cast<size_t>(scales) * orientations * 196);
    ASSERT_EQ(features.size(), direct.size());
    for (size_t f = 0; f < direct.size(); ++f) {
        const Complex* k = &kernel[f / 196 * 1089 + 16 * 33 + 16]; // v then u, as the features
        const int y = line(static_cast<int>(f / 14 % 14)), x = line(static_cast<int>(f % 14));
        Complex sum = 0.0;
        for (int r = std::max(0, y - 16); r <= std::min(31, y + 15); ++r)
            for (int c = std::max(0, x - 16); c <= std::min(31, x + 15); ++c)
                sum += double(face[r * 32 + c]) * k[(y - r) * 33 + (x - c)];
        direct[f] = std::abs(sum);
    }
    const double scale = *std::max_element(direct.begin(), direct.end()); // magnitudes
    ASSERT_GT(scale, 0.0);
    for (size_t f = 0; f < direct.size(); ++f)
        ASSERT_NEAR(features[f], direct[f], std::min(1e-13 * scale, 1e-9 * direct[f])) << "feature " << f;
}

} // namespace

TEST(FFT1D, MatchesDirectDftAndInvertsForEverySize)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-100.0, 100.0);
    for (int m = 0; m <= 8; ++m) {
        const int n = 1 << m;
        std::vector<double> re(n), im(n);
        for (int i = 0; i < n; ++i)
            re[i] = value(rng), im[i] = value(rng);
        const std::vector<double> re0 = re, im0 = im;
        FFT1D(1, m, re.data(), im.data());
        for (int k = 0; k < n; ++k) {
            Complex direct = 0.0;
            for (int j = 0; j < n; ++j)
                direct += Complex(re0[j], im0[j]) * std::polar(1.0, -2.0 * M_PI * j * k / n);
            EXPECT_NEAR(re[k], direct.real(), 1e-9 * n) << "m=" << m << " k=" << k;
            EXPECT_NEAR(im[k], direct.imag(), 1e-9 * n) << "m=" << m << " k=" << k;
        }
        FFT1D(-1, m, re.data(), im.data());
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(re[i], re0[i], 1e-10);
            EXPECT_NEAR(im[i], im0[i], 1e-10);
        }
    }
}

TEST(FFT1D, RefusesSizesOutsideItsRangeAndComplexMultiplyWorksInPlace)
{
    double re[2] = {1.0, 2.0}, im[2] = {3.0, 4.0};
    for (int m : {-1, 31})
        FFT1D(1, m, re, im);
    FFT1D(1, 1, nullptr, im);
    EXPECT_EQ(std::make_pair(re[0], im[1]), std::make_pair(1.0, 4.0));

    // (1 + 2i)(3 - i) = 5 + 5i and (-2 + 0.5i)(4 + 2i) = -9 - 2i, written over the first operand.
    double aRe[2] = {1.0, -2.0}, aIm[2] = {2.0, 0.5};
    const double bRe[2] = {3.0, 4.0}, bIm[2] = {-1.0, 2.0};
    ComplexMultiply(aRe, aIm, bRe, bIm, aRe, aIm, 2);
    EXPECT_EQ(std::vector<double>({aRe[0], aIm[0], aRe[1], aIm[1]}), std::vector<double>({5.0, 5.0, -9.0, -2.0}));
}

// The kernels are built in space and stored as spectra: a fault in either, or
// in the 2-D transform, shows in the features.
TEST(CGaborBank, FeaturesAreTheSpatialConvolutionAtTheSamplePoints)
{
    std::vector<Face> faces = {RandomFace(11), RandomFace(1), RandomFace(2), Face(1024, 128), Face(1024), Face(1024)};
    for (int i = 0; i < 1024; ++i) {
        const int r = i / 32, c = i % 32;
        faces[4][i] = static_cast<unsigned char>(128 + 100 * std::sin(r * 0.3) * std::cos(c * 0.2)); // a wave
        faces[5][i] = static_cast<unsigned char>(r * 4 + c * 3);                                     // a ramp
    }
    // A real face when the data is there: every second pixel of a 64 x 64
    // window around the eyes and nose of a 92 x 112 ORL image.
    velmora_test::GreyImage orl;
    if (velmora_test::HasData("orl")) {
        ASSERT_TRUE(velmora_test::ReadPgm(velmora_test::DataDir() / "orl" / "s1" / "1.pgm", orl));
        ASSERT_EQ(orl.width, 92);
        faces.emplace_back(1024);
        for (int i = 0; i < 1024; ++i)
            faces.back()[i] = orl.pixels[(24 + 2 * (i / 32)) * orl.width + 14 + 2 * (i % 32)];
    }
    for (const auto& face : faces)
        ExpectSpatialConvolution(DefaultBank(), face);
}

TEST(CGaborBank, SmallerBanksLeaveTheUpperSlotsEmptyAndOversizedOnesAreRefused)
{
    CGaborBank bank;
    EXPECT_EQ(bank.BuildKernels(2, 3, kSigma, kSigma, kPi, kFreqStep), 1);
    EXPECT_EQ(Features(bank, RandomFace(2)).size(), 6u * 196u);
    ExpectSpatialConvolution(bank, RandomFace(2));
    // The batch call, with an unpaired orientation and across a face group,
    // gives every face exactly its own values.
    std::vector<Face> faces;
    std::vector<const unsigned char*> facePtrs;
    std::vector<std::vector<double>> batch(CGaborBank::kFaceGroup + 3, std::vector<double>(6 * 196));
    std::vector<double*> rows;
    for (unsigned i = 0; i < batch.size(); ++i)
        faces.push_back(RandomFace(10 + i)), rows.push_back(batch[i].data());
    for (const Face& face : faces)
        facePtrs.push_back(face.data());
    EXPECT_EQ(bank.ExtractFeatures(facePtrs.data(), static_cast<int>(faces.size()), rows.data()), 6 * 196);
    for (size_t i = 0; i < faces.size(); ++i)
        EXPECT_EQ(batch[i], Features(bank, faces[i])) << "face " << i;
    const auto zero = [](double x) { return x == 0.0; };
    for (int n = 6; n < CGaborBank::kMaxKernels; ++n)
        ASSERT_TRUE(std::all_of(bank.KernelRe(n), bank.KernelRe(n) + kSide * kSide, zero) &&
                    std::all_of(bank.KernelIm(n), bank.KernelIm(n) + kSide * kSide, zero))
            << n;

    for (const auto& [scales, orientations] : {std::pair{1, 9}, {6, 7}, {-2000000000, -2000000000}})
        EXPECT_EQ(bank.BuildKernels(scales, orientations, kSigma, kSigma, kPi, kFreqStep), 0) << scales;
    EXPECT_EQ(bank.ScaleCount(), 2); // a refused build keeps the bank as it was
    EXPECT_EQ(bank.OrientationCount(), 3);

    // Degenerate but in-range settings build nothing and extract nothing.
    EXPECT_EQ(bank.BuildKernels(0, 8, kSigma, kSigma, kPi, kFreqStep), 1);
    bank.LoadFace(RandomFace(2).data());
    EXPECT_EQ(bank.ExtractFeatures(), 0);
}

TEST(CGaborBank, ZeroFaceGivesZerosAndCopyFeaturesClampsItsCount)
{
    CGaborBank& bank = DefaultBank();
    EXPECT_EQ(Features(bank, Face(1024, 0)), std::vector<double>(kFeatures, 0.0));

    const auto all = Features(bank, RandomFace(9));
    std::vector<double> out(CGaborBank::kFeatureCapacity + 10, -1.0);
    bank.CopyFeatures(out.data(), static_cast<int>(out.size()));
    EXPECT_TRUE(std::equal(all.begin(), all.end(), out.begin()));
    EXPECT_EQ(out[CGaborBank::kFeatureCapacity], -1.0);
    bank.CopyFeatures(nullptr, 10);
    bank.CopyFeatures(out.data(), -5);
}
