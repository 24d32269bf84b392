// Velmora face recognition: the public interface of libvelmora.
//
// One class, CVelmora, works on 8-bit grey images held in the caller's memory
// (row-major, top row first, no row padding). All CVelmora objects share the
// library's module-wide machinery, so calls must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define VELMORA_API __attribute__((visibility("default")))

struct CPoint {
    int32_t x;
    int32_t y;
    CPoint() : x(0), y(0) {}
    CPoint(int32_t px, int32_t py) : x(px), y(py) {}
};

struct CRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    CRect() : left(0), top(0), right(0), bottom(0) {}
    CRect(int32_t l, int32_t t, int32_t r, int32_t b) : left(l), top(t), right(r), bottom(b) {}
};

// Result of GetNormFace and GetFace.
enum enumGFError : int32_t {
    GF_OK = 0,
    GF_BAD_ARGUMENT = 100,
};

// Result of both CreateTemplate overloads.
enum enumCTError : int32_t {
    CT_OK = 0,
    CT_NOT_INITIALIZED = 10,
    CT_FAILED = 100,
};

// Result of FindFaces and FindOneFace.
enum enumFFError : int32_t {
    FF_OK = 0,
    FF_NO_FACE = 200,
};

// Result of Train, SaveMatrix and IncreaseTrain.
enum enumTError : int32_t {
    T_OK = 0,
    T_FILE_ERROR = 10,
    T_NO_SAMPLES = 20,
    T_BAD_ARGUMENT = 100,
    T_SAMPLE_FILE_ERROR = 200,
    T_PCA_FAILED = 300,
    T_LDA_FAILED = 400,
};

// Header of a template buffer (little-endian, no padding). It is followed by
// count x dimension IEEE doubles, vector 0 first; the whole buffer is
// 8 + 8 x count x dimension bytes.
struct FaceTemplate {
    int32_t count;
    int32_t dimension;
};
static_assert(sizeof(FaceTemplate) == 8, "FaceTemplate header is 8 bytes");

// Receives every message the library would otherwise show to a person, as one
// fixed text. A null handler (the default) writes the text to stderr.
typedef void (*VelmoraMessageHandler)(const char* text, void* user);
VELMORA_API void VelmoraSetMessageHandler(VelmoraMessageHandler handler, void* user);

// The same, with the values behind the fixed text: details is a sentence such as
// "model file: asked for 205 discriminant vectors, the file has 180" for the text
// "nNum > m_pLDA->m_nValidEigenNum", or "" when the text says all. Installing
// either kind of handler replaces the other. Without a handler the library writes
// "text (details)", or the text alone, and a newline to stderr.
typedef void (*VelmoraDetailedMessageHandler)(const char* text, const char* details, void* user);
VELMORA_API void VelmoraSetDetailedMessageHandler(VelmoraDetailedMessageHandler handler, void* user);

class VELMORA_API CVelmora {
public:
    CVelmora();
    CVelmora(const CVelmora& other);
    CVelmora& operator=(const CVelmora& other);
    virtual ~CVelmora();

    // Sizes, version and mode.
    bool GetMaxTemplateSize(int& size) const;
    bool GetNormFaceSize(int& width, int& height) const;
    bool GetFaceSize(int width, int& height) const;
    int GetVelmoraVersion() const;
    bool SetFindFaceMode(int mode);

    // Face cutting from the two eye centres (leftEye: the one with the smaller x).
    // GetNormFace writes the 64 x 64 normalised face (4096 bytes), photometrically
    // normalised when m_bPreprocessNormFace is non-zero. GetFace writes a display
    // face of size x h bytes, h as GetFaceSize reports.
    enumGFError GetNormFace(unsigned char* image, int width, int height, CPoint leftEye, CPoint rightEye,
                            unsigned char* out) const;
    enumGFError GetFace(unsigned char* image, int width, int height, CPoint leftEye, CPoint rightEye,
                        unsigned char* out, int size) const;

    // Selects face mask 3, loads the subspace model file and builds the Gabor
    // kernels from the settings. False (readiness unchanged) when the model does
    // not load or the settings ask for more than 8 orientations or 40 kernels.
    // secondPath is not read.
    bool Initialize(const char* modelPath, const char* secondPath);

