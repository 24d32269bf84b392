// Velmora face recognition: the public interface of libvelmora.
//
// Images are 8-bit grey, held in the caller's memory: width x height bytes,
// row-major, top row first, no row padding. The library keeps no pointer to
// caller memory after a call returns, and no call throws.
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

// Values of the int mode of CompareTemplate: how a vector is scored against a
// template of several vectors. Every value other than 1 and 2 is the feature line.
enum enumCompareMode : int32_t {
    CM_MAX = 1,          // the best mapped cosine over the template's vectors
    CM_MEAN = 2,         // the mapped cosine with the mean of the template's vectors
    CM_FEATURE_LINE = 3, // the best mapped cosine with the foot of the vector on the line
                         // through any two of the template's vectors (CM_MAX for one vector)
};

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
    /*!
        WHAT THIS OBJECT REPRESENTS
            A handle on the library's one recogniser: it finds faces and their eye
            centres, cuts normalised faces, makes face templates (Gabor magnitudes
            projected through a PCA and then an LDA subspace), compares templates,
            and trains, extends and saves the subspace model.

            The object itself holds only the settings below. The machinery (the
            subspace model, the face preprocessor and normaliser, the Gabor kernel
            bank, the face detector) and the readiness flag exist once per process
            and are shared by every CVelmora object. So:
                - constructing any CVelmora (not copying one) clears readiness for
                  all of them: call Initialize() after the last construction;
                - Initialize(), Train() and IncreaseTrain() change the model that
                  every object uses.

        THREAD SAFETY
            None. Calls must not overlap, on one object or on several, const
            members included: they share the module-wide machinery and its work
            areas. Serialise every call (and VelmoraSet*MessageHandler) yourself.

        MESSAGES
            Failures the library treats as abnormal also hand a text to the message
            handler (see VelmoraSetMessageHandler); ordinary outcomes (no face, a
            file that cannot be opened) are reported by the result alone.
    !*/
