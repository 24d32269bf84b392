#pragma once
// The tool's view of the library: one CVelmora with its messages sent to the
// tool's error stream, and the face operations in the tool's own types.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <tarvik/Tarvik.h>
#include <velmora/Velmora.h>

#include "GreyImage.h"
#include "LibraryMessages.h"
#include "TemplateFile.h"
#include "common/FaceSizes.h"

namespace velmora_cli {

// A face found: its eye centres and the detector's box round it.
struct FoundFace {
    EyePair eyes;
    int x = 0, y = 0, width = 0, height = 0;
};

// Faces larger first, each with the centres of the detector's eye boxes,
// which are the 68-point landmarks' eye centres: on BioID they are within 0.05
// eye distances of the marked eyes twice as often as the eyes that the
// library's FindFaces localises inside those boxes. With VELMORA_EYES set to
// "localiser" the library's eye localiser decides instead. A FaceFinder has a
// detector of its own and touches no module-wide library state, so each worker
// thread of a photo pipeline has one.
class FaceFinder {
public:
    static constexpr int kMaxFaces = 10;

    FaceFinder();

    std::optional<EyePair> FindOneFace(GreyImage& image);
    // At most `room` (1..kMaxFaces) faces with their boxes.
    std::vector<FoundFace> DetectFaces(GreyImage& image, int room = kMaxFaces);

private:
    CAdaboostFaceDetect m_detector;
    bool m_localiseEyes;
};

class Recognizer {
public:
    static constexpr int kNormFaceSide = velmora::kNormFaceSide;
    static constexpr int kFeatureLength = velmora::kFeatureDim;
    static constexpr int kMaxFaces = FaceFinder::kMaxFaces;

    explicit Recognizer(std::ostream& err);

    // Loads a model (Initialize); throws CliError (kExitModel) when it cannot.
    void LoadModel(const std::string& path);
    // Readies face cutting and feature extraction as a loaded model would
    // (the template face mask and the Gabor bank), for work without a model.
    void PrepareWithoutModel();

    // As FaceFinder finds them.
    std::vector<EyePair> FindFaces(GreyImage& image);
    std::optional<EyePair> FindOneFace(GreyImage& image) { return m_finder.FindOneFace(image); }
    std::vector<FoundFace> DetectFaces(GreyImage& image, int room = kMaxFaces)
    {
        return m_finder.DetectFaces(image, room);
    }

    // The 64 x 64 normalised face; throws CliError when the eyes are refused.
    GreyImage NormFace(GreyImage& image, const EyePair& eyes);
    // The display face of the given width; throws CliError when refused.
    GreyImage DisplayFace(GreyImage& image, const EyePair& eyes, int width);
    // The template of the face at the eyes; needs LoadModel. It holds six
    // vectors, unless SetManyViews(false) leaves one (the face alone): the face,
    // the mirrored photo's face, and both again cut with the eyes a pixel
    // further apart and a pixel closer. A face and its mirror image show the
    // same person, and comparing both evens out a face lit or turned to one
    // side; the moved eyes even out an eye found a pixel off. On LFW pairs
    // (mode mean) six vectors score 82.4%, the face and its mirror image alone
    // 81.1%, one vector 78.1%. Photos that come in numbers go quicker through a
    // TemplateBatch.
    static constexpr int kViewVectors = 6;
    TemplateBuffer MakeTemplate(GreyImage& image, const EyePair& eyes);
    void SetManyViews(bool on) { m_manyViews = on; }
    size_t VectorsPerTemplate() const { return m_manyViews ? kViewVectors : 1; }
    // The Gabor magnitudes of a normalised face (kNormFaceSide squared bytes), as
    // template creation computes them.
    std::vector<double> GaborFeatures(const unsigned char* normFace);

    CVelmora& velmora() { return m_velmora; }

private:

    LibraryMessages m_messages;
    CVelmora m_velmora;
    FaceFinder m_finder;
    bool m_manyViews = true;
};

// Templates of many faces made together, each exactly what MakeTemplate gives
// for its image and eyes: the library reads its model once per batch of faces
// rather than once per face.
class TemplateBatch {
public:
    explicit TemplateBatch(Recognizer& recognizer) : m_recognizer(recognizer) {}

    // Cuts the face now, throwing as MakeTemplate would for eyes it refuses or
    // when no model is loaded; returns the index of its template in Templates().
    size_t Add(GreyImage& image, const EyePair& eyes);
    // The templates of every face added, in order; throws CliError as
    // MakeTemplate would for the first face whose template fails.
    std::vector<TemplateBuffer>& Templates();

private:
    static constexpr size_t kFaces = 32;
    void AddFace(GreyImage& image, const EyePair& eyes);
    // The face cut with each eye moved `outward` pixels away from the other.
    void AddView(GreyImage& image, const EyePair& eyes, int outward);
    void Flush();

    Recognizer& m_recognizer;
    int m_size = 0;                     // bytes of one face's template
    std::vector<unsigned char> m_faces; // normalised faces waiting for their templates
    std::vector<TemplateBuffer> m_made;
};

// Finds the first face of the image, or uses the given eyes; throws CliError
// (kExitNoFace) naming the file when there is no face.
EyePair EyesOrFirstFace(Recognizer& recognizer, GreyImage& image, const std::optional<EyePair>& given,
                        const std::string& path);
// The same when the face was searched before: `found` (nothing when none was).
EyePair GivenOrFound(const std::optional<EyePair>& given, const std::optional<EyePair>& found, const std::string& path);

} // namespace velmora_cli
