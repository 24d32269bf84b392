#pragma once
// The bank of complex Gabor kernels, held as 64 x 64 spectra, and the buffers in
// which a 32 x 32 reduced face is filtered with them. One instance lives for the
// library's life (g_gaborBank); filtering allocates nothing.
#include <cstddef>
#include <vector>

#include "common/AlignedVector.h"
#include "gabor/LaneFFT.h"

class CGaborBank {
public:
    static constexpr int kSide = 64;                   // transform size per axis
    static constexpr int kCells = kSide * kSide;       // 4096
    static constexpr int kMaxKernels = 40;
    static constexpr int kMaxOrientations = 8;
    static constexpr int kFeatureCapacity = 9000;
    static constexpr int kFaceGroup = 8; // faces filtered together by the batch call

    CGaborBank();
    virtual ~CGaborBank();
    CGaborBank(const CGaborBank&) = delete;
    CGaborBank& operator=(const CGaborBank&) = delete;

    // Builds nScales x nOrientations kernels, kernel n = u x nScales + v for
    // orientation u and scale v, and stores their spectra. Returns 1; returns 0
    // and keeps the current bank when the settings exceed it (more than 8
    // orientations or more than 40 kernels).
    int BuildKernels(int nScales, int nOrientations, double sigmaX, double sigmaY, double kmax,
                     double freqStep);

    // In-place 64 x 64 transform: rows, then columns. direction 1 forward,
    // -1 inverse (scaled by 1/4096).
    void FFT2D(int direction, double* re, double* im);

    // Zero-pads the 32 x 32 face to 64 x 64 and transforms it. The spectrum is
    // kept as four interleaved 32 x 32 quadrants, the layout the sampled
    // filtering of ExtractFeatures works in (explained in GaborBank.cpp).
    void LoadFace(const unsigned char* face);

    // Filters the loaded face with every kernel and samples the response
    // magnitudes at rows and columns 2, 4, .., 14, 18, .., 30 of the face;
    // returns the number of values written (7840 with the defaults), ordered
    // by scale, orientation, sample row, sample column.
    int ExtractFeatures();

    // LoadFace and ExtractFeatures for each of count faces, the values of
    // faces[b] written to out[b] (room for the count returned). Groups of
    // kFaceGroup faces share each pass over the kernels, which then come from
    // cache rather than memory; every value is computed as for one face alone.
    // Overwrites the loaded face and the feature buffer.
    int ExtractFeatures(const unsigned char* const* faces, int count, double* const* out);

    // Copies the first n feature values (n clamped to the buffer).
    void CopyFeatures(double* out, int n) const;

    int ScaleCount() const { return m_nScales; }
    int OrientationCount() const { return m_nOrientations; }
    // Spectrum of kernel n (0 .. 39), 64 x 64 row-major.
    const double* KernelRe(int n) const
    {
        return m_plfKernelRe.data() + static_cast<size_t>(n) * kCells;
    }
    const double* KernelIm(int n) const
    {
        return m_plfKernelIm.data() + static_cast<size_t>(n) * kCells;
    }
    const double* Features() const { return m_plfFeature.data(); }

private:
    // Folds the spectrum of kernel n into m_plfFolded.
    void FoldKernel(int n);
    // The quadrant spectrum of a 32 x 32 face (LoadFace's work).
    void TransformFace(const unsigned char* face, double* spectrum);
    // Filters count (<= kFaceGroup) face spectra with every kernel; the values
    // of spectrum b go to out[b]. Returns the count per face.
    int FilterSpectra(const double* const* spectra, int count, double* const* out);
    // Transforms one folded product (1024 values, overwritten) back and writes
    // the 14 x 14 sampled magnitudes to out.
    void SampleResponse(double* qr, double* qi, double* out);

    AlignedVector<double> m_plfFeature;
    int m_nImgWidth;
    int m_nImgHeight;
    double m_lfSigmaX;
    double m_lfSigmaY;
    double m_lfFreqStep;
    double m_lfKmax;
    int m_nScales;
    int m_nOrientations;
    AlignedVector<double> m_plfKernelRe;
    AlignedVector<double> m_plfKernelIm;
    // kFaceGroup spectra in interleaved quadrants (see QuadrantIndex); the
    // loaded face is the first.
    AlignedVector<double> m_plfFaceSpectrum;
    // Per face of a group: the products with a kernel pair, real and
    // imaginary parts of the first kernel's, then of the second's.
    AlignedVector<double> m_plfProducts;
    AlignedVector<double> m_plfColumnRe;
    AlignedVector<double> m_plfColumnIm;

    // Each kernel spectrum folded for the sampled inverse transform: kernel n
    // at n x 8192 in the interleaved quadrant layout, element (column, row) of a
    // quadrant at cell column x 32 + row.
    AlignedVector<double> m_plfFolded;
    // Scratch of the face transform and of the sampled columns.
    AlignedVector<double> m_plfWorkRe;
    AlignedVector<double> m_plfWorkIm;
    LaneTwiddles m_forward32;
    LaneTwiddles m_inverse32;
    // exp(-2 pi i k / 64) for k < 32: the shift before a 32-point transform
    // that gives the odd outputs of a 64-point one.
    LaneTwiddles m_oddShift;
};
