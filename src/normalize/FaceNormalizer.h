#pragma once
// Geometric face normalisation: levels the eye line by a rotation, cuts a
// rectangle proportional to the eye distance and resamples it to a fixed size.
#include <cstdint>

// Euclidean distance of two points. The squared distance is formed exactly in
// integers, so the result matches 32-bit integer arithmetic wherever that does
// not overflow.
double PointDistance(int64_t x0, int64_t y0, int64_t x1, int64_t y1);

// n rounded up to the next multiple of 4.
int64_t AlignWidth4(int64_t n);

// Eye and target points are four integers: left x, left y, right x, right y
// ("left" being the eye with the smaller x in the image). Images are row-major
// bytes without row padding. The normaliser keeps no state between calls.
class CFaceNormalizer {
public:
    CFaceNormalizer() = default;
    CFaceNormalizer(const CFaceNormalizer&) = delete;
    CFaceNormalizer& operator=(const CFaceNormalizer&) = delete;
    virtual ~CFaceNormalizer() = default;

    // Places the eyes on the target points of an outWidth x outHeight face.
    // Always returns 1; parts of the face outside the image come out black.
    int NormalizeFace(const unsigned char* image, int width, int height, const int eyes[4],
                      unsigned char* out, int outWidth, int outHeight, const int target[4]) const;

    // Display face: a looser cut kept inside the image and stretched to
    // outWidth x outHeight. Returns 1, or 0 without writing anything when the
    // display rectangle has no pixel inside the image.
    int CutFace(const unsigned char* image, int width, int height, const int eyes[4],
                unsigned char* out, int outWidth, int outHeight) const;

    // Copies the inclusive rectangle out of the image into a packed crop of
    // (right - left + 1) x (bottom - top + 1) bytes; pixels outside the image are 0.
    static int CropRect(const unsigned char* image, int width, int height, unsigned char* crop,
                        int left, int top, int right, int bottom);

    // Bilinear resampling without half-pixel offset; the last output rows and
    // columns of an enlargement extrapolate, clamped to 0..255.
    static int ResampleFace(const unsigned char* src, int srcWidth, int srcHeight,
                            unsigned char* dst, int dstWidth, int dstHeight);

    // The levelling rotation applied to the whole image (width x height bytes
    // into rotated), with the rotated eye points. NormalizeFace and CutFace
    // compute only the rotated pixels they sample, with identical results.
    // Returns false, writing nothing, when the eyes coincide.
    static bool RotateImage(const unsigned char* image, int width, int height, const int eyes[4],
                            unsigned char* rotated, int64_t rotatedEyes[4]);
};
