#include "gabor/GaborBank.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "gabor/Transform.h"

namespace {

constexpr int kLog2Side = 6;
constexpr int kHalf = 15; // offset of the kernel centre in its array

// Kernel orientations in radians. The last three step by pi/8 from 11 pi/16,
// not from 5 pi/8; the values are kept exactly as the bank was trained with.
constexpr double kOrientations[CGaborBank::kMaxOrientations] = {
    0.0,
    0.39269908169872414,
    0.7853981633974483,
    1.1780972450961724,
    1.5707963267948966,
    2.1598449493429825,
    2.552544031041707,
    2.945243112740431,
};

} // namespace

CGaborBank::CGaborBank()
    : m_plfFeature(kFeatureCapacity, 0.0),
      m_nImgWidth(32),
      m_nImgHeight(32),
      m_lfSigmaX(0.0),
      m_lfSigmaY(0.0),
      m_lfFreqStep(0.0),
      m_lfKmax(0.0),
      m_nScales(5),
      m_nOrientations(8),
      m_plfKernelRe(static_cast<size_t>(kMaxKernels) * kCells, 0.0),
      m_plfKernelIm(static_cast<size_t>(kMaxKernels) * kCells, 0.0),
      m_plfFaceRe(kCells, 0.0),
      m_plfFaceIm(kCells, 0.0),
      m_plfProductRe(kCells, 0.0),
      m_plfProductIm(kCells, 0.0),
      m_plfColumnRe(kSide, 0.0),
      m_plfColumnIm(kSide, 0.0)
{
}

CGaborBank::~CGaborBank() = default;

int CGaborBank::BuildKernels(int nScales, int nOrientations, double sigmaX, double sigmaY,
                             double kmax, double freqStep)
{
    if (nOrientations > kMaxOrientations ||
        static_cast<int64_t>(nScales) * nOrientations > kMaxKernels)
        return 0;

    m_nScales = nScales;
    m_nOrientations = nOrientations;
    m_lfSigmaX = sigmaX;
    m_lfSigmaY = sigmaY;
    m_lfKmax = kmax;
    m_lfFreqStep = freqStep;

    // Subtracting dc makes the real part's integral over the envelope vanish, so
    // a flat face gives (almost) no response.
    const double dc = std::exp(-sigmaY * sigmaY / 2.0);
    std::fill(m_plfKernelRe.begin(), m_plfKernelRe.end(), 0.0);
    std::fill(m_plfKernelIm.begin(), m_plfKernelIm.end(), 0.0);

    int n = 0;
    for (int u = 0; u < nOrientations; ++u) {
        const double sinAngle = std::sin(kOrientations[u]);
        const double cosAngle = std::cos(kOrientations[u]);
        for (int v = 0; v < nScales; ++v) {
            const double k = kmax / std::pow(freqStep, static_cast<double>(v));
            const double k2 = k * k;
            double* re = m_plfKernelRe.data() + static_cast<size_t>(n) * kCells;
            double* im = m_plfKernelIm.data() + static_cast<size_t>(n) * kCells;
            for (int y = -kHalf; y <= kHalf + 1; ++y) {
                for (int x = -kHalf; x <= kHalf + 1; ++x) {
                    const double g =
                        std::exp(-k2 * (x * x / (sigmaX * sigmaX) + y * y / (sigmaY * sigmaY)));
                    const double amplitude = g * k2 / (sigmaY * sigmaX);
                    const double theta = (x * sinAngle + y * cosAngle) * k;
                    const int cell = (y + kHalf) * kSide + (x + kHalf);
                    re[cell] = (std::cos(theta) - dc) * amplitude;
                    im[cell] = std::sin(theta) * amplitude;
                }
            }
            FFT2D(1, re, im);
            ++n;
        }
    }
    return 1;
}

void CGaborBank::FFT2D(int direction, double* re, double* im)
{
    const short dir = static_cast<short>(direction);
    for (int row = 0; row < kSide; ++row)
        FFT1D(dir, kLog2Side, re + row * kSide, im + row * kSide);

    double* colRe = m_plfColumnRe.data();
    double* colIm = m_plfColumnIm.data();
    for (int col = 0; col < kSide; ++col) {
        for (int row = 0; row < kSide; ++row) {
            colRe[row] = re[row * kSide + col];
            colIm[row] = im[row * kSide + col];
        }
        FFT1D(dir, kLog2Side, colRe, colIm);
        for (int row = 0; row < kSide; ++row) {
            re[row * kSide + col] = colRe[row];
            im[row * kSide + col] = colIm[row];
        }
    }
}

void CGaborBank::LoadFace(const unsigned char* face)
{
    if (face == nullptr)
        return;
    for (int r = 0; r < kSide; ++r) {
        for (int c = 0; c < kSide; ++c) {
            const bool inside = r < m_nImgHeight && c < m_nImgWidth;
            m_plfFaceRe[r * kSide + c] = inside ? face[r * m_nImgWidth + c] : 0.0;
            m_plfFaceIm[r * kSide + c] = 0.0;
        }
    }
    FFT2D(1, m_plfFaceRe.data(), m_plfFaceIm.data());
}

int CGaborBank::ExtractFeatures()
{
    int count = 0;
    for (int v = 0; v < m_nScales; ++v) {
        for (int u = 0; u < m_nOrientations; ++u) {
            const int n = u * m_nScales + v;
            ComplexMultiply(m_plfFaceRe.data(), m_plfFaceIm.data(), KernelRe(n), KernelIm(n),
                            m_plfProductRe.data(), m_plfProductIm.data(), kCells);
            FFT2D(-1, m_plfProductRe.data(), m_plfProductIm.data());
            for (int y = kHalf + 2; y < kHalf + m_nImgHeight; y += 2) {
                for (int x = kHalf + 2; x < kHalf + m_nImgWidth; x += 2) {
                    if (x == m_nImgWidth / 2 + kHalf || y == m_nImgHeight / 2 + kHalf)
                        continue;
                    const double re = m_plfProductRe[y * kSide + x];
                    const double im = m_plfProductIm[y * kSide + x];
                    m_plfFeature[count++] = std::sqrt(re * re + im * im);
                }
            }
        }
    }
    return count;
}

void CGaborBank::CopyFeatures(double* out, int n) const
{
    if (out == nullptr || n <= 0)
        return;
    std::copy_n(m_plfFeature.begin(), std::min(n, kFeatureCapacity), out);
}
