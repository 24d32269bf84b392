#include "pca/SymEigen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "common/NewArray.h"
#include "common/OrderedProduct.h"

// The two stages do exactly the arithmetic of the classical row-by-row
// formulation (every element sees the same operations in the same order), but
// reorganised so that the inner loops run along rows: the tridiagonalisation
// merges the update of one Householder step with the matrix-vector product of
// the next, and the QL stage records its rotations and applies them later, in
// cache-sized column blocks, to the transposed eigenvector matrix.

namespace {

void Progress(const char* format, int value)
{
    std::printf(format, value);
    std::fflush(stdout);
}

// ---- Householder tridiagonalisation ---------------------------------------

// row[k] = (row[k] - ur * c[k]) - cr * u[k] for k = 0..len-1: the rank-two
// update of one row of the lower triangle by a Householder step with vector u.
__attribute__((target_clones("avx2", "default"))) void RankTwoRow(
    double* __restrict row, const double* __restrict u, const double* __restrict c, double ur,
    double cr, size_t len)
{
    for (size_t k = 0; k < len; ++k)
        row[k] = row[k] - ur * c[k] - cr * u[k];
}

// acc[k] += row[k] * x for k = 0..len-1.
__attribute__((target_clones("avx2", "default"))) void AddScaled(
    double* __restrict acc, const double* __restrict row, double x, size_t len)
{
    for (size_t k = 0; k < len; ++k)
        acc[k] += row[k] * x;
}

// row[k] -= g[k] * x for k = 0..len-1.
__attribute__((target_clones("avx2", "default"))) void SubScaled(
    double* __restrict row, const double* __restrict g, double x, size_t len)
{
    for (size_t k = 0; k < len; ++k)
        row[k] -= g[k] * x;
}

// Sum over k = 0..r of row_r[k] * u[k] for four consecutive rows r0..r0+3, each
// in ascending k from 0.0; the four chains run interleaved.
void PrefixDots4(const double* a, size_t n, size_t r0, const double* u, double* out)
{
    const double* p0 = a + r0 * n;
    const double* p1 = p0 + n;
    const double* p2 = p1 + n;
    const double* p3 = p2 + n;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (size_t k = 0; k <= r0; ++k) {
        const double x = u[k];
        s0 += p0[k] * x;
        s1 += p1[k] * x;
        s2 += p2[k] * x;
        s3 += p3[k] * x;
    }
    s1 += p1[r0 + 1] * u[r0 + 1];
    s2 += p2[r0 + 1] * u[r0 + 1];
    s3 += p3[r0 + 1] * u[r0 + 1];
    s2 += p2[r0 + 2] * u[r0 + 2];
    s3 += p3[r0 + 2] * u[r0 + 2];
    s3 += p3[r0 + 3] * u[r0 + 3];
    out[0] = s0;
    out[1] = s1;
    out[2] = s2;
    out[3] = s3;
}

double PrefixDot(const double* row, const double* u, size_t len)
{
    double s = 0.0;
    for (size_t k = 0; k < len; ++k)
        s += row[k] * u[k];
    return s;
}

// The textbook loops, used when the work vectors cannot be allocated.
void TridiagonalizeInPlace(double* a, int n, double* d, double* c)
{
    const size_t N = static_cast<size_t>(n);
    auto A = [&](int r, int k) -> double& { return a[r * N + k]; };
    for (int i = n - 1; i >= 1; --i) {
        Progress("\rloop1 times: %d   ", i);
        double h = 0.0;
        if (i > 1)
            for (int k = 0; k < i; ++k)
                h += A(i, k) * A(i, k);
        if (h + 1.0 == 1.0) {
            c[i] = (i == 1) ? A(1, 0) : 0.0;
            d[i] = 0.0;
            continue;
        }
        double g = std::sqrt(h);
        if (A(i, i - 1) > 0.0)
            g = -g;
        c[i] = g;
        h -= A(i, i - 1) * g;
        A(i, i - 1) -= g;
        double f = 0.0;
        for (int j = 0; j < i; ++j) {
            A(j, i) = A(i, j) / h;
            double s1 = 0.0;
            for (int k = 0; k <= j; ++k)
                s1 += A(j, k) * A(i, k);
            double s2 = 0.0;
            for (int k = j + 1; k < i; ++k)
                s2 += A(k, j) * A(i, k);
            g = s1 + s2;
            c[j] = g / h;
            f += g * A(j, i);
        }
        const double hh = f / (h + h);
        for (int j = 0; j < i; ++j) {
            f = A(i, j);
            g = c[j] - hh * f;
            c[j] = g;
            for (int k = 0; k <= j; ++k)
                A(j, k) = A(j, k) - f * c[k] - g * A(i, k);
        }
        d[i] = h;
    }
    d[0] = 0.0;
    for (int i = 0; i < n; ++i) {
        Progress("\rloop2 times: %d   ", i);
        if (d[i] != 0.0 && i >= 1) {
            for (int j = 0; j < i; ++j) {
                double g = 0.0;
                for (int k = 0; k < i; ++k)
                    g += A(i, k) * A(k, j);
                for (int k = 0; k < i; ++k)
                    A(k, j) -= g * A(k, i);
            }
        }
        d[i] = A(i, i);
        A(i, i) = 1.0;
        for (int j = 0; j < i; ++j)
            A(i, j) = A(j, i) = 0.0;
    }
}

// Accumulates the transformations into a, leaving Q. The pass that applies
// step i also forms the vector step i+1 needs (rows 0..i as they stand after
// step i); gCur and gNext are scratch of n doubles.
void AccumulateTransformations(double* a, int n, double* d, double* gCur, double* gNext)
{
    const size_t N = static_cast<size_t>(n);
    auto row = [&](size_t r) { return a + r * N; };
    d[0] = 0.0;
    bool haveG = false;
    for (int i = 0; i < n; ++i) {
        const size_t I = static_cast<size_t>(i);
        Progress("\rloop2 times: %d   ", i);
        const bool update = (d[i] != 0.0 && i >= 1);
        if (update && !haveG) {
            std::fill(gCur, gCur + I, 0.0);
            for (size_t k = 0; k < I; ++k)
                AddScaled(gCur, row(k), row(I)[k], I);
        }
        const bool nextNeeds = (i + 1 < n && d[i + 1] != 0.0);
        const double* next = nextNeeds ? row(I + 1) : nullptr;
        if (nextNeeds)
            std::fill(gNext, gNext + I + 1, 0.0);
        for (size_t k = 0; k < I; ++k) {
            double* rk = row(k);
            if (update)
                SubScaled(rk, gCur, rk[I], I);
            rk[I] = 0.0;
            if (nextNeeds)
                AddScaled(gNext, rk, next[k], I + 1);
        }
        double* ri = row(I);
        d[i] = ri[I];
        ri[I] = 1.0;
        std::fill(ri, ri + I, 0.0);
        if (nextNeeds)
            AddScaled(gNext, ri, next[I], I + 1);
        std::swap(gCur, gNext);
        haveG = nextNeeds;
    }
}

} // namespace

