#include "preprocess/FacePreprocessor.h"

#include <cstring>

namespace {

// Values are truncated toward zero; anything outside the byte range (or not a
// number) is held to it rather than wrapped.
inline unsigned char ValueToByte(double v)
{
    if (!(v > 0.0))
        return 0;
    if (v >= 255.0)
        return 255;
    return static_cast<unsigned char>(static_cast<int>(v));
}

constexpr int kReducedSide = 32;

} // namespace

CFacePreprocessor::CFacePreprocessor()
{
    std::memset(m_nHistogram, 0, sizeof(m_nHistogram));
    std::memcpy(m_byMask, BuiltInFaceMask(2), kFacePixels);
    ComputeRowSpans();
}

void CFacePreprocessor::SetMask(int kind)
{
    if (const unsigned char* mask = BuiltInFaceMask(kind))
        std::memcpy(m_byMask, mask, kFacePixels);
    ComputeRowSpans();
}

void CFacePreprocessor::ComputeRowSpans()
{
    for (int r = 0; r < kFaceSide; ++r) {
        int start = kFaceSide / 2; // a row without mask pixels has an empty span
        for (int c = 0; c < kFaceSide / 2; ++c)
            if (m_byMask[r * kFaceSide + c] != 0) {
                start = c;
                break;
            }
        m_nRowStart[r] = start;
        m_nRowEnd[r] = kFaceSide - 1 - start;
    }
}

int CFacePreprocessor::CompactMasked(double* values) const
{
    if (!values)
        return 0;
    int n = 0;
    for (int i = 0; i < kFacePixels; ++i)
        if (m_byMask[i] != 0)
            values[n++] = values[i];
    return n;
}

void CFacePreprocessor::ExpandMasked(const double* values, unsigned char* face) const
{
    if (!values || !face)
        return;
    int n = 0;
    for (int i = 0; i < kFacePixels; ++i)
        face[i] = m_byMask[i] != 0 ? ValueToByte(values[n++]) : 0;
}

void CFacePreprocessor::SplitRows(const double* values, unsigned char* oddRows, unsigned char* evenRows) const
{
    if (!values || !oddRows || !evenRows)
        return;
    const double* row = values;
    for (int r = 0; r < kFaceSide; ++r) {
        const int width = m_nRowEnd[r] - m_nRowStart[r] + 1;
        unsigned char* out = ((r & 1) ? oddRows : evenRows) + (r / 2) * kReducedSide;
        for (int k = 0; k < kReducedSide; ++k)
            out[k] = width > 0 ? ValueToByte(row[(k * width) / kReducedSide]) : 0;
        if (width > 0)
            row += width;
    }
}