    // Templates (header count 1, dimension 200, then 200 doubles: 1608 bytes,
    // written to templ; length receives the byte count). The first overload takes
    // a normalised face as GetNormFace makes it (width and height are not read);
    // it is changed in place when m_bPreprocessNormFace is 0 or m_bApplyFaceWeight
    // is set. The second cuts the face from an image first.
    enumCTError CreateTemplate(unsigned char* face, int width, int height, unsigned char* templ,
                               int& length) const;
    enumCTError CreateTemplate(unsigned char* image, int width, int height, CPoint leftEye,
                               CPoint rightEye, unsigned char* templ, int* length) const;

    // Incremental training: the PCA coefficients of new normalised 64 x 64 faces
    // (ppImages, grouped by class as pnClassSampNum says; changed in place when
    // bPreprocess is set) plus the statistics of earlier classes in szIncreaseFile
    // ("" for none) retrain the LDA on the first nLDAEigenUsed components; the model
    // (PCA from szPCAFile when not null, else the current one) is then saved to
    // szModelFile and stays in use. The int arguments without names are not read.
    // 0 success, 20 no faces or components, 100 any other failure.
    enumTError IncreaseTrain(unsigned char** ppImages, int nClassNum, int* const pnClassSampNum,
                             int, bool bPreprocess, int nLDAEigenUsed, int,
                             const char* const szPCAFile, const char* const szIncreaseFile,
                             const char* const szModelFile);
    // Writes the incremental data file that IncreaseTrain reads: the statistics of
    // the first nDim PCA coefficients of the faces (made as IncreaseTrain makes
    // them, with the current model), appended as new classes to those of
    // szBaseFile (null: none). 0 success, 10 the file cannot be written or
    // szBaseFile read, 20 no faces, 100 any other failure.
    enumTError SaveIncreaseData(unsigned char** ppImages, int nClassNum,
                                int* const pnClassSampNum, bool bPreprocess, int nDim,
                                const char* const szBaseFile,
                                const char* const szIncreaseFile) const;

    // Matching. Scores lie in 0..1; -1.0 marks invalid input.
    double CompareTemplate(const unsigned char* templateA, const unsigned char* templateB,
                           int mode) const;
    // Same, for hosts that know their buffer lengths: -1.0 when a header announces
    // more bytes than its buffer holds.
    double CompareTemplate(const unsigned char* templateA, size_t lengthA,
                           const unsigned char* templateB, size_t lengthB, int mode) const;

    // Face finding. FindFaces takes the room of both point arrays in count and
    // returns there the number of faces reported, in the detector's order
    // (larger faces first); FindOneFace reports the first face only and leaves
    // face as it was. First eyes are the ones on the image's left. An eye that
    // cannot be localised is estimated from the detector's eye box.
    enumFFError FindFaces(unsigned char* image, int width, int height, CPoint* firstEyes,
                          CPoint* secondEyes, int& count);
    enumFFError FindOneFace(unsigned char* image, int width, int height, CRect& face,
                            CPoint& firstEye, CPoint& secondEye);

    // Training. Train builds new PCA and LDA subspaces from the samples of a
    // training sample file plus nClassNum new classes of samples (ppImages,
    // pnClassSampNum[i] samples of nSampWidth x nSampHeight bytes per class, class
    // by class) and keeps them in memory; SaveMatrix writes them as a model file.
    // Both return an enumTError code. Train prints progress lines to stdout.
    enumTError Train(unsigned char** ppImages, int nSampWidth, int nSampHeight, int nClassNum,
                     int* const pnClassSampNum, const std::string& strSampFile);
    enumTError SaveMatrix(const std::string& strPath);

private:
    // Gabor magnitudes of a 32 x 32 reduced face (7840 values with the default
    // bank), from the module-wide kernel bank.
    bool GetGaborFeature(const unsigned char* face32, double* feature) const;
    // The first nDim PCA coefficients of a normalised face, made as template
    // creation makes its feature vector (the face is preprocessed in place first
    // when bPreprocess is set).
    bool GetFacePCACoefficients(unsigned char* face, bool bPreprocess, double* coeffs,
                                int nDim) const;

public:

    // Settings, read by the operations above and below; a host may adjust them.
    int32_t m_bPreprocessNormFace;
    int32_t m_bApplyFaceWeight;
    int32_t m_nGaborFaceWidth;
    int32_t m_nGaborFaceHeight;
    int32_t m_nGaborScales;
    int32_t m_nGaborOrientations;
    double m_lfGaborSigma;
    double m_lfGaborKmax;
    double m_lfGaborFreqStep;
    int32_t m_nTemplateVecNum;
};
