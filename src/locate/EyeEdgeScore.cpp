#include "locate/EyeEdgeScore.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

double EyeEdgeScore(const unsigned char* image, int width, int height, int x, int y, int boxWidth,
                    int boxHeight)
{
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (image == nullptr || width < 3 || height < 3)
        return none;

    // Window in image rows and columns, then the part of it that may count.
    const int64_t rowFirst = static_cast<int64_t>(y) - boxHeight / 4;
    const int64_t rowEnd = rowFirst + boxHeight / 2;
    const int64_t colFirst = static_cast<int64_t>(x) - boxWidth / 4;
    const int64_t colEnd = colFirst + boxWidth / 2;
    const int64_t r0 = std::max<int64_t>(rowFirst, 1);
    const int64_t r1 = std::min<int64_t>(rowEnd, height - 1);
    const int64_t c0 = std::max<int64_t>(colFirst, 1);
    const int64_t c1 = std::min<int64_t>(colEnd, width - 1);

    const std::ptrdiff_t w = width;
    double sum = 0.0;
    int64_t count = 0;
    for (int64_t r = r0; r < r1; ++r) {
        const unsigned char* up = image + (r - 1) * w;
        const unsigned char* mid = up + w;
        const unsigned char* down = mid + w;
        for (int64_t c = c0; c < c1; ++c) {
            const int gx = up[c + 1] + mid[c + 1] + down[c + 1] - up[c - 1] - mid[c - 1] -
                           down[c - 1];
            const int gy = up[c - 1] + 2 * up[c] + up[c + 1] - down[c - 1] - 2 * down[c] -
                           down[c + 1];
            sum += std::abs(gx) + std::abs(gy);
            ++count;
        }
    }
    if (count == 0)
        return none;
    return sum / static_cast<double>(count);
}
