#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <random>
#include <vector>

#include "gabor/GaborBank.h"
#include "gabor/Transform.h"
#include "support/FaceData.h"
#include "support/TestData.h"

namespace {

using Complex = std::complex<double>;
constexpr double kPi = 3.141592653;        // the value the recognizer passes
constexpr double kSigma = 2.0 * kPi;
constexpr double kFreqStep = 1.41421;
constexpr int kSide = CGaborBank::kSide;
constexpr int kFeatures = 7840;

const double kAngles[8] = {0.0, 0.39269908169872414, 0.7853981633974483, 1.1780972450961724,
                           1.5707963267948966, 2.1598449493429825, 2.552544031041707,
                           2.945243112740431};

std::vector<unsigned char> RandomFace(unsigned seed, int maxLevel = 255)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> level(0, maxLevel);
    std::vector<unsigned char> face(32 * 32);
    for (auto& p : face)
        p = static_cast<unsigned char>(level(rng));
    return face;
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

std::vector<double> Features(CGaborBank& bank, const std::vector<unsigned char>& face)
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

// Face row or column sampled by feature index i (0..13).
int SampledLine(int i)
{
    return i < 7 ? 2 + 2 * i : 4 + 2 * i;
}

double MaxAbs(const std::vector<double>& v)
{
    double m = 0.0;
    for (double x : v)
        m = std::max(m, std::abs(x));
    return m;
}

} // namespace

TEST(FFT1D, MatchesDirectDftAndInvertsForEverySize)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-100.0, 100.0);
    for (int m = 0; m <= 8; ++m) {
        const int n = 1 << m;
        std::vector<double> re(n), im(n);
        for (int i = 0; i < n; ++i) {
            re[i] = value(rng);
            im[i] = value(rng);
        }
        const std::vector<double> re0 = re, im0 = im;

        FFT1D(1, m, re.data(), im.data());
        for (int k = 0; k < n; ++k) {
            Complex direct = 0.0;
            for (int j = 0; j < n; ++j)
                direct += Complex(re0[j], im0[j]) * std::polar(1.0, -2.0 * M_PI * j * k / n);
            EXPECT_NEAR(re[k], direct.real(), 1e-11 * n * 100) << "m=" << m << " k=" << k;
            EXPECT_NEAR(im[k], direct.imag(), 1e-11 * n * 100) << "m=" << m << " k=" << k;
        }

        FFT1D(-1, m, re.data(), im.data());
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(re[i], re0[i], 1e-12 * 100);
            EXPECT_NEAR(im[i], im0[i], 1e-12 * 100);
        }
    }
}

TEST(FFT1D, RefusesSizesOutsideItsRange)
{
    double re[2] = {1.0, 2.0};
    double im[2] = {3.0, 4.0};
    FFT1D(1, -1, re, im);
    FFT1D(1, 31, re, im);
    FFT1D(1, 1, nullptr, im);
    EXPECT_EQ(re[0], 1.0);
    EXPECT_EQ(im[1], 4.0);
}

TEST(ComplexMultiply, ProductInPlace)
{
    double aRe[2] = {1.0, -2.0}, aIm[2] = {2.0, 0.5};
    const double bRe[2] = {3.0, 4.0}, bIm[2] = {-1.0, 2.0};
    ComplexMultiply(aRe, aIm, bRe, bIm, aRe, aIm, 2); // output over the first operand
    EXPECT_EQ(aRe[0], 5.0);  // (1 + 2i)(3 - i) = 5 + 5i
    EXPECT_EQ(aIm[0], 5.0);
    EXPECT_EQ(aRe[1], -9.0); // (-2 + 0.5i)(4 + 2i) = -9 - 2i
    EXPECT_EQ(aIm[1], -2.0);
}

