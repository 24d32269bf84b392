#pragma once
// Synthetic people for tool tests: each person is a fixed pattern of bright and
// dark blobs, each photo adds its own noise; the eyes sit at fixed places. A
// model trained on 210 or more of them tells them apart.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "GreyImage.h"

namespace velmora_test {

constexpr int kSynthWidth = 96;
constexpr int kSynthHeight = 112;
constexpr const char* kSynthEyes = "30,44,66,44";

inline velmora_cli::GreyImage SyntheticPhoto(int person, int photo)
{
    std::mt19937 shape(static_cast<unsigned>(person) * 7919u + 17u);
    std::mt19937 noise(static_cast<unsigned>(person) * 104729u + static_cast<unsigned>(photo) * 31u + 5u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    struct Blob {
        double x, y, radius, amplitude;
    };
    std::vector<Blob> blobs;
    for (int k = 0; k < 8; ++k)
        blobs.push_back({18 + 60 * unit(shape), 24 + 72 * unit(shape), 4 + 10 * unit(shape), -70 + 140 * unit(shape)});
    velmora_cli::GreyImage image;
    image.width = kSynthWidth;
    image.height = kSynthHeight;
    image.pixels.resize(kSynthWidth * kSynthHeight);
    for (int y = 0; y < kSynthHeight; ++y)
        for (int x = 0; x < kSynthWidth; ++x) {
            double v = 120.0 + 12.0 * (unit(noise) - 0.5);
            for (const Blob& b : blobs)
                v += b.amplitude *
                     std::exp(-((x - b.x) * (x - b.x) + (y - b.y) * (y - b.y)) / (2 * b.radius * b.radius));
            image.pixels[y * kSynthWidth + x] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
        }
    return image;
}

inline std::string SyntheticName(int person)
{
    return "person" + std::to_string(1000 + person);
}

// Writes folder/personNNNN/<photo>.png for people [first, first + count) and photos 1..photos.
inline void WriteSyntheticSet(const std::filesystem::path& folder, int first, int count, int photos)
{
    for (int p = first; p < first + count; ++p) {
        const std::filesystem::path person = folder / SyntheticName(p);
        std::filesystem::create_directories(person);
        for (int k = 1; k <= photos; ++k)
            velmora_cli::SaveGreyImage((person / (std::to_string(k) + ".png")).string(), SyntheticPhoto(p, k));
    }
}

} // namespace velmora_test
