#include "gabor/GaborBank.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "gabor/Transform.h"

namespace {

constexpr int kLog2Side = 6;
constexpr int kHalf = 15; // offset of the kernel centre in its array

// Kernel orientations in radians. The last three step by pi/8 from 11 pi/16,
// not from 5 pi/8; these are the values existing models were trained with.
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

constexpr int kQuad = 32;               // quadrant side
constexpr int kQuadCells = kQuadrantCells;
static_assert(kQuadCells == kQuad * kQuad, "quadrant layout");
constexpr int kSamples = 14;            // sampled rows (and columns) per kernel
constexpr int kSampleLanes = 16;        // sampled columns padded to a lane row

// Sampled response line i (0..13) is 2m + 1 for this m of the folded transform:
// lines 17, 19, .., 45 without the face's middle line 31.
constexpr int SampleIndex(int i)
{
    return i < 7 ? 8 + i : 9 + i;
}

// Where the transforms leave the sampled lines (in bit-reversed order), as
// offsets into an array of lines `stride` values apart. The last entries,
// beyond the samples, repeat the last one: they fill the padding lanes.
struct SampledLines {
    explicit constexpr SampledLines(int stride) : offsets()
    {
        for (int j = 0; j < kSampleLanes; ++j)
            offsets[j] = BitReverse(SampleIndex(j < kSamples ? j : kSamples - 1), 5) * stride;
    }
    int offsets[kSampleLanes];
};
constexpr SampledLines kSampledColumns(kQuad);
constexpr SampledLines kSampledRows(kSampleLanes);

} // namespace

// How a face is filtered. The response is wanted only at odd rows and columns
// (17, 19, .., 45 of the 64 x 64 result). At an odd output 2m + 1 the inverse
// 64-point transform of P reduces to the 32-point one of
// (P[k] - P[k + 32]) x exp(2 pi i k / 64) at m: the first decimation-in-frequency
// stage. Folding both axes that way, with the spectra split into their four
// 32 x 32 quadrants q = (row half, column half),
//   Q = sum over q of F_q x [K_q x sign(q) x exp(2 pi i (row + column) / 64) / 4096],
// where the bracket depends on the kernel only and is built with it. What is
// left per kernel is one 32 x 32 inverse transform, over columns for all rows
// and then over rows for the 14 sampled columns only.
//
// The face spectrum is made the same way round: the face occupies half of
// each axis, so each 64-point transform is two 32-point ones, of g[n] (even
// outputs) and of g[n] x exp(-2 pi i n / 64) (odd outputs), and the all-zero
// lower half of the padded face is never touched.

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
      m_plfFaceSpectrum(static_cast<size_t>(kFaceGroup) * 2 * kCells, 0.0),
      m_plfProducts(static_cast<size_t>(kFaceGroup) * kCells, 0.0),
      m_plfColumnRe(kSide, 0.0),
      m_plfColumnIm(kSide, 0.0),
      m_plfFolded(static_cast<size_t>(kMaxKernels) * 2 * kCells, 0.0),
      m_plfWorkRe(6 * 32 * 32, 0.0),
      m_plfWorkIm(6 * 32 * 32, 0.0),
      m_forward32(5, -1),
      m_inverse32(5, 1),
      m_oddShift(6, -1)
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
    std::fill(m_plfFolded.begin(), m_plfFolded.end(), 0.0);

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
            FoldKernel(n);
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

void CGaborBank::FoldKernel(int n)
{
    const double* kre = KernelRe(n);
    const double* kim = KernelIm(n);
    double* folded = m_plfFolded.data() + static_cast<size_t>(n) * 2 * kCells;
    double twRe[2 * kQuad - 1], twIm[2 * kQuad - 1];
    for (int t = 0; t < 2 * kQuad - 1; ++t) {
        const double angle = 2.0 * M_PI * t / kSide;
        twRe[t] = std::cos(angle) / kCells;
        twIm[t] = std::sin(angle) / kCells;
    }
    for (int q = 0; q < 4; ++q) {
        const int rowHalf = q >> 1, colHalf = q & 1;
        const double sign = (rowHalf + colHalf) & 1 ? -1.0 : 1.0;
        for (int col = 0; col < kQuad; ++col) {
            for (int row = 0; row < kQuad; ++row) {
                const double wr = sign * twRe[row + col];
                const double wi = sign * twIm[row + col];
                const int src = (row + kQuad * rowHalf) * kSide + col + kQuad * colHalf;
                const int dst = QuadrantIndex(q, col * kQuad + row);
                folded[dst] = kre[src] * wr - kim[src] * wi;
                folded[dst + kQuadrantBlock] = kre[src] * wi + kim[src] * wr;
            }
        }
    }
}

void CGaborBank::LoadFace(const unsigned char* face)
{
    if (face == nullptr)
        return;
    TransformFace(face, m_plfFaceSpectrum.data());
}