// The kernels are built in space and stored as spectra: transformed back they
// must be the formula again, which also checks the 2-D transform both ways.
TEST(CGaborBank, KernelSpatialValuesFollowTheGaborFormula)
{
    CGaborBank& bank = DefaultBank();
    const double dc = std::exp(-kSigma * kSigma / 2.0);
    std::vector<double> re(kSide * kSide), im(kSide * kSide);
    for (int n : {0, 4, 17, 39}) {
        std::copy_n(bank.KernelRe(n), re.size(), re.begin());
        std::copy_n(bank.KernelIm(n), im.size(), im.begin());
        bank.FFT2D(-1, re.data(), im.data());
        if (n == 0) {
            // Orientation 0, scale 0: amplitude k^2 / (2k)^2 at the centre.
            EXPECT_NEAR(re[15 * kSide + 15], (1.0 - dc) * 0.25, 1e-15);
            EXPECT_NEAR(im[15 * kSide + 15], 0.0, 1e-15);
        }
        const int u = n / 5, v = n % 5;
        for (int r = 0; r < kSide; ++r) {
            for (int c = 0; c < kSide; ++c) {
                const bool support = r < 32 && c < 32;
                const Complex want = support ? SpatialKernel(u, v, r - 15, c - 15) : 0.0;
                ASSERT_NEAR(re[r * kSide + c], want.real(), 1e-15) << n << ' ' << r << ' ' << c;
                ASSERT_NEAR(im[r * kSide + c], want.imag(), 1e-15) << n << ' ' << r << ' ' << c;
            }
        }
    }
}

TEST(CGaborBank, FeaturesAreTheSpatialConvolutionAtTheSamplePoints)
{
    const auto face = RandomFace(11);
    const auto features = Features(DefaultBank(), face);
    ASSERT_EQ(features.size(), static_cast<size_t>(kFeatures));

    // Sampled point (Y, X) of the response is face point (Y - 15, X - 15):
    // sum over face pixels of face[r][c] x kernel at offset (Y - 15 - r, X - 15 - c).
    double worst = 0.0;
    for (int v = 0; v < 5; ++v) {
        for (int u = 0; u < 8; ++u) {
            for (int i = 0; i < 14; ++i) {
                for (int j = 0; j < 14; ++j) {
                    const int y = SampledLine(i), x = SampledLine(j);
                    Complex sum = 0.0;
                    for (int r = 0; r < 32; ++r) {
                        const int dy = y - r;
                        if (dy < -15 || dy > 16)
                            continue;
                        for (int c = 0; c < 32; ++c) {
                            const int dx = x - c;
                            if (dx >= -15 && dx <= 16)
                                sum += double(face[r * 32 + c]) * SpatialKernel(u, v, dy, dx);
                        }
                    }
                    const double got = features[((v * 8 + u) * 14 + i) * 14 + j];
                    const double rel = std::abs(got - std::abs(sum)) / std::abs(sum);
                    worst = std::max(worst, rel);
                }
            }
        }
    }
    EXPECT_LT(worst, 1e-9);
}

// The filtering spelled out the plain way: transform the padded face, multiply
// by each kernel spectrum, transform back, read every second point.
std::vector<double> ReferenceFeatures(CGaborBank& bank, const std::vector<unsigned char>& face)
{
    std::vector<double> faceRe(kSide * kSide, 0.0), faceIm(kSide * kSide, 0.0);
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 32; ++c)
            faceRe[r * kSide + c] = face[r * 32 + c];
    bank.FFT2D(1, faceRe.data(), faceIm.data());

    std::vector<double> out, re(kSide * kSide), im(kSide * kSide);
    for (int v = 0; v < bank.ScaleCount(); ++v) {
        for (int u = 0; u < bank.OrientationCount(); ++u) {
            const int n = u * bank.ScaleCount() + v;
            ComplexMultiply(faceRe.data(), faceIm.data(), bank.KernelRe(n), bank.KernelIm(n),
                            re.data(), im.data(), kSide * kSide);
            bank.FFT2D(-1, re.data(), im.data());
            for (int y = 17; y < 47; y += 2)
                for (int x = 17; x < 47; x += 2)
                    if (x != 31 && y != 31)
                        out.push_back(std::hypot(re[y * kSide + x], im[y * kSide + x]));
        }
    }
    return out;
}

