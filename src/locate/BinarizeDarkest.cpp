#include "locate/BinaryImage.h"

#include <cstddef>

namespace {
constexpr double kDarkShare = 0.039;
}

void BinarizeDarkest(unsigned char* patch, int width, int height)
{
    if (patch == nullptr || width < 1 || height < 1)
        return;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);

    std::size_t counts[256] = {};
    for (std::size_t i = 0; i < n; ++i)
        ++counts[patch[i]];
    const double total = static_cast<double>(width) * static_cast<double>(height);

    int threshold = 0;
    double before = 0.0;
    for (int level = 0; level < 256; ++level) {
        const double after = before + counts[level] / total;
        if ((before == 0.0 && after >= kDarkShare) || (before < kDarkShare && after > kDarkShare)) {
            threshold = level;
            break;
        }
        before = after;
    }

    for (std::size_t i = 0; i < n; ++i)
        patch[i] = patch[i] <= threshold ? 255 : 0;
}