void SymTridiagonalize(double* a, int n, double* d, double* c)
{
    if (a == nullptr || d == nullptr || c == nullptr || n < 1)
        return;
    const size_t N = static_cast<size_t>(n);
    auto s1 = NewArray<double>(N + 4);
    auto acc = NewArray<double>(N + 4);
    if (!s1 || !acc) {
        TridiagonalizeInPlace(a, n, d, c);
        return;
    }
    auto row = [&](size_t r) { return a + r * N; };

    // The rank-two update of step p reaches row r only when row r is next
    // needed; `pending` names that step (0: none). Its vector is row p and its
    // coefficients are c[0..p-1].
    int pending = 0;
    auto applyPending = [&](size_t r) {
        const double* u = row(static_cast<size_t>(pending));
        RankTwoRow(row(r), u, c, u[r], c[r], r + 1);
    };

    for (int i = n - 1; i >= 1; --i) {
        const size_t I = static_cast<size_t>(i);
        if (pending)
            applyPending(I);
        Progress("\rloop1 times: %d   ", i);
        double* u = row(I);
        double h = 0.0;
        if (i > 1)
            for (size_t k = 0; k < I; ++k)
                h += u[k] * u[k];
        if (h + 1.0 == 1.0) {
            c[i] = (i == 1) ? u[0] : 0.0;
            d[i] = 0.0;
            if (pending)
                for (size_t r = 0; r < I; ++r)
                    applyPending(r);
            pending = 0;
            continue;
        }
        double g = std::sqrt(h);
        if (u[I - 1] > 0.0)
            g = -g;
        c[i] = g;
        h -= u[I - 1] * g;
        u[I - 1] -= g;

        // One pass over rows 0..i-1: finish the previous step's update, store
        // u/h in column i, and gather both halves of (lower triangle) * u.
        std::fill(acc.get(), acc.get() + I, 0.0);
        size_t r = 0;
        for (; r < I; r += 4) {
            const size_t rn = std::min<size_t>(4, I - r);
            for (size_t q = 0; q < rn; ++q) {
                if (pending)
                    applyPending(r + q);
                row(r + q)[I] = u[r + q] / h;
            }
            if (rn == 4) {
                PrefixDots4(a, N, r, u, s1.get() + r);
            } else {
                for (size_t q = 0; q < rn; ++q)
                    s1[r + q] = PrefixDot(row(r + q), u, r + q + 1);
            }
            for (size_t q = 0; q < rn; ++q)
                AddScaled(acc.get(), row(r + q), u[r + q], r + q);
        }
        double f = 0.0;
        for (size_t j = 0; j < I; ++j) {
            g = s1[j] + acc[j];
            c[j] = g / h;
            f += g * row(j)[I];
        }
        const double hh = f / (h + h);
        for (size_t j = 0; j < I; ++j)
            c[j] = c[j] - hh * u[j];
        d[i] = h;
        pending = i;
    }
    if (pending)
        for (size_t r = 0; r < static_cast<size_t>(pending); ++r)
            applyPending(r);

    AccumulateTransformations(a, n, d, s1.get(), acc.get());
}

