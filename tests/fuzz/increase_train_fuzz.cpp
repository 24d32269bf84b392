// CVelmora::IncreaseTrain with the incremental data file as the input. The first
// byte steers the call: one or two new classes, a second face in the first
// class, preprocessing, and the number of PCA coefficients handed to the LDA
// (the file's own dimension, one more, or one fewer); the rest is the file. The
// library is initialised once with a small model (6 principal components of
// the 7840 Gabor features) and the faces are fixed, so only the file and the
// steering change from one input to the next.
//
// A success must come from a file that is complete for the dimension of the
// call, and the model it saves must carry the discriminant vectors that the
// classes of the file and the call allow; a failure must leave no model file.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "common/ByteOrder.h"
#include "lda/IncrementalData.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"
#include "support/HandModel.h"

using velmora_fuzz::ScratchFile;

namespace {

constexpr int kFeatureDim = 7840;
constexpr int kComponents = 6; // K of the model the library runs with
constexpr int kFacePixels = 64 * 64;
constexpr int kFaces = 3;      // at most: two classes, the first with two faces
constexpr size_t kMaxInput = 64 * 1024;

// Smooth faces, different per face, made once.
const std::vector<std::vector<unsigned char>>& Faces()
{
    static const std::vector<std::vector<unsigned char>> faces = [] {
        std::vector<std::vector<unsigned char>> f(kFaces, std::vector<unsigned char>(kFacePixels));
        for (int n = 0; n < kFaces; ++n)
            for (int i = 0; i < kFacePixels; ++i)
                f[n][i] = static_cast<unsigned char>(
                    128 + 90 * std::sin(0.21 * (i % 64) + n) * std::cos(0.13 * (i / 64) + 2 * n));
        return f;
    }();
    return faces;
}

bool Initialise()
{
    static const bool ready = [] {
        // PCA components are features spread over the Gabor vector, the LDA the identity.
        const std::string bytes =
            velmora_test::BasisModel(kFeatureDim, kComponents, 0, kComponents, [](int i) { return 1307 * i + 11; })
                .Bytes();
        ScratchFile model("increase-base-model");
        return model.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) &&
               CVelmora().Initialize(model.Path().c_str(), nullptr);
    }();
    return ready;
}

// What an incremental data file must be for IncreaseTrain to succeed with it:
// the magic, a dimension equal to the call's, every byte the header announces,
// counts that are not negative, and at least one discriminant vector.
struct FileFacts {
    bool complete = false;
    int64_t classes = 0; // stored classes (a negative Nf counts as none)
    int64_t samples = 0; // stored samples
};

FileFacts Examine(const uint8_t* file, size_t size, int nDim)
{
    FileFacts facts;
    static const char kMagic[20] = "QuorvaneIncrease2.4";
    if (size < 28 || std::memcmp(file, kMagic, 20) != 0)
        return facts;
    const int32_t nf = ReadInt32LE(file + 20);
    const int32_t d = ReadInt32LE(file + 24);
    if (d != nDim || d < 1 || d > 1024)
        return facts;
    facts.classes = std::max<int32_t>(nf, 0);
    const uint64_t record = 8 * static_cast<uint64_t>(d) + 4;
    const uint64_t needed = 28 + 8 * static_cast<uint64_t>(d) * (1 + static_cast<uint64_t>(d)) +
                            static_cast<uint64_t>(facts.classes) * record;
    if (size < needed)
        return facts;
    for (int64_t i = 0; i < facts.classes; ++i) {
        const int32_t count =
            ReadInt32LE(file + 28 + 8 * static_cast<size_t>(d) + static_cast<size_t>(i) * record +
                        8 * static_cast<size_t>(d));
        if (count < 0)
            return facts;
        facts.samples += count;
    }
    facts.complete = true;
    return facts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > kMaxInput)
        return 0;
    velmora_fuzz::Quiet();
    VELMORA_FUZZ_CHECK(Initialise());
    const uint8_t control = data[0];
    const uint8_t* file = data + 1;
    const size_t fileSize = size - 1;
    ScratchFile increase("increase-train");
    ScratchFile saved("increase-train-model");
    if (!increase.Write(file, fileSize))
        return 0;
    std::remove(saved.Path().c_str());

    std::vector<int> counts((control & 1) != 0 ? 2 : 1, 1);
    if ((control & 2) != 0)
        counts.front() = 2;
    const bool preprocess = (control & 16) != 0;
    const int fileDim = fileSize >= 28 ? ReadInt32LE(file + 24) : 3;
    int nLDA = fileDim;
    if (((control >> 2) & 3) == 2)
        nLDA = fileDim == INT_MAX ? fileDim : fileDim + 1;
    else if (((control >> 2) & 3) == 3)
        nLDA = fileDim == INT_MIN ? fileDim : fileDim - 1;

    std::vector<std::vector<unsigned char>> faces(Faces().begin(),
                                                  Faces().begin() + (counts.front() + counts.size() - 1));
    std::vector<unsigned char*> pointers;
    for (auto& face : faces)
        pointers.push_back(face.data());

    g_subspaceModel.m_nPCAEigenUsed = kComponents; // a success before set it to its nLDA
    CVelmora velmora;
    g_recognizerReady = true; // constructing an object clears it
    const enumTError result =
        velmora.IncreaseTrain(pointers.data(), static_cast<int>(counts.size()), counts.data(), 0,
                              preprocess, nLDA, 0, nullptr, increase.Path().c_str(),
                              saved.Path().c_str());

    VELMORA_FUZZ_CHECK(result == T_OK || result == T_BAD_ARGUMENT);
    VELMORA_FUZZ_CHECK(g_subspaceModel.m_bPCAReady);
    if (result != T_OK) {
        VELMORA_FUZZ_CHECK(!g_subspaceModel.m_bLDAReady);
        VELMORA_FUZZ_CHECK(g_subspaceModel.m_nPCAEigenUsed == kComponents);
        VELMORA_FUZZ_CHECK(saved.Read().empty());
        return 0;
    }

    const FileFacts facts = Examine(file, fileSize, nLDA);
    VELMORA_FUZZ_CHECK(facts.complete && nLDA <= kComponents);
    const int64_t classes = facts.classes + static_cast<int64_t>(counts.size());
    const int64_t samples = facts.samples + static_cast<int64_t>(faces.size());
    const int64_t vectors = std::min<int64_t>({classes - 1, nLDA, samples - classes});
    VELMORA_FUZZ_CHECK(vectors >= 1 && samples <= INT_MAX);

    VELMORA_FUZZ_CHECK(g_subspaceModel.m_bLDAReady && g_subspaceModel.m_nPCAEigenUsed == nLDA &&
                       g_subspaceModel.m_nPCAEigenSkipped == 0);
    CSubspaceModel written;
    VELMORA_FUZZ_CHECK(written.LoadModel(saved.Path(), 0));
    VELMORA_FUZZ_CHECK(written.m_nPCAEigenUsed == nLDA && written.m_nPCAEigenSkipped == 0);
    VELMORA_FUZZ_CHECK(written.m_pPCA->m_nMaxValidEigenVecNum == nLDA);
    VELMORA_FUZZ_CHECK(written.m_pLDA->m_nValidEigenNum == vectors &&
                       written.m_pLDA->m_nFeatureVecDim == nLDA);
    return 0;
}
