#include "EyeBoxes.h"

#include <cmath>
#include <cstring>

namespace tarvik {

namespace {

// Nearest hit to the expected eye centre on one side, if close enough.
cv::Point2d Nearest(const std::vector<cv::Rect>& hits, const cv::Point2d& expected,
                    double limit)
{
    cv::Point2d best(-1, -1);
    double bestDistance = limit;
    for (const cv::Rect& r : hits) {
        const cv::Point2d centre(r.x + r.width * 0.5, r.y + r.height * 0.5);
        const double d = std::hypot(centre.x - expected.x, centre.y - expected.y);
        if (d <= bestDistance) {
            bestDistance = d;
            best = centre;
        }
    }
    return best;
}

} // namespace

EyeHits FindEyeHits(cv::CascadeClassifier& eyeCascade, const cv::Mat& grey, const cv::Rect& face,
                    const EyeBoxDesign& design)
{
    EyeHits result;
    // The eyes lie in the upper half of a frontal face box.
    cv::Rect upper(face.x, face.y + face.height / 8, face.width, face.height / 2);
    upper &= cv::Rect(0, 0, grey.cols, grey.rows);
    if (upper.width < 8 || upper.height < 8)
        return result;
    std::vector<cv::Rect> hits;
    const int minSide = std::max(6, face.width / 10);
    const int maxSide = std::max(minSide + 1, face.width / 3);
    eyeCascade.detectMultiScale(grey(upper), hits, 1.1, 2, 0, cv::Size(minSide, minSide),
                                cv::Size(maxSide, maxSide));
    for (cv::Rect& r : hits) {
        r.x += upper.x;
        r.y += upper.y;
    }
    const double limit = design.maxShift * face.width;
    const double y = face.y + design.eyeY * face.height;
    result.first = Nearest(hits, cv::Point2d(face.x + design.eyeX * face.width, y), limit);
    result.second = Nearest(hits, cv::Point2d(face.x + (1.0 - design.eyeX) * face.width, y), limit);
    return result;
}

void PlaceEyeBoxes(const cv::Rect& face, const EyeHits& hits, const EyeBoxDesign& design,
                   int neighbours, FACE_LOCATION& record)
{
    std::memset(&record, 0, sizeof record);
    record.nFaceX = face.x;
    record.nFaceY = face.y;
    record.nFaceWidth = face.width;
    record.nFaceHeight = face.height;
    record.nNeighbours = neighbours;

    const double y = face.y + design.eyeY * face.height;
    cv::Point2d first(face.x + design.eyeX * face.width, y);
    cv::Point2d second(face.x + (1.0 - design.eyeX) * face.width, y);
    record.nEyeSource = TARVIK_EYES_FROM_FACE;
    if (design.useEyeCascade && hits.first.x >= 0 && hits.second.x >= 0) {
        first = hits.first;
        second = hits.second;
        record.nEyeSource = TARVIK_EYES_FROM_CASCADE;
    }

    // Widths are kept to multiples of 4, which the eye localiser works on as is.
    int boxWidth = static_cast<int>(design.boxWidth * face.width + 0.5);
    boxWidth = std::max(4, (boxWidth + 2) / 4 * 4);
    const int boxHeight = std::max(4, static_cast<int>(design.boxHeight * face.width + 0.5));
    const int above = static_cast<int>(design.eyeRow * boxHeight + 0.5);

    record.nEye1X = static_cast<int>(std::lround(first.x)) - boxWidth / 2;
    record.nEye1Y = static_cast<int>(std::lround(first.y)) - above;
    record.nEye1Height = boxHeight;
    record.nEye1Width = boxWidth;
    record.nEye2X = static_cast<int>(std::lround(second.x)) - boxWidth / 2;
    record.nEye2Y = static_cast<int>(std::lround(second.y)) - above;
    record.nEye2Height = boxHeight;
    record.nEye2Width = boxWidth;
}

} // namespace tarvik
