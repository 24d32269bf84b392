#include <tarvik/Tarvik.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "Cascades.h"
#include "EyeBoxes.h"
#include "ScriptedSource.h"

namespace {

constexpr int kMaxRecords = 10;
// Faces are searched on a copy whose longer side is at most this long, which
// bounds the time on large photos; smaller faces than kMinFace pixels of that
// copy are not looked for.
constexpr int kDetectSide = 640;
constexpr int kMinFace = 24;
constexpr double kScaleStep = 1.05;
constexpr int kMinNeighbours = 2;

struct Hit {
    cv::Rect box;
    int neighbours;
};

} // namespace

struct CAdaboostFaceDetect::Impl {
    tarvik::Cascades cascades;
    bool loaded = false;
    tarvik::EyeBoxDesign design;

    int Detect(const unsigned char* image, int width, int height, FACE_LOCATION* records,
               int room);
};

int CAdaboostFaceDetect::Impl::Detect(const unsigned char* image, int width, int height,
                                      FACE_LOCATION* records, int room)
{
    if (!loaded) {
        tarvik::LoadCascades(cascades);
        loaded = true;
    }
    if (!cascades.faceReady)
        return 0;

    const cv::Mat grey(height, width, CV_8UC1, const_cast<unsigned char*>(image));
    const double scale =
        std::max(width, height) > kDetectSide ? double(kDetectSide) / std::max(width, height) : 1.0;
    cv::Mat search;
    if (scale < 1.0)
        cv::resize(grey, search, cv::Size(), scale, scale, cv::INTER_AREA);
    else
        search = grey;
    // The first cascade works on the image as it is; the second, tried only
    // when the first finds nothing, on a histogram-equalised copy.
    std::vector<cv::Rect> boxes;
    std::vector<int> neighbours;
    cascades.face.detectMultiScale(search, boxes, neighbours, kScaleStep, kMinNeighbours, 0,
                                   cv::Size(kMinFace, kMinFace));
    if (boxes.empty() && cascades.backupReady) {
        cv::Mat equalised;
        cv::equalizeHist(search, equalised);
        cascades.backup.detectMultiScale(equalised, boxes, neighbours, kScaleStep, kMinNeighbours,
                                         0, cv::Size(kMinFace, kMinFace));
    }

    std::vector<Hit> hits;
    for (size_t i = 0; i < boxes.size(); ++i) {
        cv::Rect b = boxes[i];
        if (scale < 1.0)
            b = cv::Rect(cvRound(b.x / scale), cvRound(b.y / scale), cvRound(b.width / scale),
                         cvRound(b.height / scale));
        hits.push_back(Hit{b, i < neighbours.size() ? neighbours[i] : 0});
    }
    std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        const int64_t areaA = int64_t(a.box.width) * a.box.height;
        const int64_t areaB = int64_t(b.box.width) * b.box.height;
        if (areaA != areaB)
            return areaA > areaB;
        if (a.box.y != b.box.y)
            return a.box.y < b.box.y;
        return a.box.x < b.box.x;
    });

    const int n = std::min<int>(room, static_cast<int>(hits.size()));
    for (int i = 0; i < n; ++i) {
        tarvik::EyeHits eyes;
        if (design.useEyeCascade && cascades.eyeReady)
            eyes = tarvik::FindEyeHits(cascades.eye, grey, hits[i].box, design);
        tarvik::PlaceEyeBoxes(hits[i].box, eyes, design, hits[i].neighbours, records[i]);
    }
    return n;
}

CAdaboostFaceDetect::CAdaboostFaceDetect() : m_pImpl(new Impl) {}

CAdaboostFaceDetect::~CAdaboostFaceDetect() = default;

int CAdaboostFaceDetect::RunFaceDetector(unsigned char* image, int width, int height,
                                         FACE_LOCATION* records, int* count)
{
    if (count == nullptr)
        return 0;
    const int room = (*count >= 1 && *count <= kMaxRecords) ? *count : kMaxRecords;
    *count = 0;
    if (records == nullptr || image == nullptr || width < 1 || height < 1)
        return 0;

    int found = 0;
    try {
        const TarvikDetectionSource& source = tarvik::ScriptedSource();
        if (source)
            found = source(image, width, height, records, room);
        else
            found = m_pImpl->Detect(image, width, height, records, room);
    } catch (const cv::Exception&) {
        found = 0;
    } catch (const std::bad_alloc&) {
        found = 0;
    }
    found = std::clamp(found, 0, room);
    *count = found;
    return found;
}
