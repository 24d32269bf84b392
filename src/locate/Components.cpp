#include "locate/Components.h"

#include <cstddef>

namespace {

constexpr int kLastByteLabel = 254; // 255 marks unlabelled pixels

// One raster pass over the interior, forward or backward, turning 255 pixels
// next to an already labelled neighbour into the label. Returns whether
// anything changed.
bool Grow(unsigned char* image, std::ptrdiff_t w, int width, int height, unsigned char label,
          bool eight, bool forward)
{
    bool changed = false;
    for (int i = 1; i <= height - 2; ++i) {
        const int r = forward ? i : height - 1 - i;
        unsigned char* row = image + r * w;
        for (int j = 1; j <= width - 2; ++j) {
            const int c = forward ? j : width - 1 - j;
            unsigned char* p = row + c;
            if (*p != 255)
                continue;
            bool touches;
            if (forward)
                touches = p[-w] == label || p[-1] == label ||
                          (eight && (p[-w - 1] == label || p[-w + 1] == label));
            else
                touches = p[w] == label || p[1] == label ||
                          (eight && (p[w - 1] == label || p[w + 1] == label));
            if (touches) {
                *p = label;
                changed = true;
            }
        }
    }
    return changed;
}

} // namespace

int LabelComponents(unsigned char* image, int width, int height, int connectivity)
{
    if (image == nullptr || width < 3 || height < 3)
        return 0;
    const std::ptrdiff_t w = width;
    const bool eight = connectivity == 8;

    int label = 1;
    int seedRow = 1;
    int seedCol = 1;
    while (label <= kLastByteLabel) {
        // Earlier interior pixels are all labelled or background, so the search
        // for the next seed resumes where the last one stood.
        bool found = false;
        while (seedRow <= height - 2) {
            if (image[seedRow * w + seedCol] == 255) {
                found = true;
                break;
            }
            if (++seedCol > width - 2) {
                seedCol = 1;
                ++seedRow;
            }
        }
        if (!found)
            break;
        const unsigned char value = static_cast<unsigned char>(label);
        image[seedRow * w + seedCol] = value;
        while (Grow(image, w, width, height, value, eight, true) &&
               Grow(image, w, width, height, value, eight, false)) {
        }
        ++label;
    }
    const int count = label - 1;
    return count < kMaxComponents ? count : kMaxComponents;
}

ComponentBox ComponentBounds(const unsigned char* image, int label, int width, int height)
{
    ComponentBox box{-1, height, -1, width};
    if (image == nullptr || width < 1 || height < 1)
        return box;
    const std::ptrdiff_t w = width;
    for (int r = 0; r < height; ++r) {
        const unsigned char* row = image + r * w;
        for (int c = 0; c < width; ++c) {
            if (row[c] != label)
                continue;
            if (r > box.bottom)
                box.bottom = r;
            if (r < box.top)
                box.top = r;
            if (c > box.right)
                box.right = c;
            if (c < box.left)
                box.left = c;
        }
    }
    return box;
}
