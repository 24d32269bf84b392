#pragma once
// Image files in and out of the tool. The library works on 8-bit grey images,
// so every input (JPEG, PNG, BMP, PGM, colour or not) is converted to grey here.
#include <cstddef>
#include <string>
#include <vector>

namespace velmora_cli {

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels; // width x height, row-major, no padding

    unsigned char* data() { return pixels.data(); }
};

struct EyePair {
    int leftX = 0;
    int leftY = 0;
    int rightX = 0;
    int rightY = 0;
};

// "left eye (x, y), right eye (x, y)" for the tool's text reports.
inline std::string EyesText(const EyePair& eyes)
{
    return "left eye (" + std::to_string(eyes.leftX) + ", " + std::to_string(eyes.leftY) + "), right eye (" +
           std::to_string(eyes.rightX) + ", " + std::to_string(eyes.rightY) + ")";
}

// Throws CliError (kExitInput) naming the file when it is missing or not an image.
GreyImage LoadGreyImage(const std::string& path);
// The same for programs that skip such files: false, image untouched.
bool ReadGreyImage(const std::string& path, GreyImage& image);

// A grey copy of pixels held in memory (rowStride bytes from one row to the
// next): one channel as it is, three (BGR, as OpenCV holds colour) converted
// with OpenCV's luma weights. Throws CliError (kExitUsage) on other channel counts.
GreyImage GreyFromPixels(const unsigned char* pixels, int width, int height, int channels, size_t rowStride);

// Writes a grey image; the format follows the file's extension (.png, .pgm, .bmp, .jpg).
void SaveGreyImage(const std::string& path, const GreyImage& image);

// Writes a colour copy of the image file at inputPath with each face's eyes marked.
void SaveMarkedImage(const std::string& inputPath, const std::string& outputPath,
                     const std::vector<EyePair>& faces);

} // namespace velmora_cli
