// Measures face finding on the shared face data sets:
//  - BioID: face detection rate and the share of images whose normalised eye
//    error e = max(dl, dr) / |Cl - Cr| is at most 0.05, 0.10 and 0.25, for
//    (a) FindOneFace, (b) the centres of the detector's eye boxes (the
//    landmark eye centres, which the velmora tool uses) and (c) OpenCV's eye
//    cascade run on the whole image; VELMORA_LANDMARK_MODEL=/nonexistent
//    measures the detector's design without landmarks;
//  - ORL and LFW: the face detection rate of FindOneFace; for LFW also how
//    often the eyes found lie near the set's typical eye places.
// Usage: eyeaccuracy [--data DIR] [--lfw-limit N] [--sets bioid,orl,lfw] [--list]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/objdetect.hpp>

#include <velmora/Velmora.h>

#include <tarvik/Tarvik.h>

#include "GreyImage.h"

namespace fs = std::filesystem;

namespace {

using Grey = velmora_cli::GreyImage;

struct Eyes {
    double x1, y1, x2, y2; // image-left eye first
};

// The .eye file holds the person's left eye (on the image's right) first.
bool ReadEyeFile(const fs::path& path, Eyes& out)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        double lx, ly, rx, ry;
        if (fields >> lx >> ly >> rx >> ry) {
            out = Eyes{rx, ry, lx, ly};
            return true;
        }
    }
    return false;
}

double EyeError(const Eyes& truth, double x1, double y1, double x2, double y2)
{
    const double d1 = std::hypot(x1 - truth.x1, y1 - truth.y1);
    const double d2 = std::hypot(x2 - truth.x2, y2 - truth.y2);
    const double dist = std::hypot(truth.x2 - truth.x1, truth.y2 - truth.y1);
    return std::max(d1, d2) / dist;
}

struct Tally {
    explicit Tally(const char* label) : name(label) {}
    const char* name;
    int images = 0;
    int found = 0;
    int within[3] = {0, 0, 0};
    std::vector<double> errors;

    void Add(bool ok, double e)
    {
        ++images;
        if (!ok)
            return;
        ++found;
        errors.push_back(e);
        const double limits[3] = {0.05, 0.10, 0.25};
        for (int i = 0; i < 3; ++i)
            if (e <= limits[i])
                ++within[i];
    }
    void Print() const
    {
        auto pct = [this](int n) { return images ? 100.0 * n / images : 0.0; };
        std::printf("| %-36s | %5.1f%% | %5.1f%% | %5.1f%% | %5.1f%% |\n", name, pct(found),
                    pct(within[0]), pct(within[1]), pct(within[2]));
    }
};

// Two eyes from the eye cascade alone: the two best supported hits that do
// not overlap, left one first.
bool CascadeEyes(cv::CascadeClassifier& cascade, const Grey& g, double& x1, double& y1,
                 double& x2, double& y2)
{
    cv::Mat m(g.height, g.width, CV_8UC1, const_cast<unsigned char*>(g.pixels.data()));
    std::vector<cv::Rect> hits;
    std::vector<int> support;
    cascade.detectMultiScale(m, hits, support, 1.1, 3, 0, cv::Size(12, 12));
    std::vector<size_t> order(hits.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return support[a] > support[b]; });
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i + 1; j < order.size(); ++j) {
            const cv::Rect& a = hits[order[i]];
            const cv::Rect& b = hits[order[j]];
            if ((a & b).area() > 0)
                continue;
            const cv::Rect& l = a.x < b.x ? a : b;
            const cv::Rect& r = a.x < b.x ? b : a;
            x1 = l.x + l.width * 0.5;
            y1 = l.y + l.height * 0.5;
            x2 = r.x + r.width * 0.5;
            y2 = r.y + r.height * 0.5;
            return true;
        }
    }
    return false;
}