// ---- QL iteration -----------------------------------------------------------

namespace {

struct Rotation {
    int i; // acts on columns i and i+1
    double cs;
    double sn;
};

// Rows i and i+1 of the transposed eigenvector matrix, columns [k0, k1).
__attribute__((target_clones("avx2", "default"))) void RotateRows(
    double* __restrict x, double* __restrict y, double cs, double sn, size_t len)
{
    for (size_t k = 0; k < len; ++k) {
        const double h = y[k];
        y[k] = sn * x[k] + cs * h;
        x[k] = cs * x[k] - sn * h;
    }
}

// Applies logged rotations, in order, to the n x n matrix. With qt (the
// transpose of a) each rotation touches two contiguous rows, and the columns
// are processed in blocks small enough for the touched rows to stay in cache.
class RotationLog {
public:
    RotationLog(double* a, size_t n) : m_a(a), m_n(n) {}

    // Switches to deferred application on qt, the transpose of a; false when
    // the log cannot be allocated (rotations then go straight to a).
    bool UseTransposed(double* qt)
    {
        m_log = NewArray<Rotation>(kCapacity);
        if (!m_log)
            return false;
        m_qt = qt;
        return true;
    }
    void Add(int i, double cs, double sn)
    {
        if (m_qt == nullptr) {
            ApplyDirect(i, cs, sn);
            return;
        }
        m_log[m_count++] = Rotation{i, cs, sn};
        if (m_count == kCapacity)
            Flush();
    }
    void Flush()
    {
        if (m_count == 0)
            return;
        ApplyBlocked();
        m_count = 0;
    }

private:
    static constexpr size_t kCapacity = 1 << 15;
    static constexpr size_t kBlock = 64;

    void ApplyDirect(int i, double cs, double sn)
    {
        // Rotation of columns i and i+1 of a, row by row.
        for (size_t k = 0; k < m_n; ++k) {
            double* rk = m_a + k * m_n;
            const double h = rk[i + 1];
            rk[i + 1] = sn * rk[i] + cs * h;
            rk[i] = cs * rk[i] - sn * h;
        }
    }
    void ApplyRange(size_t firstBlock, size_t step)
    {
        const size_t blocks = (m_n + kBlock - 1) / kBlock;
        for (size_t b = firstBlock; b < blocks; b += step) {
            const size_t k0 = b * kBlock;
            const size_t len = std::min(kBlock, m_n - k0);
            for (size_t r = 0; r < m_count; ++r) {
                const Rotation& q = m_log[r];
                double* x = m_qt + static_cast<size_t>(q.i) * m_n + k0;
                RotateRows(x, x + m_n, q.cs, q.sn, len);
            }
        }
    }
    void ApplyBlocked()
    {
        // Column blocks are independent, so a second thread changes nothing
        // in the results.
        const int threads = TrainingThreads();
        if (threads > 1 && m_n >= 4 * kBlock) {
            std::vector<std::thread> pool;
            try {
                for (int t = 1; t < threads; ++t)
                    pool.emplace_back([this, t, threads] {
                        ApplyRange(static_cast<size_t>(t), static_cast<size_t>(threads));
                    });
            } catch (...) {
                for (auto& th : pool)
                    th.join();
                ApplyRange(0, 1);
                return;
            }
            ApplyRange(0, static_cast<size_t>(threads));
            for (auto& th : pool)
                th.join();
            return;
        }
        ApplyRange(0, 1);
    }

