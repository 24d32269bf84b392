// GetNormFace on a real face placed in a 250 x 250 and in a 1920 x 1080 image,
// with and without the photometric steps, and the whole-image rotation that the
// cutting avoids, for comparison. Uses BioID_0000 from the shared face data
// when present, otherwise a synthetic face of two dark eyes on a ramp.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include "GreyImage.h"
#include "normalize/FaceNormalizer.h"
#include "preprocess/FacePreprocessor.h"
#include "recognizer/ModuleState.h"

namespace {

struct Scene : velmora_cli::GreyImage {
    CPoint left, right;
};

// The source face: 384 x 286 with its eyes.
Scene SourceFace()
{
    Scene s;
    const char* env = std::getenv("VELMORA_DATA_DIR");
    const std::filesystem::path dir = env ? std::filesystem::path(env) / "bioid"
                                          : std::filesystem::path(VELMORA_SOURCE_DIR) / ".." / "shared" / "data" / "bioid";
    std::ifstream eye(dir / "BioID_0000.eye");
    std::string header;
    int lx, ly, rx, ry;
    if (std::getline(eye, header) && eye >> lx >> ly >> rx >> ry &&
        velmora_cli::ReadGreyImage((dir / "BioID_0000.pgm").string(), s)) {
        s.left = lx < rx ? CPoint(lx, ly) : CPoint(rx, ry);
        s.right = lx < rx ? CPoint(rx, ry) : CPoint(lx, ly);
        return s;
    }
    s.width = 384;
    s.height = 286;
    s.left = CPoint(160, 112);
    s.right = CPoint(230, 108);
    s.pixels.resize(384 * 286);
    for (int y = 0; y < 286; ++y)
        for (int x = 0; x < 384; ++x) {
            const double d = std::min(std::hypot(x - 160, y - 112), std::hypot(x - 230, y - 108));
            s.pixels[y * 384 + x] = static_cast<unsigned char>(d < 8 ? 30 : 120 + (x + y) % 90);
        }
    return s;
}

// The source face copied into a width x height image of noise, its eye
// midpoint 35 pixels above the image centre, so that the whole cut lies
// inside both image sizes and both runs see the same face.
Scene Place(const Scene& src, int width, int height)
{
    Scene s;
    s.width = width;
    s.height = height;
    s.pixels.resize(static_cast<size_t>(width) * height);
    std::mt19937 rng(5);
    for (auto& p : s.pixels)
        p = static_cast<unsigned char>(rng());
    const int dx = width / 2 - (src.left.x + src.right.x) / 2;
    const int dy = height / 2 - 35 - (src.left.y + src.right.y) / 2;
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            const int tx = x + dx, ty = y + dy;
            if (tx >= 0 && ty >= 0 && tx < width && ty < height)
                s.pixels[static_cast<size_t>(ty) * width + tx] = src.pixels[static_cast<size_t>(y) * src.width + x];
        }
    s.left = CPoint(src.left.x + dx, src.left.y + dy);
    s.right = CPoint(src.right.x + dx, src.right.y + dy);
    return s;
}

Scene SceneFor(const benchmark::State& state)
{
    static const Scene source = SourceFace();
    return state.range(0) == 250 ? Place(source, 250, 250) : Place(source, 1920, 1080);
}

// Argument: image width (250: 250 x 250, 1920: 1920 x 1080).
void BM_GetNormFace(benchmark::State& state)
{
    Scene s = SceneFor(state);
    CVelmora v;
    g_facePreprocessor.SetMask(3); // as after Initialize
    std::vector<unsigned char> face(4096);
    for (auto _ : state) {
        v.GetNormFace(s.pixels.data(), s.width, s.height, s.left, s.right, face.data());
        benchmark::DoNotOptimize(face.data());
    }
}

void BM_GetNormFaceGeometric(benchmark::State& state)
{
    Scene s = SceneFor(state);
    CVelmora v;
    v.m_bPreprocessNormFace = 0;
    std::vector<unsigned char> face(4096);
    for (auto _ : state) {
        v.GetNormFace(s.pixels.data(), s.width, s.height, s.left, s.right, face.data());
        benchmark::DoNotOptimize(face.data());
    }
}

// Rotating every pixel of the image, as a cut that does not restrict itself
// to the sampled pixels would.
void BM_WholeImageRotation(benchmark::State& state)
{
    Scene s = SceneFor(state);
    const int eyes[4] = {s.left.x, s.left.y, s.right.x, s.right.y};
    std::vector<unsigned char> rotated(s.pixels.size());
    int64_t rotatedEyes[4];
    for (auto _ : state) {
        CFaceNormalizer::RotateImage(s.pixels.data(), s.width, s.height, eyes, rotated.data(), rotatedEyes);
        benchmark::DoNotOptimize(rotated.data());
    }
}

} // namespace

BENCHMARK(BM_GetNormFace)->ArgName("width")->Arg(250)->Arg(1920)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetNormFaceGeometric)->ArgName("width")->Arg(250)->Arg(1920)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeImageRotation)->ArgName("width")->Arg(250)->Arg(1920)->Unit(benchmark::kMicrosecond);