// Both ways round to about 1e-13 absolute, so values near zero differ more in
// relative terms; the tolerance is relative to the face's largest feature.
TEST(CGaborBank, SampledFilteringMatchesThePlainTransforms)
{
    CGaborBank& bank = DefaultBank();
    std::vector<std::vector<unsigned char>> faces = {RandomFace(1), RandomFace(2),
                                                     std::vector<unsigned char>(1024, 128)};
    std::vector<unsigned char> wave(1024), ramp(1024);
    for (int r = 0; r < 32; ++r) {
        for (int c = 0; c < 32; ++c) {
            wave[r * 32 + c] =
                static_cast<unsigned char>(128 + 100 * std::sin(r * 0.3) * std::cos(c * 0.2));
            ramp[r * 32 + c] = static_cast<unsigned char>(r * 4 + c * 3);
        }
    }
    faces.push_back(wave);
    faces.push_back(ramp);
    // A real face when the data is there: every second pixel of a 64 x 64
    // window around the eyes and nose of a 92 x 112 ORL image.
    velmora_test::GreyImage orl;
    if (velmora_test::HasData("orl")) {
        ASSERT_TRUE(velmora_test::ReadPgm(velmora_test::DataDir() / "orl" / "s1" / "1.pgm", orl));
        ASSERT_EQ(orl.width, 92);
        std::vector<unsigned char> face(32 * 32);
        for (int r = 0; r < 32; ++r)
            for (int c = 0; c < 32; ++c)
                face[r * 32 + c] = orl.pixels[(24 + 2 * r) * orl.width + 14 + 2 * c];
        faces.push_back(face);
    }
    for (const auto& face : faces) {
        const auto fast = Features(bank, face);
        const auto plain = ReferenceFeatures(bank, face);
        ASSERT_EQ(fast.size(), plain.size());
        const double scale = MaxAbs(plain);
        ASSERT_GT(scale, 0.0);
        for (size_t i = 0; i < fast.size(); ++i)
            ASSERT_NEAR(fast[i], plain[i], 1e-12 * scale) << "feature " << i;
    }
}

TEST(CGaborBank, ZeroFaceGivesZeros)
{
    const auto zeros = Features(DefaultBank(), std::vector<unsigned char>(1024, 0));
    ASSERT_EQ(zeros.size(), static_cast<size_t>(kFeatures));
    EXPECT_EQ(MaxAbs(zeros), 0.0);
}

TEST(CGaborBank, SmallerBanksLeaveTheUpperSlotsEmptyAndOversizedOnesAreRefused)
{
    CGaborBank bank;
    EXPECT_EQ(bank.BuildKernels(2, 3, kSigma, kSigma, kPi, kFreqStep), 1);
    const auto features = Features(bank, RandomFace(2));
    const auto plain = ReferenceFeatures(bank, RandomFace(2));
    ASSERT_EQ(features.size(), 6u * 196u);
    ASSERT_EQ(plain.size(), features.size());
    for (size_t i = 0; i < features.size(); ++i)
        ASSERT_NEAR(features[i], plain[i], 1e-12 * MaxAbs(plain)) << "feature " << i;
    for (int n = 6; n < CGaborBank::kMaxKernels; ++n) {
        ASSERT_TRUE(std::all_of(bank.KernelRe(n), bank.KernelRe(n) + kSide * kSide,
                                [](double x) { return x == 0.0; }));
        ASSERT_TRUE(std::all_of(bank.KernelIm(n), bank.KernelIm(n) + kSide * kSide,
                                [](double x) { return x == 0.0; }));
    }

    EXPECT_EQ(bank.BuildKernels(1, 9, kSigma, kSigma, kPi, kFreqStep), 0);
    EXPECT_EQ(bank.BuildKernels(6, 7, kSigma, kSigma, kPi, kFreqStep), 0);
    EXPECT_EQ(bank.BuildKernels(-2000000000, -2000000000, kSigma, kSigma, kPi, kFreqStep), 0);
    EXPECT_EQ(bank.ScaleCount(), 2); // a refused build keeps the bank as it was
    EXPECT_EQ(bank.OrientationCount(), 3);

    // Degenerate but in-range settings build nothing and extract nothing.
    EXPECT_EQ(bank.BuildKernels(0, 8, kSigma, kSigma, kPi, kFreqStep), 1);
    bank.LoadFace(RandomFace(2).data());
    EXPECT_EQ(bank.ExtractFeatures(), 0);
}

TEST(CGaborBank, CopyFeaturesClampsItsCount)
{
    CGaborBank& bank = DefaultBank();
    const auto all = Features(bank, RandomFace(9));
    std::vector<double> out(CGaborBank::kFeatureCapacity + 10, -1.0);
    bank.CopyFeatures(out.data(), static_cast<int>(out.size()));
    EXPECT_TRUE(std::equal(all.begin(), all.end(), out.begin()));
    EXPECT_EQ(out[CGaborBank::kFeatureCapacity], -1.0);
    bank.CopyFeatures(nullptr, 10);
    bank.CopyFeatures(out.data(), -5);
}
