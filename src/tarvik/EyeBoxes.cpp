#include "EyeBoxes.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

namespace tarvik {

namespace {

constexpr int kClusterRounds = 5;

// The part of the image under rect; what lies outside the image is black.
cv::Mat CropFramed(const cv::Mat& grey, const cv::Rect& rect)
{
    const cv::Rect inside = rect & cv::Rect(0, 0, grey.cols, grey.rows);
    if (inside.area() <= 0)
        return cv::Mat();
    cv::Mat out;
    cv::copyMakeBorder(grey(inside), out, inside.y - rect.y, rect.br().y - inside.br().y,
                       inside.x - rect.x, rect.br().x - inside.br().x, cv::BORDER_CONSTANT,
                       cv::Scalar(0));
    return out;
}

cv::Point2d Expected(const cv::Rect& face, const EyeBoxDesign& design, bool first)
{
    const double x = first ? design.eyeX : 1.0 - design.eyeX;
    return cv::Point2d(face.x + x * face.width, face.y + design.eyeY * face.height);
}

} // namespace

bool ClusterCentre(const std::vector<cv::Point2d>& centres, const cv::Point2d& expected,
                   double radius, int minHits, cv::Point2d& centre)
{
    cv::Point2d at = expected;
    for (int round = 0; round < kClusterRounds; ++round) {
        const double r = round == 0 ? radius : radius * 0.5;
        cv::Point2d sum(0, 0);
        int near = 0;
        for (const cv::Point2d& c : centres) {
            if (std::hypot(c.x - at.x, c.y - at.y) <= r) {
                sum += c;
                ++near;
            }
        }
        if (near < minHits || near == 0)
            return false;
        at = sum / near;
    }
    centre = at;
    return true;
}

EyeHits FindEyeHits(const std::vector<cv::CascadeClassifier*>& eyeCascades, const cv::Mat& grey,
                    const cv::Rect& face, const EyeBoxDesign& design)
{
    EyeHits result;
    // The eyes lie in the upper half of a frontal face box.
    const cv::Rect upper(face.x, face.y + face.height / 10, face.width, face.height * 11 / 20);
    if (upper.width < 8 || upper.height < 8)
        return result;
    const cv::Mat region = CropFramed(grey, upper);
    if (region.empty())
        return result;
    const int minSide = std::max(6, face.width / 10);
    const int maxSide = std::max(minSide + 1, face.width * 2 / 5);
    // Raw windows, not merged: their spread round an eye says more about its
    // centre than the merged box does.
    std::vector<cv::Point2d> centres;
    for (cv::CascadeClassifier* cascade : eyeCascades) {
        std::vector<cv::Rect> hits;
        cascade->detectMultiScale(region, hits, 1.1, 0, 0, cv::Size(minSide, minSide),
                                  cv::Size(maxSide, maxSide));
        for (const cv::Rect& r : hits)
            centres.emplace_back(upper.x + r.x + r.width * 0.5, upper.y + r.y + r.height * 0.5);
    }
    const double radius = design.maxShift * face.width;
    cv::Point2d c;
    if (ClusterCentre(centres, Expected(face, design, true), radius, design.minHits, c))
        result.first = c;
    if (ClusterCentre(centres, Expected(face, design, false), radius, design.minHits, c))
        result.second = c;
    return result;
}

namespace {

// The whole record: the face box, and eye boxes of the given size whose top
// edge lies `above` rows over each eye and which are centred on it across.
void FillRecord(const cv::Rect& face, const cv::Point2d& first, const cv::Point2d& second, int width,
                int height, int above, int32_t source, FACE_LOCATION& record)
{
    std::memset(&record, 0, sizeof record);
    record.nFaceX = face.x;
    record.nFaceY = face.y;
    record.nFaceWidth = face.width;
    record.nFaceHeight = face.height;
    record.nEyeSource = source;
    record.nEye1X = static_cast<int>(std::lround(first.x)) - width / 2;
    record.nEye1Y = static_cast<int>(std::lround(first.y)) - above;
    record.nEye1Height = height;
    record.nEye1Width = width;
    record.nEye2X = static_cast<int>(std::lround(second.x)) - width / 2;
    record.nEye2Y = static_cast<int>(std::lround(second.y)) - above;
    record.nEye2Height = height;
    record.nEye2Width = width;
}

} // namespace

void PlaceLandmarkEyeBoxes(const cv::Rect& face, const cv::Point2d& first, const cv::Point2d& second,
                           FACE_LOCATION& record)
{
    constexpr int kSide = 4; // a multiple of 4, which the eye localiser keeps as it is
    FillRecord(face, first, second, kSide, kSide, kSide / 2, TARVIK_EYES_FROM_LANDMARKS, record);
}

void PlaceEyeBoxes(const cv::Rect& face, const EyeHits& hits, const EyeBoxDesign& design,
                   int neighbours, FACE_LOCATION& record)
{
    cv::Point2d first = Expected(face, design, true);
    cv::Point2d second = Expected(face, design, false);
    bool haveFirst = design.useEyeCascade && hits.first.x >= 0;
    bool haveSecond = design.useEyeCascade && hits.second.x >= 0;
    if (haveFirst && haveSecond && hits.second.x - hits.first.x < design.minEyeGap * face.width)
        haveFirst = haveSecond = false;
    // An eye the cascades missed is put beside the one they found, at the
    // usual eye distance and the same height, which follows a tilted or
    // off-centre face better than the face box does.
    const double gap = second.x - first.x;
    int32_t source = TARVIK_EYES_FROM_FACE;
    if (haveFirst && haveSecond) {
        first = hits.first;
        second = hits.second;
        source = TARVIK_EYES_FROM_CASCADE;
    } else if (haveFirst) {
        first = hits.first;
        second = cv::Point2d(first.x + gap, first.y);
        source = TARVIK_EYES_FROM_ONE_EYE;
    } else if (haveSecond) {
        second = hits.second;
        first = cv::Point2d(second.x - gap, second.y);
        source = TARVIK_EYES_FROM_ONE_EYE;
    }

    // Widths are kept to multiples of 4, which the eye localiser works on as is.
    int boxWidth = static_cast<int>(design.boxWidth * face.width + 0.5);
    boxWidth = std::max(4, (boxWidth + 2) / 4 * 4);
    const int boxHeight = std::max(4, static_cast<int>(design.boxHeight * face.width + 0.5));
    const int above = static_cast<int>(design.eyeRow * boxHeight + 0.5);
    FillRecord(face, first, second, boxWidth, boxHeight, above, source, record);
    record.nNeighbours = neighbours;
}

} // namespace tarvik