    double* m_a;
    double* m_qt = nullptr;
    size_t m_n;
    std::unique_ptr<Rotation[]> m_log;
    size_t m_count = 0;
};

void Transpose(const double* src, double* dst, size_t n)
{
    constexpr size_t kTile = 32;
    for (size_t i0 = 0; i0 < n; i0 += kTile)
        for (size_t j0 = 0; j0 < n; j0 += kTile)
            for (size_t i = i0; i < std::min(n, i0 + kTile); ++i)
                for (size_t j = j0; j < std::min(n, j0 + kTile); ++j)
                    dst[j * n + i] = src[i * n + j];
}

} // namespace

int TridiagEigen(double* a, int n, double* d, double* e, double eps)
{
    if (a == nullptr || d == nullptr || e == nullptr || n < 1)
        return 1;
    const size_t N = static_cast<size_t>(n);
    // Work on the transpose when there is room for it; otherwise rotate a's
    // columns in place (same results, slower).
    RotationLog sink(a, N);
    auto qt = NewArray<double>(N * N);
    if (qt && sink.UseTransposed(qt.get()))
        Transpose(a, qt.get(), N);
    else
        qt.reset();

    int result = 1;
    e[n - 1] = 0.0;
    double f = 0.0;
    double t = 0.0;
    for (int j = 0; j < n && result; ++j) {
        Progress("\rloop3 times: %d   ", j);
        const double tj = eps * (std::fabs(d[j]) + std::fabs(e[j]));
        if (tj > t)
            t = tj;
        int m = j;
        while (m < n - 1 && std::fabs(e[m]) > t)
            ++m;
        if (m > j) {
            int sweeps = 0;
            do {
                if (++sweeps > kMaxQLSweeps) {
                    result = 0;
                    break;
                }
                double g = d[j];
                double p = (d[j + 1] - g) / (2.0 * e[j]);
                double r = std::sqrt(p * p + 1.0);
                d[j] = (p >= 0.0) ? e[j] / (p + r) : e[j] / (p - r);
                double h = g - d[j];
                for (int i = j + 1; i < n; ++i)
                    d[i] -= h;
                f += h;
                p = d[m];
                double cs = 1.0;
                double sn = 0.0;
                for (int i = m - 1; i >= j; --i) {
                    g = cs * e[i];
                    h = cs * p;
                    if (std::fabs(p) >= std::fabs(e[i])) {
                        cs = e[i] / p;
                        r = std::sqrt(cs * cs + 1.0);
                        e[i + 1] = sn * p * r;
                        sn = cs / r;
                        cs = 1.0 / r;
                    } else {
                        cs = p / e[i];
                        r = std::sqrt(cs * cs + 1.0);
                        e[i + 1] = sn * e[i] * r;
                        sn = 1.0 / r;
                        cs = cs / r;
                    }
                    p = cs * d[i] - sn * g;
                    d[i + 1] = h + sn * (cs * g + sn * d[i]);
                    sink.Add(i, cs, sn);
                }
                e[j] = sn * p;
                d[j] = cs * p;
            } while (std::fabs(e[j]) > t);
        }
        d[j] += f;
    }
    sink.Flush();

    if (result) {
        // Closing exchange pass: only settles the relative position of equal
        // eigenvalues; the definitive order comes from sorting afterwards.
        for (int i = 0; i < n; ++i) {
            int k = i;
            double p = d[i];
            for (int jj = i + 1; jj < n && !(d[jj] > p); ++jj) {
                k = jj;
                p = d[jj];
            }
            if (k != i) {
                d[k] = d[i];
                d[i] = p;
                if (qt) {
                    std::swap_ranges(qt.get() + static_cast<size_t>(i) * N,
                                     qt.get() + static_cast<size_t>(i + 1) * N,
                                     qt.get() + static_cast<size_t>(k) * N);
                } else {
                    for (size_t r = 0; r < N; ++r)
                        std::swap(a[r * N + i], a[r * N + k]);
                }
            }
        }
    }
    if (qt)
        Transpose(qt.get(), a, N);
    return result;
}

void SortIndexDescending(const double* values, int* index, int n)
{
    if (values == nullptr || index == nullptr || n < 1)
        return;
    auto scratch = NewArray<double>(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        index[i] = i;
    if (!scratch)
        return;
    double vmin = values[0];
    for (int i = 0; i < n; ++i) {
        scratch[i] = values[i];
        if (values[i] < vmin)
            vmin = values[i];
    }
    const double used = vmin - 1.0;
    for (int i = 0; i < n; ++i) {
        int best = i;
        double bestValue = scratch[i];
        for (int j = 0; j < n; ++j) {
            if (scratch[j] > bestValue) {
                best = j;
                bestValue = scratch[j];
            }
        }
        index[i] = best;
        scratch[best] = used;
    }
}
