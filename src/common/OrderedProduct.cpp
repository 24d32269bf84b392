#include "common/OrderedProduct.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "common/AlignedVector.h"
#include "common/NewArray.h"
#include "common/VectorOps.h"

namespace {

// Four independent lanes; without AVX the compiler splits each operation into
// two SSE2 halves, with the same IEEE results.
typedef double v4d __attribute__((vector_size(32)));

constexpr size_t kRowBlock = 4;    // rows of A per micro-kernel
constexpr size_t kPanel = 8;       // columns of B per micro-kernel (two v4d)
constexpr size_t kInnerBlock = 256; // inner indices per pass over C
constexpr size_t kColBlock = 256;  // columns of B packed at a time

// Unaligned loads and stores; by reference, so that no vector crosses a call
// boundary of the non-AVX ABI.
inline void Load(v4d& v, const double* p)
{
    __builtin_memcpy(&v, p, sizeof v);
}

inline void Store(double* p, const v4d& v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// acc(4 x 8) continues the sums held in C (or starts them from 0.0) over the
// inner indices of one block. a[r] point at the block's first inner element of
// row r; bp is the packed panel, kPanel values per inner index.
__attribute__((target_clones("avx2", "default"))) void MicroKernel(
    const double* const* a, const double* bp, size_t count, double* const* c, bool start)
{
    v4d acc[kRowBlock][2];
    for (size_t r = 0; r < kRowBlock; ++r) {
        if (start) {
            acc[r][0] = v4d{0.0, 0.0, 0.0, 0.0};
            acc[r][1] = v4d{0.0, 0.0, 0.0, 0.0};
        } else {
            Load(acc[r][0], c[r]);
            Load(acc[r][1], c[r] + 4);
        }
    }
    const double* a0 = a[0];
    const double* a1 = a[1];
    const double* a2 = a[2];
    const double* a3 = a[3];
    for (size_t t = 0; t < count; ++t) {
        v4d b0;
        v4d b1;
        Load(b0, bp + t * kPanel);
        Load(b1, bp + t * kPanel + 4);
        const v4d x0 = v4d{a0[t], a0[t], a0[t], a0[t]};
        acc[0][0] += x0 * b0;
        acc[0][1] += x0 * b1;
        const v4d x1 = v4d{a1[t], a1[t], a1[t], a1[t]};
        acc[1][0] += x1 * b0;
        acc[1][1] += x1 * b1;
        const v4d x2 = v4d{a2[t], a2[t], a2[t], a2[t]};
        acc[2][0] += x2 * b0;
        acc[2][1] += x2 * b1;
        const v4d x3 = v4d{a3[t], a3[t], a3[t], a3[t]};
        acc[3][0] += x3 * b0;
        acc[3][1] += x3 * b1;
    }
    for (size_t r = 0; r < kRowBlock; ++r) {
        Store(c[r], acc[r][0]);
        Store(c[r] + 4, acc[r][1]);
    }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VELMORA_WIDE_KERNEL 1
typedef double v8d __attribute__((vector_size(64)));

// MicroKernel over two neighbouring panels at once (4 x 16), eight lanes per
// register where the processor has them: twice the work per instruction, and
// each sum still runs in inner-index order.
__attribute__((target("avx512f"))) void WideKernel(const double* const* a, const double* bp0, const double* bp1,
                                                   size_t count, double* const* c, bool start)
{
    v8d acc[kRowBlock][2];
    for (size_t r = 0; r < kRowBlock; ++r) {
        if (start) {
            acc[r][0] = v8d{};
            acc[r][1] = v8d{};
        } else {
            __builtin_memcpy(&acc[r][0], c[r], sizeof(v8d));
            __builtin_memcpy(&acc[r][1], c[r] + kPanel, sizeof(v8d));
        }
    }
    for (size_t t = 0; t < count; ++t) {
        v8d b0;
        v8d b1;
        __builtin_memcpy(&b0, bp0 + t * kPanel, sizeof b0);
        __builtin_memcpy(&b1, bp1 + t * kPanel, sizeof b1);
        for (size_t r = 0; r < kRowBlock; ++r) {
            const double x = a[r][t];
            const v8d xr = v8d{x, x, x, x, x, x, x, x};
            acc[r][0] += xr * b0;
            acc[r][1] += xr * b1;
        }
    }
    for (size_t r = 0; r < kRowBlock; ++r) {
        __builtin_memcpy(c[r], &acc[r][0], sizeof(v8d));
        __builtin_memcpy(c[r] + kPanel, &acc[r][1], sizeof(v8d));
    }
}

bool HasWideKernel()
{
    static const bool has = __builtin_cpu_supports("avx512f");
    return has;
}
#endif

struct Job {
    double* CRow(size_t i) const { return CRows ? CRows[i] : C + i * ldc; }

    MatrixView A;
    MatrixView B;
    double* C;
    size_t ldc;
    double* const* CRows; // used instead of C when not null
    size_t rows;
    size_t cols;
    size_t inner;
    bool upperOnly;
    int threads;
};

// Rows of A are needed contiguous along the inner index; a transposed A is
// copied block by block into this buffer.
bool RunRowBlocks(const Job& job, size_t firstBlock, size_t blockStep)
{
    const size_t rowBlocks = (job.rows + kRowBlock - 1) / kRowBlock;
    if (firstBlock >= rowBlocks)
        return true;
    // Panels on cache lines, so that each of the kernel's vector loads reads one line.
    const auto packed = NewAlignedArray<double>(kInnerBlock * kColBlock);
    std::unique_ptr<double[]> aCopy;
    if (job.A.transposed)
        aCopy = NewArray<double>(kRowBlock * kInnerBlock);
    if (!packed || (job.A.transposed && !aCopy))
        return false;
    double tile[kRowBlock * kPanel];

    for (size_t t0 = 0; t0 < job.inner; t0 += kInnerBlock) {
        const size_t tn = std::min(kInnerBlock, job.inner - t0);
        const bool start = (t0 == 0);
        for (size_t j0 = 0; j0 < job.cols; j0 += kColBlock) {
            const size_t jn = std::min(kColBlock, job.cols - j0);
            if (job.upperOnly && j0 + jn <= firstBlock * kRowBlock)
                continue;
            // Pack B[t0 .. t0+tn) x [j0 .. j0+jn) into panels of kPanel columns,
            // padding the last panel with zeros.
            const size_t panels = (jn + kPanel - 1) / kPanel;
            for (size_t p = 0; p < panels; ++p) {
                double* dst = packed.get() + p * tn * kPanel;
                for (size_t q = 0; q < kPanel; ++q) {
                    const size_t j = p * kPanel + q;
                    if (j >= jn) {
                        for (size_t t = 0; t < tn; ++t)
                            dst[t * kPanel + q] = 0.0;
                    } else if (job.B.transposed) {
                        const double* src = job.B.StoredRow(j0 + j) + t0;
                        for (size_t t = 0; t < tn; ++t)
                            dst[t * kPanel + q] = src[t];
                    } else {
                        for (size_t t = 0; t < tn; ++t)
                            dst[t * kPanel + q] = job.B.StoredRow(t0 + t)[j0 + j];
                    }
                }
            }
            for (size_t rb = firstBlock; rb < rowBlocks; rb += blockStep) {
                const size_t i0 = rb * kRowBlock;
                const size_t in = std::min(kRowBlock, job.rows - i0);
                if (job.upperOnly && j0 + jn <= i0)
                    continue;
                const double* a[kRowBlock];
                if (job.A.transposed) {
                    for (size_t r = 0; r < kRowBlock; ++r) {
                        const size_t i = i0 + std::min(r, in - 1);
                        for (size_t t = 0; t < tn; ++t)
                            aCopy[r * kInnerBlock + t] = job.A.At(i, t0 + t);
                        a[r] = aCopy.get() + r * kInnerBlock;
                    }
                } else {
                    for (size_t r = 0; r < kRowBlock; ++r)
                        a[r] = job.A.StoredRow(i0 + std::min(r, in - 1)) + t0;
                }
                for (size_t p = 0; p < panels; ++p) {
                    const size_t jj = j0 + p * kPanel;
                    const size_t jw = std::min(kPanel, j0 + jn - jj);
                    if (job.upperOnly && jj + jw <= i0)
                        continue;
                    const double* bp = packed.get() + p * tn * kPanel;
                    const bool full = (in == kRowBlock && jw == kPanel &&
                                       (!job.upperOnly || jj + 1 >= i0 + kRowBlock));
                    if (full) {
                        double* c[kRowBlock];
                        for (size_t r = 0; r < kRowBlock; ++r)
                            c[r] = job.CRow(i0 + r) + jj;
#ifdef VELMORA_WIDE_KERNEL
                        // The next panel full as well: both in one pass.
                        if (p + 1 < panels && jj + 2 * kPanel <= j0 + jn && !job.upperOnly && HasWideKernel()) {
                            WideKernel(a, bp, bp + tn * kPanel, tn, c, start);
                            ++p;
                            continue;
                        }
#endif
                        MicroKernel(a, bp, tn, c, start);
                        continue;
                    }
                    // Edge or diagonal tile: work on a padded copy, write back
                    // only the wanted part.
                    auto wanted = [&](size_t r, size_t q) {
                        return r < in && q < jw && (!job.upperOnly || jj + q >= i0 + r);
                    };
                    double* t[kRowBlock];
                    for (size_t r = 0; r < kRowBlock; ++r) {
                        t[r] = tile + r * kPanel;
                        for (size_t q = 0; q < kPanel; ++q)
                            t[r][q] = (!start && wanted(r, q)) ? job.CRow(i0 + r)[jj + q] : 0.0;
                    }
                    MicroKernel(a, bp, tn, t, start);
                    for (size_t r = 0; r < in; ++r)
                        for (size_t q = 0; q < jw; ++q)
                            if (wanted(r, q))
                                job.CRow(i0 + r)[jj + q] = tile[r * kPanel + q];
                }
            }
        }
    }
    return true;
}

bool Run(const Job& job)
{
    if (job.rows == 0 || job.cols == 0)
        return true;
    if (job.inner == 0) {
        for (size_t i = 0; i < job.rows; ++i)
            for (size_t j = job.upperOnly ? i : 0; j < job.cols; ++j)
                job.CRow(i)[j] = 0.0;
        return true;
    }
    const size_t rows = job.rows;
    const int threads = job.threads;
    const size_t rowBlocks = (rows + kRowBlock - 1) / kRowBlock;
    size_t workers = threads < 1 ? 1 : static_cast<size_t>(threads);
    workers = std::min(workers, rowBlocks);
    if (workers <= 1)
        return RunRowBlocks(job, 0, 1);

    // Interleaved row blocks keep the triangle of a symmetric product balanced.
    std::vector<char> ok(workers, 0);
    std::vector<std::thread> pool;
    try {
        for (size_t w = 1; w < workers; ++w)
            pool.emplace_back([&, w] { ok[w] = RunRowBlocks(job, w, workers) ? 1 : 0; });
    } catch (...) {
        for (auto& th : pool)
            th.join();
        return false;
    }
    ok[0] = RunRowBlocks(job, 0, workers) ? 1 : 0;
    for (auto& th : pool)
        th.join();
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

} // namespace

bool OrderedProduct(MatrixView A, MatrixView B, double* C, size_t ldc, size_t rows, size_t cols,
                    size_t inner, bool upperOnly, int threads)
{
    return Run(Job{A, B, C, ldc, nullptr, rows, cols, inner, upperOnly, threads});
}

bool OrderedProduct(MatrixView A, MatrixView B, double* const* CRows, size_t rows, size_t cols,
                    size_t inner, int threads)
{
    return Run(Job{A, B, nullptr, 0, CRows, rows, cols, inner, false, threads});
}

int TrainingThreads()
{
    if (const char* env = std::getenv("VELMORA_THREADS")) {
        const int n = std::atoi(env);
        if (n >= 1)
            return std::min(n, 64);
    }
    const unsigned hw = std::thread::hardware_concurrency();
    return hw >= 2 ? 2 : 1;
}

void DotRows(const double* v, const double* const* rows, int nRows, int n, double* out)
{
    // Eight rows share each pass over v: eight independent sums keep the
    // floating-point units busy, and each still adds its terms in index order
    // from 0.0, exactly as VectorDot does.
    constexpr int kBlock = 8;
    int i = 0;
    for (; i + kBlock <= nRows; i += kBlock) {
        const double* r0 = rows[i];
        const double* r1 = rows[i + 1];
        const double* r2 = rows[i + 2];
        const double* r3 = rows[i + 3];
        const double* r4 = rows[i + 4];
        const double* r5 = rows[i + 5];
        const double* r6 = rows[i + 6];
        const double* r7 = rows[i + 7];
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0, s4 = 0.0, s5 = 0.0, s6 = 0.0, s7 = 0.0;
        for (int j = 0; j < n; ++j) {
            const double x = v[j];
            s0 += x * r0[j];
            s1 += x * r1[j];
            s2 += x * r2[j];
            s3 += x * r3[j];
            s4 += x * r4[j];
            s5 += x * r5[j];
            s6 += x * r6[j];
            s7 += x * r7[j];
        }
        out[i] = s0;
        out[i + 1] = s1;
        out[i + 2] = s2;
        out[i + 3] = s3;
        out[i + 4] = s4;
        out[i + 5] = s5;
        out[i + 6] = s6;
        out[i + 7] = s7;
    }
    for (; i < nRows; ++i)
        out[i] = VectorDot(v, rows[i], n);
}

void DotRowsBatch(const double* const* v, int count, const double* const* rows, int nRows, int n,
                  double* const* out)
{
    // Below a panel of vectors the product's padded lanes cost more than the
    // rows it saves reading; without its work storage it cannot run at all.
    constexpr int kMinBatch = static_cast<int>(kPanel);
    if (count >= kMinBatch && nRows > 0 && n > 0) {
        const size_t cols = static_cast<size_t>(count);
        std::unique_ptr<double[]> product(new (std::nothrow) double[static_cast<size_t>(nRows) * cols]);
        if (product && OrderedProduct(MatrixView::Rows(rows), MatrixView::Rows(v, true), product.get(), cols,
                                      static_cast<size_t>(nRows), cols, static_cast<size_t>(n))) {
            for (size_t b = 0; b < cols; ++b)
                for (int i = 0; i < nRows; ++i)
                    out[b][i] = product[static_cast<size_t>(i) * cols + b];
            return;
        }
    }
    for (int b = 0; b < count; ++b)
        DotRows(v[b], rows, nRows, n, out[b]);
}
