#include "locate/EyeLocator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "locate/BinaryImage.h"
#include "locate/Components.h"
#include "locate/EyeEdgeScore.h"
#include "locate/ResizeBilinear.h"

namespace {

constexpr int kSide = kEyePatchSide;
constexpr int kBrowMinWidthExtent = 15;
constexpr int kBrowLowestRow = 12; // a patch's upper quarter

struct Candidate {
    ComponentBox box;
    bool valid;
    double score;
    int x;
    int y;
};

struct EyeBox {
    int x;
    int y;
    int width;
    int height;
};

// Fills candidates 1..count (index 0 unused) from a labelled patch.
void Describe(const unsigned char* labels, int count, const unsigned char* image, int width,
              int height, const EyeBox& box, Candidate* out)
{
    for (int k = 1; k <= count; ++k) {
        Candidate& c = out[k];
        c.box = ComponentBounds(labels, k, kSide, kSide);
        c.valid = true;
        const int64_t px = (c.box.left + c.box.right) / 2;
        const int64_t py = (c.box.top + c.box.bottom) / 2;
        c.x = static_cast<int>(box.x + px * box.width / kSide);
        c.y = static_cast<int>(box.y + py * box.height / kSide);
        c.score = EyeEdgeScore(image, width, height, c.x, c.y, box.width, box.height);
    }
}

bool Contains(const ComponentBox& outer, const ComponentBox& inner)
{
    return outer.bottom >= inner.bottom && outer.top <= inner.top && outer.right >= inner.right &&
           outer.left <= inner.left;
}

// Height extent over width extent, following IEEE division: a zero width gives
// infinity, or not a number when the height extent is zero too.
double ExtentRatio(const ComponentBox& b)
{
    const int h = b.bottom - b.top;
    const int w = b.right - b.left;
    if (w == 0)
        return h == 0 ? std::numeric_limits<double>::quiet_NaN()
                      : std::numeric_limits<double>::infinity();
    return static_cast<double>(h) / w;
}

// 1 / ratio < limit, where a zero ratio gives an infinite inverse and a ratio
// that is not a number passes.
bool InverseBelow(double ratio, double limit)
{
    if (std::isnan(ratio))
        return true;
    if (ratio == 0.0)
        return false;
    return 1.0 / ratio < limit;
}

// Clips the record's box to the image; false when nothing is left.
bool ClipBox(int64_t x, int64_t y, int64_t w, int64_t h, int width, int height, EyeBox& out)
{
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(x + w, width);
    const int64_t bottom = std::min<int64_t>(y + h, height);
    if (right <= left || bottom <= top)
        return false;
    out = EyeBox{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top)};
    return true;
}

} // namespace

void LocateEye(const unsigned char* image, int width, int height, FACE_LOCATION& record,
               CPoint& eye, int eyeIndex)
{
    eye = CPoint(-1, -1);
    if (eyeIndex != 1 && eyeIndex != 2)
        return;
    int32_t& widthWord = eyeIndex == 1 ? record.nEye1Width : record.nEye2Width;
    if (widthWord % 4 != 0 && widthWord < std::numeric_limits<int32_t>::max())
        widthWord += 1;
    const int32_t x0 = eyeIndex == 1 ? record.nEye1X : record.nEye2X;
    const int32_t y0 = eyeIndex == 1 ? record.nEye1Y : record.nEye2Y;
    const int32_t bh = eyeIndex == 1 ? record.nEye1Height : record.nEye2Height;

    EyeBox box;
    if (image == nullptr || width < 1 || height < 1 ||
        !ClipBox(x0, y0, widthWord, bh, width, height, box))
        return;

    unsigned char patch[kSide * kSide];
    unsigned char firstLabels[kSide * kSide];
    ResizeBilinearWindow(image + static_cast<int64_t>(box.y) * width + box.x, width, box.width,
                         box.height, patch, kSide, kSide);
    BinarizeDarkest(patch, kSide, kSide);

    // First pass: the dark regions as they are; a wide one high in the patch is
    // the eyebrow.
    Candidate first[kMaxComponents + 1];
    std::memcpy(firstLabels, patch, sizeof patch);
    const int nB = LabelComponents(firstLabels, kSide, kSide, 8);
    first[1].valid = true; // stands in as container even when no region exists
    Describe(firstLabels, nB, image, width, height, box, first);
    bool eyebrow = false;
    for (int k = 1; k <= nB; ++k) {
        const ComponentBox& b = first[k].box;
        if (b.right - b.left >= kBrowMinWidthExtent && b.bottom <= kBrowLowestRow) {
            first[k].valid = false;
            eyebrow = true;
        }
    }

    // Without an eyebrow, close gaps and drop specks before labelling again.
    Candidate second[kMaxComponents + 1];
    const Candidate* candidates = first;
    int n = nB;
    if (!eyebrow) {
        DilateBinary(patch, kSide, kSide, kMorphVertical);
        DilateBinary(patch, kSide, kSide, kMorphHorizontal);
        DilateBinary(patch, kSide, kSide, kMorphVertical);
        DilateBinary(patch, kSide, kSide, kMorphHorizontal);
        ErodeBinary(patch, kSide, kSide, kMorphHorizontal);
        ErodeBinary(patch, kSide, kSide, kMorphVertical);
        ErodeBinary(patch, kSide, kSide, kMorphHorizontal);
        ErodeBinary(patch, kSide, kSide, kMorphVertical);
        ErodeBinary(patch, kSide, kSide, kMorphHorizontal);
        ErodeBinary(patch, kSide, kSide, kMorphVertical);
        n = LabelComponents(patch, kSide, kSide, 8);
        Describe(patch, n, image, width, height, box, second);
        candidates = second;
    }

    int best = 0;
    double bestScore = 0.0;
    for (int i = 1; i <= n; ++i) {
        const Candidate& c = candidates[i];
        if (!eyebrow && n == 1) {
            best = 1;
            continue;
        }
        int container = 0;
        for (int k = nB; k >= 1; --k) {
            if (first[k].valid && Contains(first[k].box, c.box)) {
                container = k;
                break;
            }
        }
        double ratio = 0.0;
        if (container != 0)
            ratio = ExtentRatio(first[container].box);
        else
            container = 1;
        const bool containerValid = first[container].valid;

        if (!eyebrow) {
            const double limit = c.box.bottom > kBrowLowestRow ? 3.0 : 2.0;
            if (c.score > bestScore && !(ratio > 1.75) && containerValid &&
                InverseBelow(ratio, limit)) {
                best = i;
                bestScore = c.score;
            }
        } else if (n == 2 && containerValid) {
            best = i;
        } else if (c.score > bestScore && !(ratio > 1.5) && containerValid &&
                   c.box.bottom >= kBrowLowestRow) {
            best = i;
            bestScore = c.score;
        }
    }
    if (best != 0)
        eye = CPoint(candidates[best].x, candidates[best].y);
}

void LocateEyes(const unsigned char* image, int width, int height, FACE_LOCATION& record,
                CPoint& firstEye, CPoint& secondEye)
{
    LocateEye(image, width, height, record, firstEye, 1);
    LocateEye(image, width, height, record, secondEye, 2);
}