public:
    CVelmora();
    /*!
        ensures
            - the settings hold their defaults (listed with each setting below)
            - the library is not ready: GetMaxTemplateSize() returns false and
              CreateTemplate() returns CT_NOT_INITIALIZED, for every CVelmora object,
              until Initialize() or Train() succeeds
            - the find-face mode is 0
    !*/

    CVelmora(const CVelmora& other);
    CVelmora& operator=(const CVelmora& other);
    /*!
        ensures
            - copies the settings of other; readiness and the model are untouched
    !*/

    virtual ~CVelmora();
    /*!
        ensures
            - releases nothing: readiness and the model are untouched
    !*/

    bool GetMaxTemplateSize(int& size) const;
    /*!
        ensures
            - if the library is ready and the size fits an int:
                - size == 8 + m_nTemplateVecNum * 200 * 8, the bytes of a template of
                  m_nTemplateVecNum vectors (1608 for the default single vector)
                - returns true
            - else size == 0 and returns false
    !*/

    bool GetNormFaceSize(int& width, int& height) const;
    /*!
        ensures
            - width == height == 64, the size of the faces GetNormFace() makes and
              CreateTemplate() takes
            - returns true
    !*/

    bool GetFaceSize(int width, int& height) const;
    /*!
        ensures
            - if width >= 1 and the height fits an int: height == the integer part of
              width * 28 / 23 + 0.5 (46 gives 56), the height of GetFace()'s face of
              that width, and returns true
            - else returns false and height is untouched
    !*/

    int GetVelmoraVersion() const;
    /*!
        ensures
            - returns 230 (version 2.3.0)
    !*/

    bool SetFindFaceMode(int mode);
    /*!
        ensures
            - stores mode, which nothing reads: FindFaces() and FindOneFace() work the
              same for every value
            - returns true
    !*/

    enumGFError GetNormFace(unsigned char* image, int width, int height, CPoint leftEye, CPoint rightEye,
                            unsigned char* out) const;
    /*!
        requires
            - image holds width x height bytes and out 4096 (or image or out is null)
            - leftEye and rightEye are the eye centres in image, leftEye the one with
              the smaller x
        ensures
            - returns GF_BAD_ARGUMENT, writing nothing, when image or out is null,
              width or height is negative, or rightEye.x - leftEye.x < 3
            - else returns GF_OK and out holds the 64 x 64 face, rotated so that the
              eyes are level, scaled and moved so that they lie at (17, 13) and
              (45, 13); pixels from outside the image are 0 (all of them when width
              or height is 0). The image is only read.
            - if m_bPreprocessNormFace != 0, the face is also photometrically
              normalised inside the face mask (lighting stretch, then quadrant gamma
              correction against a mean face) and 0 outside it. The mask is the
              template mask once Initialize() has been called, a slightly different
              one before, so faces for templates are cut after Initialize().
    !*/

    enumGFError GetFace(unsigned char* image, int width, int height, CPoint leftEye, CPoint rightEye,
                        unsigned char* out, int size) const;
    /*!
        requires
            - image holds width x height bytes; out holds size x h bytes, h as
              GetFaceSize(size, h) reports (or image or out is null)
        ensures
            - returns GF_BAD_ARGUMENT, writing nothing, when the arguments fail the
              checks of GetNormFace(), width or height is 0, the face height does
              not fit an int, or the display rectangle (proportional to the eye
              distance) has no pixel in the image
            - else returns GF_OK and out holds the size x h display face, eyes
              level, with no photometric step; a size of 0 or less writes nothing
    !*/

    bool Initialize(const char* modelPath, const char* secondPath);
    /*!
        ensures
            - selects the template face mask first, whatever follows
            - returns false, and the model and readiness are as they were, when
              m_nGaborOrientations > 8, m_nGaborScales * m_nGaborOrientations > 40
              or modelPath is null
            - returns false when the subspace model file does not load (its faults
              are reported as messages, a file that cannot be opened is not).
              Readiness is then as it was, but the earlier model is gone:
              CreateTemplate() returns CT_FAILED until a later Initialize() succeeds.
            - else loads the model, builds the Gabor kernels from the settings,
              makes the library ready and returns true
            - secondPath is not read (it may be null)
    !*/

    enumCTError CreateTemplate(unsigned char* face, int width, int height, unsigned char* templ,
                               int& length) const;
    /*!
        requires
            - face holds a 64 x 64 normalised face (4096 bytes) as GetNormFace()
              makes it with the same m_bPreprocessNormFace; width and height are not
              read
            - templ holds 1608 bytes (or is null)
        ensures
            - returns CT_NOT_INITIALIZED, changing nothing, when the library is not
              ready (see CVelmora(), Initialize() and Train())
            - returns CT_FAILED, changing nothing, when face or templ is null
            - the face is changed in place: photometrically normalised when
              m_bPreprocessNormFace == 0, weighted when m_bApplyFaceWeight != 0
            - returns CT_OK when templ holds a template of one vector: the header
              {count 1, dimension 200}, then the 200 doubles; length == 1608
            - returns CT_FAILED when the model cannot make the vector (a model for
              other features, fewer than 200 discriminant vectors, values that are
              not finite); the header and length may have been written, the vector
              has not
    !*/

    enumCTError CreateTemplate(unsigned char* image, int width, int height, CPoint leftEye,
                               CPoint rightEye, unsigned char* templ, int* length) const;
    /*!
        requires
            - as GetNormFace() for image, width, height and the eyes
            - templ holds 1608 bytes (or is null)
        ensures
            - returns CT_FAILED, changing nothing, when templ or length is null or
              GetNormFace() refuses the arguments
            - else the same as GetNormFace() into a face of its own followed by the
              first overload on that face (so both give the same template); the
              image is only read
    !*/

    enumTError IncreaseTrain(unsigned char** ppImages, int nClassNum, int* const pnClassSampNum,
                             int, bool bPreprocess, int nLDAEigenUsed, int,
                             const char* const szPCAFile, const char* const szIncreaseFile,
                             const char* const szModelFile);
    /*!
        requires
            - ppImages holds the new faces class by class (pnClassSampNum[0] faces of
              the first class, then the next), each a 64 x 64 normalised face of
              4096 bytes; pnClassSampNum holds nClassNum counts
            - szIncreaseFile is an incremental data file (see SaveIncreaseData())
              of dimension nLDAEigenUsed, or "" for none
        ensures
            - extends the discriminant stage with new people without retraining the
              PCA: the PCA coefficients of the faces, made as CreateTemplate() makes
              its features (after the photometric steps and, when
              m_bApplyFaceWeight != 0, the face weighting, applied in place only when
              bPreprocess is true), plus the statistics of szIncreaseFile train the
              LDA on the first nLDAEigenUsed components, none skipped
            - the PCA is the one of the file szPCAFile begins with when it is not
              null, else the current model's (which then needs Initialize() or
              Train())
            - returns T_OK when the model is trained and written to szModelFile; it
              stays in memory, so later templates use it. Readiness is untouched.
            - returns T_NO_SAMPLES when there is no face or no PCA component, or
              memory runs out
            - returns T_BAD_ARGUMENT on any other failure (no model, a null or empty
              class, nLDAEigenUsed above the PCA components, a file that cannot be
              read or written, ...); after a failed training the model's LDA stage
              is not usable until the next Initialize() or Train()
            - the two unnamed int arguments are not read
    !*/

    enumTError SaveIncreaseData(unsigned char** ppImages, int nClassNum,
                                int* const pnClassSampNum, bool bPreprocess, int nDim,
                                const char* const szBaseFile,
                                const char* const szIncreaseFile) const;
    /*!
        requires
            - the library is ready (Initialize())
            - ppImages and pnClassSampNum as for IncreaseTrain()
        ensures
            - writes to szIncreaseFile the incremental data file that IncreaseTrain()
              reads: the statistics of the first nDim PCA coefficients of the faces
              (made as IncreaseTrain() makes them, with the current model), appended
              as new classes to those of szBaseFile (null: none)
            - returns T_OK on success; T_FILE_ERROR when the file cannot be written
              or szBaseFile cannot be read; T_NO_SAMPLES when there is no face or
              memory runs out; T_BAD_ARGUMENT on any other failure (not ready,
              szIncreaseFile null, nDim outside 1 to the model's PCA components or
              different from szBaseFile's, a null face)
    !*/

    double CompareTemplate(const unsigned char* templateA, const unsigned char* templateB,
                           int mode) const;
    /*!
        requires
            - each buffer holds the FaceTemplate header and the count x dimension
              doubles it announces (or is null)
        ensures
            - needs no Initialize()
            - returns -1.0 when a buffer is null, a count or dimension is below 1,
              the dimensions differ or memory runs out
            - else returns the best score of a vector of the template with fewer
              vectors (templateA on equal counts) against the other template, in the
              mode of enumCompareMode (any value other than CM_MAX and CM_MEAN is
              CM_FEATURE_LINE). Scores are (cosine + 1) / 2, in 0 to 1, 1 for vectors
              pointing the same way. A vector of zeros scores nothing: -1.0, or 0.0
              in the feature-line mode against two or more vectors. With equal
              counts above 1 the score in modes other than CM_MAX may depend on the
              order of the arguments.
    !*/

    double CompareTemplate(const unsigned char* templateA, size_t lengthA,
                           const unsigned char* templateB, size_t lengthB, int mode) const;
    /*!
        ensures
            - the same, for hosts that know the byte length of each buffer; also
              returns -1.0 when a header announces more bytes than its length
    !*/

    enumFFError FindFaces(unsigned char* image, int width, int height, CPoint* firstEyes,
                          CPoint* secondEyes, int& count);
    /*!
        requires
            - image holds width x height bytes (or is null)
            - on entry count is the room of both point arrays
        ensures
            - needs no Initialize(); the image is only read
            - returns FF_NO_FACE, with count == 0 and the arrays untouched, when no
              face is found, count <= 0 on entry, or either array is null
            - else returns FF_OK; count is the number of faces reported (at most the
              room and at most 10), larger faces first, and entry i of the arrays
              holds the eye centres of face i, firstEyes the eye on the image's left
            - an eye that cannot be localised is estimated from the detector's eye
              box
    !*/

    enumFFError FindOneFace(unsigned char* image, int width, int height, CRect& face,
                            CPoint& firstEye, CPoint& secondEye);
    /*!
        requires
            - image holds width x height bytes (or is null)
        ensures
            - the eyes of the first face FindFaces() would report: returns FF_OK and
              the two eye centres, or FF_NO_FACE with both at (0, 0)
            - face is neither read nor written
    !*/

    enumTError Train(unsigned char** ppImages, int nSampWidth, int nSampHeight, int nClassNum,
                     int* const pnClassSampNum, const std::string& strSampFile);
    /*!
        requires
            - strSampFile is a training sample file of samples of
              nSampWidth x nSampHeight bytes (header A, B, Ns, Nf as int32, then Nf
              classes, each an int32 count followed by its samples)
            - ppImages holds nClassNum new classes of such samples, class by class
              (pnClassSampNum[i] samples of class i); they are only read
        ensures
            - builds new PCA and LDA subspaces (300 principal components, the first 2
              skipped) from the file's samples followed by the new ones, and keeps
              them in memory; writes no file (see SaveMatrix())
            - returns T_OK, and the library is ready, on success
            - returns T_BAD_ARGUMENT for a null ppImages, sizes that differ from the
              file's, fewer than 210 classes in all, or a new class without samples;
              T_FILE_ERROR when the file cannot be opened; T_SAMPLE_FILE_ERROR when
              it is short or inconsistent; T_NO_SAMPLES when there is no sample or
              memory runs out. These leave the model and readiness as they were.
            - returns T_PCA_FAILED or T_LDA_FAILED when a training fails; the library
              is then not ready until Initialize() or Train() succeeds
            - prints "\rloop1 times: %d   "-style progress lines to stdout
    !*/

    enumTError SaveMatrix(const std::string& strPath);
    /*!
        ensures
            - writes the model in memory to strPath as a subspace model file with
              205 discriminant vectors and returns T_OK
            - returns T_FILE_ERROR when the model has no discriminant stage or fewer
              than 205 vectors (with a message), or the file cannot be written
    !*/

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
    // Settings, read by the operations above; a host may change them between calls.
    int32_t m_bPreprocessNormFace; // 1: GetNormFace's faces are photometrically normalised,
                                   // and CreateTemplate expects them so; 0: neither
    int32_t m_bApplyFaceWeight;    // 0; non-zero: faces are weighted before their features
                                   // (CreateTemplate; IncreaseTrain when it preprocesses)
    int32_t m_nGaborFaceWidth;     // 32; not read (the Gabor stage is fixed at 32 x 32)
    int32_t m_nGaborFaceHeight;    // 32; not read
    int32_t m_nGaborScales;        // 5; Gabor scales, read by Initialize
    int32_t m_nGaborOrientations;  // 8 (at most 8, and scales x orientations at most 40)
    double m_lfGaborSigma;         // 2.0; envelope width in units of pi
    double m_lfGaborKmax;          // 1.0; largest wave number in units of pi
    double m_lfGaborFreqStep;      // 1.41421; ratio of the wave numbers of successive scales
    int32_t m_nTemplateVecNum;     // 1; vectors per template assumed by GetMaxTemplateSize
};
