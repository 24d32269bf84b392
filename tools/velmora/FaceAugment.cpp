#include "FaceAugment.h"

#include <algorithm>
#include <cstddef>

namespace velmora_cli {

GreyImage MirroredImage(const GreyImage& image)
{
    GreyImage out = image;
    const size_t w = static_cast<size_t>(image.width);
    for (size_t row = 0; row < static_cast<size_t>(image.height); ++row)
        std::reverse(out.pixels.begin() + static_cast<std::ptrdiff_t>(row * w),
                     out.pixels.begin() + static_cast<std::ptrdiff_t>((row + 1) * w));
    return out;
}

EyePair MirroredEyes(const EyePair& eyes, int imageWidth)
{
    // The right eye becomes the left one: pixel x lands on width - 1 - x.
    return {imageWidth - 1 - eyes.rightX, eyes.rightY, imageWidth - 1 - eyes.leftX, eyes.leftY};
}

void MirrorFace(const unsigned char* face, int side, unsigned char* out)
{
    for (int y = 0; y < side; ++y)
        std::reverse_copy(face + y * side, face + (y + 1) * side, out + y * side);
}

void ShiftFace(const unsigned char* face, int side, int dx, int dy, unsigned char* out)
{
    for (int y = 0; y < side; ++y) {
        const int sy = std::clamp(y - dy, 0, side - 1);
        for (int x = 0; x < side; ++x)
            out[y * side + x] = face[sy * side + std::clamp(x - dx, 0, side - 1)];
    }
}

void AugmentFace(const unsigned char* face, int side, unsigned char* out)
{
    const size_t n = static_cast<size_t>(side) * static_cast<size_t>(side);
    std::copy(face, face + n, out);
    MirrorFace(face, side, out + n);
    const int shifts[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (int i = 0; i < 4; ++i)
        ShiftFace(face, side, shifts[i][0], shifts[i][1], out + (2 + i) * n);
}

} // namespace velmora_cli
