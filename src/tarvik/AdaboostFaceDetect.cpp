#include <tarvik/Tarvik.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "Cascades.h"
#include "EyeBoxes.h"
#include "HogFaces.h"
#include "LandmarkEyes.h"
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
// A face cut by the image border often gives the cascade nothing, or only a
// small false face, to hold on to. When the best face found is that weakly
// supported, the search is repeated on a copy framed by a black border of this
// share of the longer side, where the cut face is whole enough to be found.
constexpr int kWeakSupport = 8;
constexpr double kBorderShare = 0.10;

// Support of the largest box, which is the face reported first; 0 for none.
int LargestSupport(const std::vector<cv::Rect>& boxes, const std::vector<int>& neighbours)
{
    int64_t area = -1;
    int support = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        const int64_t a = int64_t(boxes[i].width) * boxes[i].height;
        if (a > area) {
            area = a;
            support = i < neighbours.size() ? neighbours[i] : 0;
        }
    }
    return support;
}

// Larger faces first, by the part of their box inside the image: the HOG
// detector also reports faces cut by the border, whose boxes reach outside it,
// and those are rarely the subject of a photo (on LFW, ranking by whole boxes
// put a cut face before the subject's in 37 photos, by inside parts in 12).
// Equal ones top to bottom, then left to right.
void SortLargerFirst(std::vector<tarvik::FaceHit>& hits, const cv::Size& image)
{
    const cv::Rect frame(cv::Point(0, 0), image);
    auto inside = [&frame](const cv::Rect& box) {
        const cv::Rect part = box & frame;
        return int64_t(part.width) * part.height;
    };
    std::stable_sort(hits.begin(), hits.end(), [&](const tarvik::FaceHit& a, const tarvik::FaceHit& b) {
        const int64_t areaA = inside(a.box), areaB = inside(b.box);
        if (areaA != areaB)
            return areaA > areaB;
        if (a.box.y != b.box.y)
            return a.box.y < b.box.y;
        return a.box.x < b.box.x;
    });
}

// The shape predictor was trained on HOG boxes, which sit lower and tighter on
// the face than the cascade's: a cascade box is moved and shrunk to match
// (medians over the BioID faces both detectors find).
cv::Rect AsHogBox(const cv::Rect& box)
{
    return cv::Rect(box.x + static_cast<int>(std::lround(0.06 * box.width)),
                    box.y + static_cast<int>(std::lround(0.15 * box.height)),
                    static_cast<int>(std::lround(0.89 * box.width)),
                    static_cast<int>(std::lround(0.89 * box.height)));
}

} // namespace

struct CAdaboostFaceDetect::Impl {
    tarvik::Cascades cascades;
    tarvik::HogFaces hog;
    tarvik::LandmarkEyes landmarks;
    bool loaded = false;
    tarvik::EyeBoxDesign design;

    int Detect(const unsigned char* image, int width, int height, FACE_LOCATION* records,
               int room);
    std::vector<tarvik::FaceHit> CascadeFaces(const cv::Mat& grey);
};

