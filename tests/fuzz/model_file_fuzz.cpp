// The subspace model file through LoadModel and its PCA block through
// ReadPCAFile. Whatever loads must be usable as a whole: the projection runs
// over every loaded array, and saving the model again must give back exactly the
// bytes that were read.
#include <vector>

#include "FuzzSupport.h"
#include "pca/SubspaceModel.h"

using velmora_fuzz::ScratchFile;

namespace {

// Projects a ramp through whatever stage is ready. Right after a load the arrays
// must all be there (mustProject); after mixing files a stage may refuse, but it
// must not read what it does not hold.
void ExerciseModel(const CSubspaceModel& model, bool mustProject)
{
    if (!model.m_bPCAReady)
        return;
    const CPCA& pca = *model.m_pPCA;
    std::vector<double> in(static_cast<size_t>(pca.m_nFeatureVecDim));
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<double>(i % 7);
    std::vector<double> out(static_cast<size_t>(pca.m_nMaxValidEigenVecNum) + 1);
    const bool pcaDone =
        model.ProjectToPCA(in.data(), pca.m_nFeatureVecDim, out.data(), pca.m_nMaxValidEigenVecNum);
    VELMORA_FUZZ_CHECK(pcaDone || !mustProject);
    if (!model.m_bLDAReady)
        return;
    const CLDA& lda = *model.m_pLDA;
    std::vector<double> templ(static_cast<size_t>(lda.m_nValidEigenNum));
    const bool ldaDone =
        model.ProjectToLDA(in.data(), pca.m_nFeatureVecDim, templ.data(), lda.m_nValidEigenNum);
    VELMORA_FUZZ_CHECK(ldaDone || !mustProject);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velmora_fuzz::Quiet();
    ScratchFile file("model");
    if (!file.Write(data, size))
        return 0;

    CSubspaceModel model;
    if (model.LoadModel(file.Path(), 0)) {
        ExerciseModel(model, true);
        velmora_fuzz::CheckWrittenBack([&](const std::string& path) { return model.SaveModel(path, 0); }, data, size);
    } else {
        // A failed load keeps no LDA, and the PCA stage exactly when its block was whole.
        VELMORA_FUZZ_CHECK(!model.m_bLDAReady && !model.m_pLDA->m_bLDAReady && model.m_pLDA->m_pplfEigenVecs == nullptr);
        VELMORA_FUZZ_CHECK(model.m_bPCAReady == CPCA().ReadPCAFile(file.Path(), 0));
        ExerciseModel(model, false);
    }
    // Keeping fewer LDA vectors, then reloading into the same objects.
    if (model.LoadModel(file.Path(), 1))
        ExerciseModel(model, true);
    if (model.LoadPCA(file.Path(), 2))
        ExerciseModel(model, false);

    for (int nNum : {0, 1}) {
        CPCA pca;
        if (pca.ReadPCAFile(file.Path(), nNum)) {
            VELMORA_FUZZ_CHECK(pca.HasProjectionArrays(pca.m_nMaxValidEigenVecNum));
            if (nNum > 0)
                VELMORA_FUZZ_CHECK(pca.m_nMaxValidEigenVecNum <= nNum);
        }
    }
    return 0;
}