void CGaborBank::TransformFace(const unsigned char* face, double* spectrum)
{
    // Work layout: a0, a1 (32 x 32 each, lanes = columns), then b0, b1
    // (32 x 64 each, lanes = rows of the spectrum).
    double* a0r = m_plfWorkRe.data();
    double* a0i = m_plfWorkIm.data();
    double* a1r = a0r + kQuadCells;
    double* a1i = a0i + kQuadCells;
    double* b0r = a1r + kQuadCells;
    double* b0i = a1i + kQuadCells;
    double* b1r = b0r + 2 * kQuadCells;
    double* b1i = b0i + 2 * kQuadCells;

    // Along the rows of the face (columns are lanes): even and odd outputs.
    for (int r = 0; r < kQuad; ++r) {
        const double wr = m_oddShift.re[r], wi = m_oddShift.im[r];
        for (int c = 0; c < kQuad; ++c) {
            const double g = r < m_nImgHeight && c < m_nImgWidth ? face[r * m_nImgWidth + c] : 0.0;
            a0r[r * kQuad + c] = g;
            a0i[r * kQuad + c] = 0.0;
            a1r[r * kQuad + c] = g * wr;
            a1i[r * kQuad + c] = g * wi;
        }
    }
    LaneFFT(m_forward32, kQuad, a0r, a0i);
    LaneFFT(m_forward32, kQuad, a1r, a1i);

    // Transpose so that spectrum rows become lanes, then the same along columns.
    for (int parity = 0; parity < 2; ++parity) {
        const double* ar = parity ? a1r : a0r;
        const double* ai = parity ? a1i : a0i;
        for (int p = 0; p < kQuad; ++p) {
            const int row = 2 * BitReverse(p, 5) + parity;
            for (int c = 0; c < kQuad; ++c) {
                b0r[c * kSide + row] = ar[p * kQuad + c];
                b0i[c * kSide + row] = ai[p * kQuad + c];
            }
        }
    }
    for (int c = 0; c < kQuad; ++c) {
        const double wr = m_oddShift.re[c], wi = m_oddShift.im[c];
        for (int row = 0; row < kSide; ++row) {
            const double xr = b0r[c * kSide + row], xi = b0i[c * kSide + row];
            b1r[c * kSide + row] = xr * wr - xi * wi;
            b1i[c * kSide + row] = xr * wi + xi * wr;
        }
    }
    LaneFFT(m_forward32, kSide, b0r, b0i);
    LaneFFT(m_forward32, kSide, b1r, b1i);

    // Into quadrants: element (column, row) of quadrant (row half, column half).
    for (int parity = 0; parity < 2; ++parity) {
        const double* br = parity ? b1r : b0r;
        const double* bi = parity ? b1i : b0i;
        for (int p = 0; p < kQuad; ++p) {
            const int col = 2 * BitReverse(p, 5) + parity;
            for (int rowHalf = 0; rowHalf < 2; ++rowHalf) {
                const int q = rowHalf * 2 + col / kQuad;
                const int cell = (col % kQuad) * kQuad;
                const int src = p * kSide + rowHalf * kQuad;
                for (int row = 0; row < kQuad; ++row) {
                    const int dst = QuadrantIndex(q, cell + row);
                    spectrum[dst] = br[src + row];
                    spectrum[dst + kQuadrantBlock] = bi[src + row];
                }
            }
        }
    }
}

void CGaborBank::SampleResponse(double* qr, double* qi, double* out)
{
    // The inverse transform along columns for every row.
    LaneFFT(m_inverse32, kQuad, qr, qi);

    // The sampled columns become lanes; the inverse transform along rows.
    double* tr = m_plfWorkRe.data();
    double* ti = m_plfWorkIm.data();
    GatherLanes(qr, kSampledColumns.offsets, tr);
    GatherLanes(qi, kSampledColumns.offsets, ti);
    LaneFFT(m_inverse32, kSampleLanes, tr, ti);
    Magnitudes(tr, ti, kSampledRows.offsets, kSamples, kSamples, out);
}

int CGaborBank::ExtractFeatures()
{
    const double* spectrum = m_plfFaceSpectrum.data();
    double* out = m_plfFeature.data();
    return FilterSpectra(&spectrum, 1, &out);
}

int CGaborBank::ExtractFeatures(const unsigned char* const* faces, int count, double* const* out)
{
    int n = 0;
    const double* spectra[kFaceGroup];
    double* dest[kFaceGroup];
    for (int b0 = 0; b0 < count; b0 += kFaceGroup) {
        const int group = std::min(kFaceGroup, count - b0);
        for (int g = 0; g < group; ++g) {
            double* spectrum = m_plfFaceSpectrum.data() + static_cast<size_t>(g) * 2 * kCells;
            TransformFace(faces[b0 + g], spectrum);
            spectra[g] = spectrum;
            dest[g] = out[b0 + g];
        }
        n = FilterSpectra(spectra, group, dest);
    }
    return n;
}

int CGaborBank::FilterSpectra(const double* const* spectra, int nFaces, double* const* out)
{
    // Orientations go in pairs through the folded product, which then reads a
    // face spectrum once for two kernels; the faces take turns with each pair.
    constexpr int kPerKernel = kSamples * kSamples;
    double* products[kFaceGroup];
    for (int g = 0; g < nFaces; ++g)
        products[g] = m_plfProducts.data() + static_cast<size_t>(g) * 4 * kQuadCells;
    int count = 0;
    for (int v = 0; v < m_nScales; ++v) {
        for (int u = 0; u < m_nOrientations; u += 2) {
            const size_t n = static_cast<size_t>(u * m_nScales + v);
            const double* first = m_plfFolded.data() + n * 2 * kCells;
            const bool pair = u + 1 < m_nOrientations;
            if (pair) {
                const double* second = first + static_cast<size_t>(m_nScales) * 2 * kCells;
                SumOfQuadrantProductsGroup(spectra, nFaces, first, second, products);
            }
            for (int g = 0; g < nFaces; ++g) {
                double* q = products[g];
                if (!pair)
                    SumOfQuadrantProducts(spectra[g], first, q, q + kQuadCells);
                SampleResponse(q, q + kQuadCells, out[g] + count);
                if (pair)
                    SampleResponse(q + 2 * kQuadCells, q + 3 * kQuadCells, out[g] + count + kPerKernel);
            }
            count += (pair ? 2 : 1) * kPerKernel;
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
