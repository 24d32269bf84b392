#include "GreyImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "ExitCodes.h"

namespace velmora_cli {

namespace {

void RequireReadableFile(const std::string& path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status))
        throw CliError(kExitInput, "file not found: " + path);
    if (std::filesystem::is_directory(status))
        throw CliError(kExitInput, "is a folder, not an image file: " + path);
}

cv::Mat ReadWithOpenCv(const std::string& path, int flags)
{
    RequireReadableFile(path);
    cv::Mat image;
    try {
        image = cv::imread(path, flags);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty())
        throw CliError(kExitInput, "cannot read an image from " + path +
                                       " (not a JPEG, PNG, BMP or PGM file, or damaged)");
    return image;
}

void WriteWithOpenCv(const std::string& path, const cv::Mat& image)
{
    bool ok = false;
    try {
        ok = cv::imwrite(path, image);
    } catch (const cv::Exception&) {
        ok = false;
    }
    if (!ok)
        throw CliError(kExitInput, "cannot write the image " + path +
                                       " (check the folder and the extension: .png, .pgm, .bmp or .jpg)");
}

} // namespace

GreyImage LoadGreyImage(const std::string& path)
{
    // IMREAD_GRAYSCALE converts colour with the usual luma weights; 16-bit input is scaled to 8 bits.
    const cv::Mat grey = ReadWithOpenCv(path, cv::IMREAD_GRAYSCALE);
    return GreyFromPixels(grey.data, grey.cols, grey.rows, 1, grey.step);
}

bool ReadGreyImage(const std::string& path, GreyImage& image)
{
    try {
        image = LoadGreyImage(path);
        return true;
    } catch (const CliError&) {
        return false;
    }
}

GreyImage GreyFromPixels(const unsigned char* pixels, int width, int height, int channels, size_t rowStride)
{
    if (channels != 1 && channels != 3)
        throw CliError(kExitUsage, "an image has 1 (grey) or 3 (BGR) channels, not " + std::to_string(channels));
    if (width < 1 || height < 1)
        throw CliError(kExitUsage, "the image is empty");
    const cv::Mat wrapped(height, width, channels == 1 ? CV_8UC1 : CV_8UC3, const_cast<unsigned char*>(pixels),
                          rowStride);
    cv::Mat grey;
    if (channels == 1)
        grey = wrapped;
    else
        cv::cvtColor(wrapped, grey, cv::COLOR_BGR2GRAY);
    GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int r = 0; r < height; ++r)
        std::memcpy(image.pixels.data() + static_cast<size_t>(r) * width, grey.ptr<unsigned char>(r),
                    static_cast<size_t>(width));
    return image;
}

void SaveGreyImage(const std::string& path, const GreyImage& image)
{
    if (image.width < 1 || image.height < 1 ||
        image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
        throw CliError(kExitFailure, "nothing to write to " + path + ": the image is empty");
    const cv::Mat wrapped(image.height, image.width, CV_8UC1, const_cast<unsigned char*>(image.pixels.data()));
    WriteWithOpenCv(path, wrapped);
}

void SaveMarkedImage(const std::string& inputPath, const std::string& outputPath,
                     const std::vector<EyePair>& faces)
{
    cv::Mat canvas = ReadWithOpenCv(inputPath, cv::IMREAD_COLOR);
    const int thickness = std::max(1, std::min(canvas.cols, canvas.rows) / 250);
    for (const EyePair& eyes : faces) {
        const cv::Point left(eyes.leftX, eyes.leftY);
        const cv::Point right(eyes.rightX, eyes.rightY);
        const double distance = std::hypot(eyes.rightX - eyes.leftX, eyes.rightY - eyes.leftY);
        const int radius = std::max(2, static_cast<int>(distance / 8.0));
        cv::line(canvas, left, right, cv::Scalar(255, 200, 0), thickness, cv::LINE_AA);
        cv::circle(canvas, left, radius, cv::Scalar(0, 255, 0), thickness, cv::LINE_AA);
        cv::circle(canvas, right, radius, cv::Scalar(0, 0, 255), thickness, cv::LINE_AA);
    }
    WriteWithOpenCv(outputPath, canvas);
}

} // namespace velmora_cli
