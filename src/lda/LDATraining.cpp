#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "common/MessageSink.h"
#include "common/NewArray.h"
#include "common/VectorOps.h"
#include "lda/LDA.h"
#include "lda/MatrixOps.h"
#include "lda/SVD.h"

bool CLDA::SVD(double* A, int m, int n, double* W, double* V)
{
    CSVD svd;
    return svd.Decompose(A, m, n, W, V);
}

bool CLDA::TrainLDA(double** pplfSamps, int nClassNum, int* pnClassSampNum, int nDim)
{
    m_bLDAReady = 0;
    FreeMemory();
    m_pplfTrainSamps = pplfSamps;
    m_nClassNum = nClassNum;
    m_nFeatureVecDim = nDim;
    m_pnClassSampNum = pnClassSampNum;

    int64_t total = 0;
    if (nClassNum >= 1) {
        if (pnClassSampNum == nullptr)
            return false;
        for (int i = 0; i < nClassNum; ++i) {
            // An empty class would divide its mean by zero.
            if (pnClassSampNum[i] < 1)
                return false;
            total += pnClassSampNum[i];
        }
    }
    if (total > INT32_MAX || (total > 0 && pplfSamps == nullptr))
        return false;
    m_nTotalSampNum = static_cast<int32_t>(total);

    int64_t k = static_cast<int64_t>(nClassNum) - 1;
    if (k > nDim)
        k = nDim;
    if (k > total - nClassNum)
        k = total - nClassNum;
    m_nValidEigenNum = static_cast<int32_t>(k);

    if (!AllocMemory() || !CalcMeans() || !CalcScatter() || !CalcEigen())
        return false;
    m_bLDAReady = 1;
    return true;
}

bool CLDA::CalcMeans()
{
    const int d = m_nFeatureVecDim;
    double* mean = m_plfMeanVec;
    std::fill(mean, mean + d, 0.0);
    int position = 0;
    for (int i = 0; i < m_nClassNum; ++i) {
        double* classMean = m_pplfMeanVecs[i];
        std::fill(classMean, classMean + d, 0.0);
        const int count = m_pnClassSampNum[i];
        for (int s = 0; s < count; ++s) {
            const double* x = m_pplfTrainSamps[position++];
            for (int c = 0; c < d; ++c) {
                mean[c] += x[c];
                classMean[c] += x[c];
            }
        }
        for (int c = 0; c < d; ++c)
            classMean[c] /= count;
    }
    for (int c = 0; c < d; ++c)
        mean[c] /= m_nTotalSampNum;
    return true;
}

bool CLDA::CalcScatter()
{
    const int d = m_nFeatureVecDim;
    const size_t dd = static_cast<size_t>(d) * static_cast<size_t>(d);
    auto u = NewArray<double>(d);
    auto O = NewArray<double>(dd);
    auto S = NewArray<double>(dd);
    // The scatter matrices' own allocation is not checked by AllocMemory.
    if (!u || !O || !S || m_plfSb == nullptr || m_plfSw == nullptr)
        return false;
    std::fill(m_plfSb, m_plfSb + dd, 0.0);
    std::fill(m_plfSw, m_plfSw + dd, 0.0);
    const double N = m_nTotalSampNum;
    int position = 0;
    for (int i = 0; i < m_nClassNum; ++i) {
        const int count = m_pnClassSampNum[i];
        const double p = count / N;
        const double* classMean = m_pplfMeanVecs[i];
        MatrixSub(classMean, m_plfMeanVec, u.get(), d, 1);
        MatrixMul(u.get(), d, 1, u.get(), 1, d, O.get());
        MatrixScale(O.get(), O.get(), p, d, d);
        MatrixAdd(m_plfSb, O.get(), m_plfSb, d, d);

        // S += (x - mu)(x - mu)^T without forming the outer product: the
        // product matrix would hold exactly these terms (0.0 + u_r u_c), and the
        // sums (which start at +0.0) cannot tell the sign of a zero term apart.
        std::fill(S.get(), S.get() + dd, 0.0);
        for (int s = 0; s < count; ++s) {
            const double* x = m_pplfTrainSamps[position++];
            for (int c = 0; c < d; ++c)
                u[c] = x[c] - classMean[c];
            for (int r = 0; r < d; ++r) {
                double* row = S.get() + static_cast<size_t>(r) * d;
                const double ur = u[r];
                for (int c = 0; c < d; ++c)
                    row[c] += ur * u[c];
            }
        }
        MatrixScale(S.get(), S.get(), p / count, d, d);
        MatrixAdd(m_plfSw, S.get(), m_plfSw, d, d);
    }
    return true;
}

bool CLDA::CalcEigen()
{
    const int d = m_nFeatureVecDim;
    const int k = m_nValidEigenNum;
    if (d < 1 || k < 0 || k > d || m_plfSw == nullptr || m_plfSb == nullptr ||
        (k > 0 && (m_plfEigenVals == nullptr || m_pplfEigenVecs == nullptr)))
        return false;
    const size_t dd = static_cast<size_t>(d) * static_cast<size_t>(d);
    std::unique_ptr<double[]> work[10];
    for (auto& w : work) {
        w = NewArray<double>(dd);
        if (!w)
            return false;
    }
    double* T = work[0].get();
    double* W1 = work[1].get();
    double* V1 = work[2].get();
    double* P = work[3].get();
    double* Pt = work[4].get();
    double* Q = work[5].get();
    double* M = work[6].get();
    double* W2 = work[7].get();
    double* V2 = work[8].get();
    double* E = work[9].get();

    std::copy(m_plfSw, m_plfSw + dd, T);
    if (!SVD(T, d, d, W1, V1)) {
        ShowMessage("CalcEigen error: SVD1 error", Details("LDA training: the within-class scatter (", d, " x ", d, ") does not decompose"));
        return false;
    }
    for (int i = 0; i < d; ++i) {
        double& w = W1[static_cast<size_t>(i) * d + i];
        if (w < 0.0 || std::isnan(w)) {
            ShowMessage(" CalcEigen error:  < 0 ", Details("LDA training: within-class scatter value ", i + 1, " of ", d, " is ", w));
            return false;
        }
        // A singular within-class scatter (more dimensions than N - Nc) has
        // exact zeros here; those directions carry no within-class spread to
        // whiten and are dropped (pseudo-inverse) instead of becoming infinite.
        w = w > 0.0 ? 1.0 / std::sqrt(w) : 0.0;
    }
    MatrixMul(V1, d, d, W1, d, d, P);
    MatrixTranspose(P, d, d, Pt);
    MatrixMul(Pt, d, d, m_plfSb, d, d, Q);
    MatrixMul(Q, d, d, P, d, d, M);
    if (!SVD(M, d, d, W2, V2)) {
        ShowMessage("CalcEigen error: SVD2 error", Details("LDA training: the whitened between-class scatter (", d, " x ", d, ") does not decompose"));
        return false;
    }
    MatrixMul(P, d, d, V2, d, d, E);
    for (int i = 0; i < k; ++i) {
        m_plfEigenVals[i] = W2[static_cast<size_t>(i) * d + i];
        double* row = m_pplfEigenVecs[i];
        for (int j = 0; j < d; ++j)
            row[j] = E[static_cast<size_t>(j) * d + i];
        VectorNormalize(row, d);
    }
    return true;
}
