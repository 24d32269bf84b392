// Face finding on a real face in its own 384 x 286 frame and enlarged 2.5 times
// into a 1280 x 720 frame: the library's FindOneFace (detector, then the eye
// localiser in the detector's eye boxes) and the detector alone for one face
// (HOG face search and landmark eyes), which is what the velmora tool uses.
// Uses BioID_0000 from the shared face data; without it the benchmarks report
// an error instead of timing a faceless image.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include <tarvik/Tarvik.h>
#include <velmora/Velmora.h>

#include "GreyImage.h"

namespace {

using Frame = velmora_cli::GreyImage;

Frame BioIdFace()
{
    const char* env = std::getenv("VELMORA_DATA_DIR");
    const std::filesystem::path dir =
        env ? std::filesystem::path(env) / "bioid"
            : std::filesystem::path(VELMORA_SOURCE_DIR) / ".." / "shared" / "data" / "bioid";
    Frame f;
    velmora_cli::ReadGreyImage((dir / "BioID_0000.pgm").string(), f);
    return f;
}

// The face enlarged by 2.5 (nearest pixel) into the middle of a grey HD frame.
Frame Enlarged(const Frame& src)
{
    Frame f;
    f.width = 1280;
    f.height = 720;
    f.pixels.assign(static_cast<size_t>(f.width) * f.height, 128);
    const int w = src.width * 5 / 2, h = src.height * 5 / 2;
    const int x0 = (f.width - w) / 2, y0 = (f.height - h) / 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x0 + x >= 0 && x0 + x < f.width && y0 + y >= 0 && y0 + y < f.height)
                f.pixels[(y0 + y) * f.width + x0 + x] = src.pixels[(y * 2 / 5) * src.width + x * 2 / 5];
    return f;
}

void Run(benchmark::State& state, Frame frame)
{
    if (frame.pixels.empty()) {
        state.SkipWithError("BioID_0000.pgm not found (set VELMORA_DATA_DIR)");
        return;
    }
    CVelmora velmora;
    CRect face;
    CPoint first, second;
    if (velmora.FindOneFace(frame.pixels.data(), frame.width, frame.height, face, first, second) !=
        FF_OK) {
        state.SkipWithError("no face found");
        return;
    }
    for (auto _ : state) {
        enumFFError r =
            velmora.FindOneFace(frame.pixels.data(), frame.width, frame.height, face, first, second);
        benchmark::DoNotOptimize(r);
    }
}

void RunDetector(benchmark::State& state, Frame frame)
{
    if (frame.pixels.empty()) {
        state.SkipWithError("BioID_0000.pgm not found (set VELMORA_DATA_DIR)");
        return;
    }
    CAdaboostFaceDetect detector;
    FACE_LOCATION records[10];
    int count = 1;
    if (detector.RunFaceDetector(frame.pixels.data(), frame.width, frame.height, records, &count) != 1) {
        state.SkipWithError("no face found");
        return;
    }
    for (auto _ : state) {
        count = 1;
        int n = detector.RunFaceDetector(frame.pixels.data(), frame.width, frame.height, records, &count);
        benchmark::DoNotOptimize(n);
    }
}

void BM_FindOneFace_384x286(benchmark::State& state)
{
    Run(state, BioIdFace());
}

void BM_FindOneFace_1280x720(benchmark::State& state)
{
    const Frame src = BioIdFace();
    Run(state, src.pixels.empty() ? Frame{} : Enlarged(src));
}

void BM_FaceAndLandmarkEyes_384x286(benchmark::State& state)
{
    RunDetector(state, BioIdFace());
}

void BM_FaceAndLandmarkEyes_1280x720(benchmark::State& state)
{
    const Frame src = BioIdFace();
    RunDetector(state, src.pixels.empty() ? Frame{} : Enlarged(src));
}

BENCHMARK(BM_FindOneFace_384x286)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindOneFace_1280x720)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FaceAndLandmarkEyes_384x286)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FaceAndLandmarkEyes_1280x720)->Unit(benchmark::kMillisecond);

} // namespace
