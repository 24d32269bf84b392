#include "locate/BinaryImage.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

namespace {

bool IsBinary(unsigned char v)
{
    return v == 0 || v == 255;
}

// Runs a three-pixel window along one direction. 'hit' found anywhere in the
// window decides the output pixel; 'fill' is what every other output pixel,
// unprocessed borders included, keeps. Erosion leaves the last row unprocessed
// in its horizontal pass.
int Apply3(unsigned char* image, int width, int height, int direction, unsigned char hit,
           unsigned char fill, bool horizontalSkipsLastRow)
{
    if (image == nullptr || width < 1 || height < 1 ||
        (direction != kMorphHorizontal && direction != kMorphVertical))
        return 0;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<unsigned char> out;
    try {
        out.assign(n, fill);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    const std::ptrdiff_t w = width;

    if (direction == kMorphHorizontal) {
        const int rows = horizontalSkipsLastRow ? height - 1 : height;
        for (int r = 0; r < rows; ++r) {
            const unsigned char* in = image + r * w;
            for (int c = 1; c <= width - 2; ++c) {
                if (!IsBinary(in[c]))
                    return 0;
                if (in[c - 1] == hit || in[c] == hit || in[c + 1] == hit)
                    out[r * w + c] = hit;
            }
        }
    } else if (height - 1 >= 2) {
        for (int r = 1; r <= height - 2; ++r) {
            const unsigned char* in = image + r * w;
            for (int c = 0; c < width; ++c) {
                if (!IsBinary(in[c]))
                    return 0;
                if (in[c - w] == hit || in[c] == hit || in[c + w] == hit)
                    out[r * w + c] = hit;
            }
        }
    }
    std::memcpy(image, out.data(), n);
    return 1;
}

} // namespace

int DilateBinary(unsigned char* image, int width, int height, int direction)
{
    return Apply3(image, width, height, direction, 255, 0, false);
}

int ErodeBinary(unsigned char* image, int width, int height, int direction)
{
    return Apply3(image, width, height, direction, 0, 255, true);
}
