#include "Recognizer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "ExitCodes.h"
#include "FaceAugment.h"
#include "recognizer/Engine.h"

namespace velmora_cli {

namespace {

CPoint Left(const EyePair& e) { return CPoint(e.leftX, e.leftY); }
CPoint Right(const EyePair& e) { return CPoint(e.rightX, e.rightY); }

void RequireEyesApart(const EyePair& eyes)
{
    // In 64 bits: eyes at opposite ends of the int range must not wrap into a pass.
    if (static_cast<int64_t>(eyes.rightX) - eyes.leftX < 3)
        throw CliError(kExitUsage, "the right eye must lie at least 3 pixels right of the left eye");
}
} // namespace

FaceFinder::FaceFinder()
{
    const char* eyes = std::getenv("VELMORA_EYES");
    m_localiseEyes = eyes != nullptr && std::string(eyes) == "localiser";
}

std::vector<FoundFace> FaceFinder::DetectFaces(GreyImage& image, int room)
{
    room = std::clamp(room, 1, kMaxFaces);
    FACE_LOCATION records[kMaxFaces];
    int count = room;
    m_detector.RunFaceDetector(image.data(), image.width, image.height, records, &count);
    count = std::clamp(count, 0, room);
    std::vector<FoundFace> faces;
    for (int i = 0; i < count; ++i) {
        const FACE_LOCATION& r = records[i];
        EyePair eyes{r.nEye1X + r.nEye1Width / 2, r.nEye1Y + r.nEye1Height / 2, r.nEye2X + r.nEye2Width / 2,
                     r.nEye2Y + r.nEye2Height / 2};
        if (m_localiseEyes) {
            CPoint first, second;
            velmora::engine::EyesOfRecord(image.data(), image.width, image.height, r, first, second);
            eyes = {first.x, first.y, second.x, second.y};
        }
        faces.push_back({eyes, r.nFaceX, r.nFaceY, r.nFaceWidth, r.nFaceHeight});
    }
    return faces;
}

std::optional<EyePair> FaceFinder::FindOneFace(GreyImage& image)
{
    const std::vector<FoundFace> faces = DetectFaces(image, 1);
    if (faces.empty())
        return std::nullopt;
    return faces.front().eyes;
}

Recognizer::Recognizer(std::ostream& err) : m_messages(err) {}

void Recognizer::LoadModel(const std::string& path)
{
    if (!m_velmora.Initialize(path.c_str(), nullptr))
        throw CliError(kExitModel, "cannot load the model " + path + " (not a Velmora model file, or damaged)");
}

void Recognizer::PrepareWithoutModel()
{
    velmora::engine::PrepareWithoutModel(m_velmora);
}

std::vector<EyePair> Recognizer::FindFaces(GreyImage& image)
{
    std::vector<EyePair> eyes;
    for (const FoundFace& f : DetectFaces(image))
        eyes.push_back(f.eyes);
    return eyes;
}

GreyImage Recognizer::NormFace(GreyImage& image, const EyePair& eyes)
{
    RequireEyesApart(eyes);
    GreyImage face;
    face.width = kNormFaceSide;
    face.height = kNormFaceSide;
    face.pixels.assign(kNormFaceSide * kNormFaceSide, 0);
    if (m_velmora.GetNormFace(image.data(), image.width, image.height, Left(eyes), Right(eyes), face.data()) !=
        GF_OK)
        throw CliError(kExitFailure, "the face could not be cut at these eyes");
    return face;
}

GreyImage Recognizer::DisplayFace(GreyImage& image, const EyePair& eyes, int width)
{
    RequireEyesApart(eyes);
    int height = 0;
    if (width < 1 || width > 4096 || !m_velmora.GetFaceSize(width, height))
        throw CliError(kExitUsage, "--display wants a width from 1 to 4096 pixels");
    GreyImage face;
    face.width = width;
    face.height = height;
    face.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    if (m_velmora.GetFace(image.data(), image.width, image.height, Left(eyes), Right(eyes), face.data(), width) !=
        GF_OK)
        throw CliError(kExitFailure, "the face could not be cut at these eyes");
    return face;
}

TemplateBuffer Recognizer::MakeTemplate(GreyImage& image, const EyePair& eyes)
{
    TemplateBatch batch(*this);
    batch.Add(image, eyes);
    return std::move(batch.Templates().front());
}

std::vector<double> Recognizer::GaborFeatures(const unsigned char* normFace)
{
    std::vector<double> features = velmora::engine::FaceFeatures(normFace);
    if (features.size() != kFeatureLength)
        throw CliError(kExitFailure, "the Gabor bank gave " + std::to_string(features.size()) + " values instead of " +
                                         std::to_string(kFeatureLength));
    return features;
}

size_t TemplateBatch::Add(GreyImage& image, const EyePair& eyes)
{
    RequireEyesApart(eyes);
    if (m_size == 0 && (!m_recognizer.velmora().GetMaxTemplateSize(m_size) || m_size < 8)) {
        m_size = 0;
        throw CliError(kExitModel, "no model is loaded");
    }
    const size_t perPhoto = m_recognizer.VectorsPerTemplate();
    const size_t index = m_made.size() + m_faces.size() / (perPhoto * velmora::kNormFacePixels);
    const size_t at = m_faces.size();
    try {
        AddFace(image, eyes);
        if (perPhoto > 1) {
            GreyImage mirrored = MirroredImage(image);
            const EyePair mirroredEyes = MirroredEyes(eyes, image.width);
            AddFace(mirrored, mirroredEyes);
            // The eyes a pixel further apart and a pixel closer: the face a little
            // smaller and a little larger, which evens out an eye found a pixel off.
            for (const int outward : {1, -1}) {
                AddView(image, eyes, outward);
                AddView(mirrored, mirroredEyes, outward);
            }
        }
    } catch (...) {
        m_faces.resize(at); // no half photo left waiting
        throw;
    }
    if (m_faces.size() >= kFaces * velmora::kNormFacePixels)
        Flush();
    return index;
}

void TemplateBatch::AddView(GreyImage& image, const EyePair& eyes, int outward)
{
    EyePair moved = eyes;
    moved.leftX -= outward;
    moved.rightX += outward;
    const size_t at = m_faces.size();
    try {
        AddFace(image, moved);
    } catch (const CliError&) {
        // Eyes the library takes can sit where a pixel more is refused (at the
        // image's edge, or too close): the face as found stands in.
        m_faces.resize(at);
        AddFace(image, eyes);
    }
}

void TemplateBatch::AddFace(GreyImage& image, const EyePair& eyes)
{
    const size_t at = m_faces.size();
    m_faces.resize(at + velmora::kNormFacePixels);
    if (m_recognizer.velmora().GetNormFace(image.data(), image.width, image.height, Left(eyes), Right(eyes),
                                           m_faces.data() + at) != GF_OK)
        throw CliError(kExitFailure, "the template could not be made (error " + std::to_string(CT_FAILED) + ")");
}

std::vector<TemplateBuffer>& TemplateBatch::Templates()
{
    Flush();
    return m_made;
}

void TemplateBatch::Flush()
{
    const size_t count = m_faces.size() / velmora::kNormFacePixels;
    if (count == 0)
        return;
    std::vector<TemplateBuffer> made(count, TemplateBuffer(static_cast<size_t>(m_size), 0));
    std::vector<unsigned char*> faces(count), templates(count);
    std::vector<int> lengths(count, m_size);
    std::vector<enumCTError> results(count, CT_FAILED);
    for (size_t i = 0; i < count; ++i) {
        faces[i] = m_faces.data() + i * velmora::kNormFacePixels;
        templates[i] = made[i].data();
    }
    velmora::engine::CreateTemplates(m_recognizer.velmora(), faces.data(), static_cast<int>(count), templates.data(),
                                     lengths.data(), results.data());
    m_faces.clear();
    for (size_t i = 0; i < count; ++i) {
        if (results[i] != CT_OK || lengths[i] < 8 || lengths[i] > m_size)
            throw CliError(kExitFailure, "the template could not be made (error " + std::to_string(results[i]) + ")");
        made[i].resize(static_cast<size_t>(lengths[i]));
    }
    // A photo's faces never straddle two batches: Add flushes after the last of them.
    const size_t perPhoto = m_recognizer.VectorsPerTemplate();
    for (size_t i = 0; i < count; i += perPhoto)
        m_made.push_back(perPhoto == 1 ? std::move(made[i])
                                       : JoinTemplates(std::vector<TemplateBuffer>(
                                             std::make_move_iterator(made.begin() + static_cast<std::ptrdiff_t>(i)),
                                             std::make_move_iterator(made.begin() +
                                                                     static_cast<std::ptrdiff_t>(i + perPhoto)))));
}

EyePair EyesOrFirstFace(Recognizer& recognizer, GreyImage& image, const std::optional<EyePair>& given,
                        const std::string& path)
{
    return GivenOrFound(given, given ? std::nullopt : recognizer.FindOneFace(image), path);
}

EyePair GivenOrFound(const std::optional<EyePair>& given, const std::optional<EyePair>& found, const std::string& path)
{
    if (given)
        return *given;
    if (!found)
        throw CliError(kExitNoFace, "no face found in " + path);
    return *found;
}

} // namespace velmora_cli
