#include "HogFaces.h"

#include <algorithm>
#include <cmath>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgproc.hpp>

namespace tarvik {

namespace {
// The longer side of the image searched. Below the lower bound faces that fill
// the photo (ORL's 92 x 112) are smaller than the detector's window; above the
// upper bound the search costs more than it finds.
constexpr int kMinSearchSide = 168;
constexpr int kMaxSearchSide = 640;
// A search for the largest face only starts at this longer side: the landmarks
// are placed on the full-size image, so on BioID (384 x 286) it finds the same
// faces and eyes as the full-size search in 70% of the time.
constexpr int kOneFaceSearchSide = 320;
// A photo without a face is searched again at twice the size, with its longer
// side at most this long: this finds faces half the size of the detector's
// window (on LFW, 22 of the 56 faces the first search misses) before the
// cascades, whose boxes suit the landmarks less well.
constexpr int kMaxRetrySide = 1280;
} // namespace

namespace {
// dlib builds its detector from compressed text, which takes 0.6 s, while a
// copy takes microseconds: each detector copies one built once per process,
// which is only ever read.
const dlib::frontal_face_detector& BuiltDetector()
{
    static const dlib::frontal_face_detector built = dlib::get_frontal_face_detector();
    return built;
}
} // namespace

struct HogFaces::Detector {
    dlib::frontal_face_detector detector = BuiltDetector();
};

HogFaces::HogFaces() = default;
HogFaces::~HogFaces() = default;

std::vector<FaceHit> HogFaces::Find(const cv::Mat& grey, bool largestOnly)
{
    if (!m_detector)
        m_detector = std::make_unique<Detector>();
    const int longer = std::max(grey.cols, grey.rows);
    double scale = 1.0;
    if (longer > kMaxSearchSide)
        scale = double(kMaxSearchSide) / longer;
    else if (longer < kMinSearchSide)
        scale = double(kMinSearchSide) / longer;
    // Each search runs only when the ones before found nothing.
    std::vector<double> scales;
    if (largestOnly && longer * scale > kOneFaceSearchSide)
        scales.push_back(double(kOneFaceSearchSide) / longer);
    scales.push_back(scale);
    const double larger = std::min(2.0 * scale, double(kMaxRetrySide) / longer);
    if (larger > 1.5 * scale)
        scales.push_back(larger);
    std::vector<FaceHit> hits;
    for (size_t i = 0; i < scales.size() && hits.empty(); ++i)
        hits = FindAt(grey, scales[i]);
    return hits;
}

std::vector<FaceHit> HogFaces::FindAt(const cv::Mat& grey, double scale)
{
    cv::Mat search = grey;
    if (scale != 1.0)
        cv::resize(grey, search, cv::Size(), scale, scale,
                   scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);

    const std::vector<dlib::rectangle> found = m_detector->detector(dlib::cv_image<unsigned char>(search));
    std::vector<FaceHit> hits;
    hits.reserve(found.size());
    for (const dlib::rectangle& r : found) {
        const int x = static_cast<int>(std::lround(r.left() / scale));
        const int y = static_cast<int>(std::lround(r.top() / scale));
        const int right = static_cast<int>(std::lround((r.right() + 1) / scale));
        const int bottom = static_cast<int>(std::lround((r.bottom() + 1) / scale));
        hits.push_back(FaceHit{cv::Rect(x, y, right - x, bottom - y), 0});
    }
    return hits;
}

} // namespace tarvik