// The Haar cascade's faces in the image's own pixels.
std::vector<tarvik::FaceHit> CAdaboostFaceDetect::Impl::CascadeFaces(const cv::Mat& grey)
{
    std::vector<tarvik::FaceHit> hits;
    if (!cascades.faceReady)
        return hits;
    const double scale = std::max(grey.cols, grey.rows) > kDetectSide
                             ? double(kDetectSide) / std::max(grey.cols, grey.rows)
                             : 1.0;
    cv::Mat search;
    if (scale < 1.0)
        cv::resize(grey, search, cv::Size(), scale, scale, cv::INTER_AREA);
    else
        search = grey;
    std::vector<cv::Rect> boxes;
    std::vector<int> neighbours;
    cascades.face.detectMultiScale(search, boxes, neighbours, kScaleStep, kMinNeighbours, 0,
                                   cv::Size(kMinFace, kMinFace));
    if (LargestSupport(boxes, neighbours) < kWeakSupport) {
        const int border = static_cast<int>(kBorderShare * std::max(search.cols, search.rows));
        cv::Mat framed;
        cv::copyMakeBorder(search, framed, border, border, border, border, cv::BORDER_CONSTANT,
                           cv::Scalar(0));
        std::vector<cv::Rect> framedBoxes;
        std::vector<int> framedNeighbours;
        cascades.face.detectMultiScale(framed, framedBoxes, framedNeighbours, kScaleStep,
                                       kMinNeighbours, 0, cv::Size(kMinFace, kMinFace));
        if (!framedBoxes.empty()) {
            for (cv::Rect& b : framedBoxes)
                b -= cv::Point(border, border);
            boxes.swap(framedBoxes);
            neighbours.swap(framedNeighbours);
        }
    }
    // The second cascade, on a histogram-equalised copy, is tried only when
    // the first finds nothing.
    if (boxes.empty() && cascades.backupReady) {
        cv::Mat equalised;
        cv::equalizeHist(search, equalised);
        cascades.backup.detectMultiScale(equalised, boxes, neighbours, kScaleStep, kMinNeighbours,
                                         0, cv::Size(kMinFace, kMinFace));
    }
    for (size_t i = 0; i < boxes.size(); ++i) {
        cv::Rect b = boxes[i];
        if (scale < 1.0)
            b = cv::Rect(cvRound(b.x / scale), cvRound(b.y / scale), cvRound(b.width / scale),
                         cvRound(b.height / scale));
        hits.push_back(tarvik::FaceHit{b, i < neighbours.size() ? neighbours[i] : 0});
    }
    return hits;
}

int CAdaboostFaceDetect::Impl::Detect(const unsigned char* image, int width, int height,
                                      FACE_LOCATION* records, int room)
{
    if (!loaded) {
        tarvik::LoadCascades(cascades);
        landmarks.Load();
        loaded = true;
    }
    const cv::Mat grey(height, width, CV_8UC1, const_cast<unsigned char*>(image));

    if (landmarks.Ready()) {
        // HOG faces with landmark eyes; the cascade finds the faces HOG misses.
        std::vector<tarvik::FaceHit> hits = hog.Find(grey, room == 1);
        bool fromCascade = false;
        if (hits.empty()) {
            hits = CascadeFaces(grey);
            fromCascade = true;
        }
        SortLargerFirst(hits, grey.size());
        const int n = std::min<int>(room, static_cast<int>(hits.size()));
        for (int i = 0; i < n; ++i) {
            cv::Point2d first, second;
            landmarks.Find(grey, fromCascade ? AsHogBox(hits[i].box) : hits[i].box, first, second);
            tarvik::PlaceLandmarkEyeBoxes(hits[i].box, first, second, records[i]);
            records[i].nNeighbours = hits[i].neighbours;
        }
        return n;
    }

    // Without landmarks: cascade faces, eye boxes from the eye cascades.
    std::vector<tarvik::FaceHit> hits = CascadeFaces(grey);
    SortLargerFirst(hits, grey.size());
    std::vector<cv::CascadeClassifier*> eyeCascades;
    if (cascades.eyeReady)
        eyeCascades.push_back(&cascades.eye);
    if (cascades.eyeGlassesReady)
        eyeCascades.push_back(&cascades.eyeGlasses);
    const int n = std::min<int>(room, static_cast<int>(hits.size()));
    for (int i = 0; i < n; ++i) {
        tarvik::EyeHits eyes;
        if (design.useEyeCascade && !eyeCascades.empty())
            eyes = tarvik::FindEyeHits(eyeCascades, grey, hits[i].box, design);
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
    } catch (const std::exception&) {
        found = 0; // dlib's errors and failed allocations alike: no face
    }
    found = std::clamp(found, 0, room);
    *count = found;
    return found;
}
