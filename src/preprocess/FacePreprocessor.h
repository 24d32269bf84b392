#pragma once
// Photometric preprocessing of 64 x 64 normalised faces: the current face mask,
// masked value vectors, grey-level normalisation and quadrant gamma correction.
#include <cstdint>

#include "preprocess/FaceMasks.h"

class CFacePreprocessor {
public:
    // Selects face mask 2.
    CFacePreprocessor();
    CFacePreprocessor(const CFacePreprocessor&) = delete;
    CFacePreprocessor& operator=(const CFacePreprocessor&) = delete;
    virtual ~CFacePreprocessor() = default;

    // kind 1, 2 or 3 selects that built-in mask; any other kind keeps the current one.
    void SetMask(int kind);

    // Moves the values of the 4096 at mask positions, in raster order, to the
    // front of the array and returns their number; the rest is left as it was.
    int CompactMasked(double* values) const;

    // Inverse of CompactMasked: writes all 4096 bytes of face, the next value
    // (truncated, held to 0..255) at each mask position and 0 elsewhere.
    void ExpandMasked(const double* values, unsigned char* face) const;

    // From a compacted vector, 32 samples of every mask row: odd face rows go to
    // oddRows, even ones to evenRows (32 x 32 bytes each).
    void SplitRows(const double* values, unsigned char* oddRows, unsigned char* evenRows) const;

    // Gamma correction of a width x height face in place against reference
    // (null: the built-in mean face, which needs a 64 x 64 face), first as a
    // whole, then by quadrants, then blending the quadrant seams.
    void CorrectGamma(unsigned char* face, const unsigned char* reference, int width, int height) const;

    // Stretches the histogram of the masked values and drives their mean
    // toward 154 with a power curve, in place.
    void NormalizeLighting(double* values, int count);

    // Grey levels at which the cumulative share of the values first exceeds
    // lowFraction from below (256 if never) and 1 - highFraction from above
    // (-1 if never).
    void PercentileBounds(const double* values, int count, double lowFraction, double highFraction, int& lower,
                          int& upper);

    const unsigned char* Mask() const { return m_byMask; }
    int RowStart(int row) const { return m_nRowStart[row]; }
    int RowEnd(int row) const { return m_nRowEnd[row]; }

private:
    void ComputeRowSpans();

    int32_t m_nRowStart[kFaceSide];
    int32_t m_nRowEnd[kFaceSide];
    unsigned char m_byMask[kFacePixels];
    int32_t m_nHistogram[256];
};
