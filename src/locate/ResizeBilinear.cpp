#include "locate/ResizeBilinear.h"

#include <cstring>

int ResizeBilinear(const unsigned char* source, int sourceWidth, int sourceHeight,
                   unsigned char* target, int targetWidth, int targetHeight)
{
    return ResizeBilinearWindow(source, sourceWidth, sourceWidth, sourceHeight, target,
                                targetWidth, targetHeight);
}

int ResizeBilinearWindow(const unsigned char* source, std::ptrdiff_t sourceStride,
                         int sourceWidth, int sourceHeight, unsigned char* target,
                         int targetWidth, int targetHeight)
{
    if (source == nullptr || target == nullptr || sourceWidth < 1 || sourceHeight < 1 ||
        targetWidth < 1 || targetHeight < 1 || sourceStride < sourceWidth)
        return 0;

    if (sourceWidth == targetWidth && sourceHeight == targetHeight) {
        for (int r = 0; r < targetHeight; ++r)
            std::memcpy(target + static_cast<std::ptrdiff_t>(r) * targetWidth,
                        source + r * sourceStride, static_cast<size_t>(targetWidth));
        return 1;
    }

    const double sx = static_cast<double>(sourceWidth) / targetWidth;
    const double sy = static_cast<double>(sourceHeight) / targetHeight;
    const int lastX = sourceWidth >= 2 ? sourceWidth - 2 : 0;
    const int lastY = sourceHeight >= 2 ? sourceHeight - 2 : 0;
    const int stepX = sourceWidth >= 2 ? 1 : 0; // a single column is its own neighbour
    const std::ptrdiff_t stepY = sourceHeight >= 2 ? sourceStride : 0;

    for (int r = 0; r < targetHeight; ++r) {
        const double Y = r * sy;
        int iy = static_cast<int>(Y);
        if (iy > lastY)
            iy = lastY;
        const double fy = Y - iy;
        const unsigned char* row = source + iy * sourceStride;
        for (int c = 0; c < targetWidth; ++c) {
            const double X = c * sx;
            int ix = static_cast<int>(X);
            if (ix > lastX)
                ix = lastX;
            const double fx = X - ix;
            const unsigned char* p = row + ix;
            const double value = (p[stepX] * fx + p[0] * (1 - fx)) * (1 - fy) +
                                 (p[stepY + stepX] * fx + p[stepY] * (1 - fx)) * fy;
            unsigned char byte;
            if (!(value > 0.0))
                byte = 0;
            else if (value >= 255.0)
                byte = 255;
            else
                byte = static_cast<unsigned char>(static_cast<int>(value));
            target[static_cast<std::ptrdiff_t>(r) * targetWidth + c] = byte;
        }
    }
    return 1;
}