std::vector<fs::path> Files(const fs::path& dir, const std::string& ext, bool recursive)
{
    std::vector<fs::path> out;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return out;
    if (recursive) {
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.path().extension() == ext)
                out.push_back(e.path());
    } else {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && e.path().extension() == ext)
                out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void BioID(const fs::path& dir, bool list)
{
    CVelmora velmora;
    CAdaboostFaceDetect detector;
    cv::CascadeClassifier eyeCascade;
    const char* env = std::getenv("VELMORA_CASCADE_DIR");
    const std::string cascadeDir = env && *env ? env : TARVIK_CASCADE_DIR;
    const bool haveEyeCascade = eyeCascade.load(cascadeDir + "/haarcascade_eye.xml");

    Tally a("(a) FindOneFace"), b("(b) eye-box centres (tool's eyes)"), c("(c) OpenCV eye cascade alone");
    for (const fs::path& pgm : Files(dir, ".pgm", false)) {
        Grey g;
        Eyes truth;
        if (!velmora_cli::ReadGreyImage(pgm.string(), g) ||
            !ReadEyeFile(fs::path(pgm).replace_extension(".eye"), truth))
            continue;

        CRect face;
        CPoint e1, e2;
        const bool ok =
            velmora.FindOneFace(g.pixels.data(), g.width, g.height, face, e1, e2) == FF_OK;
        const double ea = ok ? EyeError(truth, e1.x, e1.y, e2.x, e2.y) : -1;
        a.Add(ok, ea);

        FACE_LOCATION records[10];
        int count = 1; // as the velmora tool asks: the largest face only
        detector.RunFaceDetector(g.pixels.data(), g.width, g.height, records, &count);
        const FACE_LOCATION& r = records[0];
        const double eb =
            count > 0 ? EyeError(truth, r.nEye1X + r.nEye1Width / 2.0, r.nEye1Y + r.nEye1Height / 2.0,
                                 r.nEye2X + r.nEye2Width / 2.0, r.nEye2Y + r.nEye2Height / 2.0)
                      : -1;
        b.Add(count > 0, eb);

        double x1, y1, x2, y2;
        const bool okc = haveEyeCascade && CascadeEyes(eyeCascade, g, x1, y1, x2, y2);
        c.Add(okc, okc ? EyeError(truth, x1, y1, x2, y2) : -1);
        if (list)
            std::printf("%s a=%.3f b=%.3f src=%d face=%d,%d,%d,%d truth=%.0f,%.0f %.0f,%.0f "
                        "found=%d,%d %d,%d\n",
                        pgm.filename().c_str(), ea, eb, count > 0 ? r.nEyeSource : -1, r.nFaceX,
                        r.nFaceY, r.nFaceWidth, r.nFaceHeight, truth.x1, truth.y1, truth.x2,
                        truth.y2, e1.x, e1.y, e2.x, e2.y);
    }
    std::printf("BioID (%d images)\n\n", a.images);
    std::printf("| %-36s | faces  | e<=0.05 | e<=0.10 | e<=0.25 |\n", "method");
    std::printf("|%s|--------|---------|---------|---------|\n", std::string(38, '-').c_str());
    a.Print();
    b.Print();
    c.Print();
    std::printf("\n");
}

// Face detection rate; with reference eyes (x1, y1, x2, y2 in a 250 x 250
// frame, scaled to the image) also the share of images whose found eyes lie
// within 0.25 eye distances of them.
void DetectionRate(const char* name, const std::vector<fs::path>& files, size_t limit,
                   const double* reference = nullptr)
{
    CVelmora velmora;
    int images = 0, found = 0, near = 0;
    for (const fs::path& f : files) {
        if (limit && static_cast<size_t>(images) >= limit)
            break;
        Grey g;
        if (!velmora_cli::ReadGreyImage(f.string(), g))
            continue;
        ++images;
        CRect face;
        CPoint e1, e2;
        if (velmora.FindOneFace(g.pixels.data(), g.width, g.height, face, e1, e2) != FF_OK)
            continue;
        ++found;
        if (reference != nullptr) {
            const double sx = g.width / 250.0, sy = g.height / 250.0;
            const Eyes r{reference[0] * sx, reference[1] * sy, reference[2] * sx,
                         reference[3] * sy};
            near += EyeError(r, e1.x, e1.y, e2.x, e2.y) <= 0.25;
        }
    }
    std::printf("%s: face found in %d of %d images (%.1f%%)\n", name, found, images,
                images ? 100.0 * found / images : 0.0);
    if (reference != nullptr)
        std::printf("%s: eyes within 0.25 of the set's typical eye places in %d of %d images "
                    "(%.1f%%; approximate, the places are medians, not marks)\n",
                    name, near, images, images ? 100.0 * near / images : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    fs::path data = fs::path(VELMORA_SOURCE_DIR) / ".." / "shared" / "data";
    if (const char* env = std::getenv("VELMORA_DATA_DIR"))
        data = env;
    size_t lfwLimit = 0;
    std::string sets = "bioid,orl,lfw";
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--data" && i + 1 < argc)
            data = argv[++i];
        else if (arg == "--lfw-limit" && i + 1 < argc)
            lfwLimit = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--sets" && i + 1 < argc)
            sets = argv[++i];
        else if (arg == "--list")
            list = true;
        else {
            std::fprintf(stderr,
                         "usage: eyeaccuracy [--data DIR] [--lfw-limit N] [--sets bioid,orl,lfw] "
                         "[--list]\n");
            return 2;
        }
    }
    if (!fs::is_directory(data)) {
        std::fprintf(stderr, "face data folder %s not found\n", data.c_str());
        return 1;
    }
    if (sets.find("bioid") != std::string::npos)
        BioID(data / "bioid", list);
    if (sets.find("orl") != std::string::npos)
        DetectionRate("ORL", Files(data / "orl", ".pgm", true), 0);
    if (sets.find("lfw") != std::string::npos) {
        // Deep-funneled LFW puts the eyes near these places (data README).
        const double lfwEyes[4] = {103, 113, 145, 112};
        DetectionRate("LFW", Files(data / "lfw", ".jpg", true), lfwLimit, lfwEyes);
    }
    return 0;
}
