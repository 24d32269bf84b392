// Writes the mean face table (src/preprocess/MeanFaceTable.cpp) from the BioID
// faces and their manually marked eye centres.
//
// Every BioID_NNNN.pgm with a BioID_NNNN.eye beside it is cut with the standard
// normalisation (eyes at (17, 13) and (45, 13) of a 64 x 64 face), and its grey
// levels inside face mask 3 are normalised as the library does before the gamma
// correction: compact, NormalizeLighting, expand. The table is the rounded
// average of these faces inside mask 3 (raised to 1 where it would be 0, so the
// mask stays recognisable) and 0 outside.
//
// Usage: make_mean_face BIOID_DIR OUTPUT.cpp
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "normalize/FaceNormalizer.h"
#include "preprocess/FaceMasks.h"
#include "preprocess/FacePreprocessor.h"

namespace {

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Binary PGM (P5) with a maximum grey value of 255; header comments allowed.
bool ReadPgm(const std::filesystem::path& path, GreyImage& image)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t pos = 0;
    const auto token = [&](std::string& out) {
        for (;;) {
            while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos])))
                ++pos;
            if (pos < data.size() && data[pos] == '#') {
                while (pos < data.size() && data[pos] != '\n')
                    ++pos;
                continue;
            }
            break;
        }
        const size_t start = pos;
        while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos])))
            ++pos;
        out = data.substr(start, pos - start);
        return !out.empty();
    };
    std::string magic, w, h, maxval;
    if (!token(magic) || magic != "P5" || !token(w) || !token(h) || !token(maxval))
        return false;
    long width = 0, height = 0;
    try {
        width = std::stol(w);
        height = std::stol(h);
        if (std::stol(maxval) != 255)
            return false;
    } catch (...) {
        return false;
    }
    ++pos; // the single whitespace byte after the maximum value
    if (width < 1 || height < 1 || width > 100000 || height > 100000 ||
        data.size() < pos || static_cast<uint64_t>(data.size() - pos) < static_cast<uint64_t>(width) * height)
        return false;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.pixels.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                        data.begin() + static_cast<std::ptrdiff_t>(pos + width * height));
    return true;
}

// BioID eye file: a comment line, then LX LY RX RY of the person's eyes. The
// result is ordered as the normaliser wants it: smaller x first.
bool ReadEyes(const std::filesystem::path& path, int eyes[4])
{
    std::ifstream in(path);
    std::string comment;
    if (!in || !std::getline(in, comment))
        return false;
    int v[4];
    if (!(in >> v[0] >> v[1] >> v[2] >> v[3]))
        return false;
    const bool firstIsLeft = v[0] <= v[2];
    eyes[0] = firstIsLeft ? v[0] : v[2];
    eyes[1] = firstIsLeft ? v[1] : v[3];
    eyes[2] = firstIsLeft ? v[2] : v[0];
    eyes[3] = firstIsLeft ? v[3] : v[1];
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BIOID_DIR OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> images;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
        if (entry.path().extension() == ".pgm")
            images.push_back(entry.path());
    std::sort(images.begin(), images.end());

    CFaceNormalizer normalizer;
    CFacePreprocessor preprocessor;
    preprocessor.SetMask(3);
    const unsigned char* mask = BuiltInFaceMask(3);
    const int target[4] = {17, 13, 45, 13};
    std::vector<uint64_t> sum(kFacePixels, 0);
    int used = 0, skipped = 0;
    for (const auto& path : images) {
        GreyImage image;
        int eyes[4];
        auto eyePath = path;
        eyePath.replace_extension(".eye");
        if (!ReadPgm(path, image) || !ReadEyes(eyePath, eyes) || eyes[2] - eyes[0] < 3) {
            std::fprintf(stderr, "skipped %s\n", path.filename().c_str());
            ++skipped;
            continue;
        }
        unsigned char face[kFacePixels];
        normalizer.NormalizeFace(image.pixels.data(), image.width, image.height, eyes, face, kFaceSide, kFaceSide,
                                 target);
        std::vector<double> values(face, face + kFacePixels);
        const int n = preprocessor.CompactMasked(values.data());
        preprocessor.NormalizeLighting(values.data(), n);
        preprocessor.ExpandMasked(values.data(), face);
        for (int i = 0; i < kFacePixels; ++i)
            sum[i] += face[i];
        ++used;
    }
    if (used == 0) {
        std::fprintf(stderr, "no usable face in %s\n", argv[1]);
        return 1;
    }

    unsigned char mean[kFacePixels];
    int lo = 255, hi = 0, inside = 0;
    uint64_t total = 0;
    for (int i = 0; i < kFacePixels; ++i) {
        if (mask[i] == 0) {
            mean[i] = 0;
            continue;
        }
        const double avg = static_cast<double>(sum[i]) / used;
        mean[i] = static_cast<unsigned char>(std::max(1, static_cast<int>(avg + 0.5)));
        lo = std::min<int>(lo, mean[i]);
        hi = std::max<int>(hi, mean[i]);
        total += mean[i];
        ++inside;
    }
    std::printf("faces used %d, skipped %d; inside mask 3 (%d pixels): min %d, max %d, mean %.2f\n", used,
                skipped, inside, lo, hi, static_cast<double>(total) / inside);

    FILE* out = std::fopen(argv[2], "w");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    std::fprintf(out, "// Generated by tools/facetables/make_mean_face from %d BioID faces; do not edit by hand.\n",
                 used);
    std::fprintf(out, "#include \"preprocess/MeanFace.h\"\n\nconst unsigned char kMeanFace[64 * 64] = {\n");
    for (int r = 0; r < kFaceSide; ++r) {
        for (int half = 0; half < 2; ++half) {
            std::fprintf(out, "   ");
            for (int c = half * 32; c < half * 32 + 32; ++c)
                std::fprintf(out, " %3d,", mean[r * kFaceSide + c]);
            std::fprintf(out, "\n");
        }
    }
    std::fprintf(out, "};\n");
    std::fclose(out);
    return 0;
}
