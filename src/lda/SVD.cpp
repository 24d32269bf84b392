#include "lda/SVD.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "common/NewArray.h"
#include "lda/MatrixOps.h"

namespace {

constexpr int kSweepBudget = 60;
constexpr double kTolerance = 1e-7;

// Applies the rotation (cs, sn) to columns p and q of the rows x cols matrix x:
// x_p := cs x_p + sn x_q, x_q := cs x_q - sn x_p.
void RotateColumns(double* x, int rows, int cols, int p, int q, double cs, double sn)
{
    for (int r = 0; r < rows; ++r) {
        double* row = x + static_cast<size_t>(r) * static_cast<size_t>(cols);
        const double t = cs * row[p] + sn * row[q];
        row[q] = cs * row[q] - sn * row[p];
        row[p] = t;
    }
}

void SwapColumns(double* x, int rows, int cols, int p, int q)
{
    for (int r = 0; r < rows; ++r) {
        double* row = x + static_cast<size_t>(r) * static_cast<size_t>(cols);
        std::swap(row[p], row[q]);
    }
}

bool IsIdentityRotation(double cs, double sn)
{
    return cs == 1.0 && sn == 0.0;
}

} // namespace

void CSVD::GivensParam(double& f, double& g, double& cs, double& sn)
{
    double r;
    double z;
    if (std::fabs(f) + std::fabs(g) == 0.0) {
        cs = 1.0;
        sn = 0.0;
        r = 0.0;
        z = 0.0;
    } else {
        const double roe = std::fabs(f) > std::fabs(g) ? f : g;
        r = std::sqrt(f * f + g * g);
        if (roe < 0.0)
            r = -r;
        cs = f / r;
        sn = g / r;
        z = 1.0;
        if (std::fabs(f) > std::fabs(g))
            z = sn;
        else if (cs != 0.0)
            z = 1.0 / cs;
    }
    f = r;
    g = z;
}

void CSVD::ArrangeResult(double* a, const double* e, const double* s, double* v, int m, int n)
{
    const size_t nc = static_cast<size_t>(n);
    const int k = std::min(m, n);
    for (int j = 0; j + 1 < k; ++j) {
        a[j * nc + j] = s[j];
        a[j * nc + j + 1] = e[j];
    }
    a[(k - 1) * nc + (k - 1)] = s[k - 1];
    if (m < n)
        a[(k - 1) * nc + k] = e[k - 1];
    for (size_t i = 0; i < nc; ++i)
        for (size_t j = i + 1; j < nc; ++j)
            std::swap(v[i * nc + j], v[j * nc + i]);
}

namespace {

// One decomposition in progress: a (m x n), u (m x m) and v (n x n) row-major;
// s the diagonal, e the superdiagonal, w scratch, each of at least max(m, n).
struct SvdWork {
    double* a;
    double* u;
    double* v;
    double* s;
    double* e;
    double* w;
    int m;
    int n;

    double& A(int i, int j) { return a[i * static_cast<size_t>(n) + j]; }
    double& U(int i, int j) { return u[i * static_cast<size_t>(m) + j]; }
    double& V(int i, int j) { return v[i * static_cast<size_t>(n) + j]; }
};

// Column reflection l: zeroes A(l+1.., l) into s[l], applies it to the columns
// right of l and keeps its vector in u.
void ReflectColumn(SvdWork& x, int l, bool reflect)
{
    double* s = x.s;
    const int m = x.m;
    if (reflect) {
        double sum = 0.0;
        for (int i = l; i < m; ++i)
            sum += x.A(i, l) * x.A(i, l);
        s[l] = std::sqrt(sum);
        if (s[l] != 0.0) {
            if (x.A(l, l) != 0.0)
                s[l] = x.A(l, l) < 0.0 ? -std::fabs(s[l]) : std::fabs(s[l]);
            for (int i = l; i < m; ++i)
                x.A(i, l) /= s[l];
            x.A(l, l) = 1.0 + x.A(l, l);
        }
        s[l] = -s[l];
    }
    for (int j = l + 1; j < x.n; ++j) {
        if (reflect && s[l] != 0.0) {
            double dot = 0.0;
            for (int i = l; i < m; ++i)
                dot += x.A(i, l) * x.A(i, j);
            const double t = -dot / x.A(l, l);
            for (int i = l; i < m; ++i)
                x.A(i, j) += t * x.A(i, l);
        }
        x.e[j] = x.A(l, j);
    }
    if (reflect)
        for (int i = l; i < m; ++i)
            x.U(i, l) = x.A(i, l);
}

// Row reflection l: zeroes row l right of the superdiagonal (held in e) into
// e[l], applies it to the rows below l and keeps its vector in v.
void ReflectRow(SvdWork& x, int l)
{
    double* e = x.e;
    double* w = x.w;
    const int m = x.m;
    const int n = x.n;
    double sum = 0.0;
    for (int i = l + 1; i < n; ++i)
        sum += e[i] * e[i];
    e[l] = std::sqrt(sum);
    if (e[l] != 0.0) {
        if (e[l + 1] != 0.0)
            e[l] = e[l + 1] < 0.0 ? -std::fabs(e[l]) : std::fabs(e[l]);
        for (int i = l + 1; i < n; ++i)
            e[i] /= e[l];
        e[l + 1] = 1.0 + e[l + 1];
    }
    e[l] = -e[l];
    if (l + 1 < m && e[l] != 0.0) {
        for (int i = l + 1; i < m; ++i)
            w[i] = 0.0;
        for (int j = l + 1; j < n; ++j)
            for (int i = l + 1; i < m; ++i)
                w[i] += e[j] * x.A(i, j);
        for (int j = l + 1; j < n; ++j) {
            const double t = -e[j] / e[l + 1];
            for (int i = l + 1; i < m; ++i)
                x.A(i, j) += t * w[i];
        }
    }
    for (int i = l + 1; i < n; ++i)
        x.V(i, l) = e[i];
}

// Householder reduction to upper bidiagonal form: column reflections put the
// diagonal into s, row reflections the superdiagonal into e. Returns mm, the
// number of values the QR sweeps work on.
int ReduceToBidiagonal(SvdWork& x, int nct, int nrt)
{
    const int m = x.m;
    const int n = x.n;
    const int steps = std::max(nct, nrt);
    for (int l = 0; l < steps; ++l) {
        ReflectColumn(x, l, l < nct);
        if (l < nrt)
            ReflectRow(x, l);
    }

    const int mm = std::min(n, m + 1);
    if (nct < n)
        x.s[nct] = x.A(nct, nct);
    if (m < mm)
        x.s[mm - 1] = 0.0;
    if (nrt + 1 < mm)
        x.e[nrt] = x.A(nrt, mm - 1);
    x.e[mm - 1] = 0.0;
    return mm;
}

// Builds u from the column reflections, backwards.
void AccumulateColumnReflections(SvdWork& x, int nct)
{
    const int m = x.m;
    const int ncu = std::min(m, x.n);
    for (int j = nct; j < ncu; ++j) {
        for (int i = 0; i < m; ++i)
            x.U(i, j) = 0.0;
        x.U(j, j) = 1.0;
    }
    for (int l = nct - 1; l >= 0; --l) {
        if (x.s[l] != 0.0) {
            for (int j = l + 1; j < ncu; ++j) {
                double dot = 0.0;
                for (int i = l; i < m; ++i)
                    dot += x.U(i, l) * x.U(i, j);
                const double t = -dot / x.U(l, l);
                for (int i = l; i < m; ++i)
                    x.U(i, j) += t * x.U(i, l);
            }
            for (int i = l; i < m; ++i)
                x.U(i, l) = -x.U(i, l);
            x.U(l, l) = 1.0 + x.U(l, l);
            for (int i = 0; i < l; ++i)
                x.U(i, l) = 0.0;
        } else {
            for (int i = 0; i < m; ++i)
                x.U(i, l) = 0.0;
            x.U(l, l) = 1.0;
        }
    }
}

// Builds v from the row reflections, backwards.
void AccumulateRowReflections(SvdWork& x, int nrt)
{
    const int n = x.n;
    for (int l = n - 1; l >= 0; --l) {
        if (l < nrt && x.e[l] != 0.0) {
            for (int j = l + 1; j < n; ++j) {
                double dot = 0.0;
                for (int i = l + 1; i < n; ++i)
                    dot += x.V(i, l) * x.V(i, j);
                const double t = -dot / x.V(l + 1, l);
                for (int i = l + 1; i < n; ++i)
                    x.V(i, j) += t * x.V(i, l);
            }
        }
        for (int i = 0; i < n; ++i)
            x.V(i, l) = 0.0;
        x.V(l, l) = 1.0;
    }
}

// The last negligible superdiagonal element above the trailing block (zeroing
// it), or -1 when there is none.
int FindNegligibleSuperdiagonal(SvdWork& x, int mm, double eps)
{
    double* s = x.s;
    double* e = x.e;
    int l = mm - 2;
    for (; l >= 0; --l) {
        if (e[l] == 0.0)
            break;
        if (std::fabs(e[l]) <= eps * (std::fabs(s[l]) + std::fabs(s[l + 1]))) {
            e[l] = 0.0;
            break;
        }
    }
    return l;
}

// A negligible diagonal element inside the block l+1 .. mm-1 (zeroing it), or
// l when there is none.
int FindNegligibleDiagonal(SvdWork& x, int l, int mm, double eps)
{
    double* s = x.s;
    double* e = x.e;
    int ls = mm - 1;
    for (; ls > l; --ls) {
        if (s[ls] == 0.0)
            break;
        double neighbours = 0.0;
        if (ls != mm - 1)
            neighbours += std::fabs(e[ls]);
        if (ls != l + 1)
            neighbours += std::fabs(e[ls - 1]);
        if (std::fabs(s[ls]) <= eps * neighbours) {
            s[ls] = 0.0;
            break;
        }
    }
    return ls;
}

// s[k] has converged: makes it non-negative and moves it down past every
// smaller value among the first mmStart.
void SettleConvergedValue(SvdWork& x, int k, int mmStart)
{
    double* s = x.s;
    if (s[k] < 0.0) {
        s[k] = -s[k];
        for (int i = 0; i < x.n; ++i)
            x.V(i, k) = -x.V(i, k);
    }
    while (k + 1 < mmStart && s[k] < s[k + 1]) {
        std::swap(s[k], s[k + 1]);
        if (k + 1 < x.n)
            SwapColumns(x.v, x.n, x.n, k, k + 1);
        if (k + 1 < x.m)
            SwapColumns(x.u, x.m, x.m, k, k + 1);
        ++k;
    }
}

// Zero at the end of the block: chases e[mm - 2] upwards through v.
void ChaseUpFromBlockEnd(SvdWork& x, int l, int mm)
{
    double* s = x.s;
    double* e = x.e;
    double f = e[mm - 2];
    e[mm - 2] = 0.0;
    for (int k = mm - 2; k > l; --k) {
        double t1 = s[k];
        double cs;
        double sn;
        CSVD::GivensParam(t1, f, cs, sn);
        s[k] = t1;
        if (k != l + 1) {
            f = -sn * e[k - 1];
            e[k - 1] = cs * e[k - 1];
        }
        if (!IsIdentityRotation(cs, sn))
            RotateColumns(x.v, x.n, x.n, k, mm - 1, cs, sn);
    }
}

// Zero inside the block at ls: chases e[ls] to the end of the block through u,
// which splits the block at ls.
void ChaseDownToBlockEnd(SvdWork& x, int ls, int mm)
{
    double* s = x.s;
    double* e = x.e;
    const int m = x.m;
    double f = e[ls];
    e[ls] = 0.0;
    for (int k = ls + 1; k < mm; ++k) {
        double t1 = s[k];
        double cs;
        double sn;
        CSVD::GivensParam(t1, f, cs, sn);
        s[k] = t1;
        f = -sn * e[k];
        e[k] = cs * e[k];
        if (!IsIdentityRotation(cs, sn) && k < m && ls < m)
            RotateColumns(x.u, m, m, k, ls, cs, sn);
    }
}

// The shift from the trailing 2 x 2 block of the block first .. mm-1, scaled
// by the largest of the magnitudes involved.
double TrailingShift(const SvdWork& x, int first, int mm, double& sl, double& el, double& sm)
{
    const double* s = x.s;
    const double* e = x.e;
    const double scale =
        std::max({std::fabs(s[mm - 1]), std::fabs(s[mm - 2]), std::fabs(e[mm - 2]),
                  std::fabs(s[first]), std::fabs(e[first])});
    sm = s[mm - 1] / scale;
    const double smm1 = s[mm - 2] / scale;
    const double emm1 = e[mm - 2] / scale;
    sl = s[first] / scale;
    el = e[first] / scale;
    const double b = ((smm1 + sm) * (smm1 - sm) + emm1 * emm1) * 0.5;
    double q = sm * emm1;
    q = q * q;
    double shift = 0.0;
    if (b != 0.0 || q != 0.0) {
        shift = std::sqrt(b * b + q);
        if (b < 0.0)
            shift = -shift;
        shift = q / (b + shift);
    }
    return shift;
}

// One implicitly shifted QR sweep over the block first .. mm-1.
void ShiftedQRSweep(SvdWork& x, int first, int mm)
{
    double* s = x.s;
    double* e = x.e;
    double sl;
    double el;
    double sm;
    const double shift = TrailingShift(x, first, mm, sl, el, sm);
    double f = (sl + sm) * (sl - sm) + shift;
    double g = sl * el;
    for (int k = first; k < mm - 1; ++k) {
        double cs;
        double sn;
        CSVD::GivensParam(f, g, cs, sn);
        if (k != first)
            e[k - 1] = f;
        f = cs * s[k] + sn * e[k];
        e[k] = cs * e[k] - sn * s[k];
        g = sn * s[k + 1];
        s[k + 1] = cs * s[k + 1];
        if (!IsIdentityRotation(cs, sn))
            RotateColumns(x.v, x.n, x.n, k, k + 1, cs, sn);
        CSVD::GivensParam(f, g, cs, sn);
        s[k] = f;
        f = cs * e[k] + sn * s[k + 1];
        s[k + 1] = -sn * e[k] + cs * s[k + 1];
        g = sn * e[k + 1];
        e[k + 1] = cs * e[k + 1];
        if (k + 1 < x.m && !IsIdentityRotation(cs, sn))
            RotateColumns(x.u, x.m, x.m, k, k + 1, cs, sn);
    }
    e[mm - 2] = f;
}

// QR sweeps on the leading mm values of the bidiagonal until every value has
// converged (true) or one has used up its sweeps (false).
bool DiagonaliseBidiagonal(SvdWork& x, int mm, double eps)
{
    const int mmStart = mm;
    int budget = kSweepBudget;
    for (;;) {
        if (mm == 0)
            return true;
        if (budget == 0)
            return false;

        const int l = FindNegligibleSuperdiagonal(x, mm, eps);
        if (l == mm - 2) {
            SettleConvergedValue(x, mm - 1, mmStart);
            budget = kSweepBudget;
            --mm;
            continue;
        }

        const int ls = FindNegligibleDiagonal(x, l, mm, eps);
        if (ls == mm - 1) {
            ChaseUpFromBlockEnd(x, l, mm);
        } else if (ls > l) {
            ChaseDownToBlockEnd(x, ls, mm);
        } else {
            ShiftedQRSweep(x, l + 1, mm);
            --budget;
        }
    }
}

} // namespace

bool CSVD::HouseholderQR(double* a, int m, int n, double* u, double* v, double eps, int ka)
{
    if (a == nullptr || u == nullptr || v == nullptr || m < 1 || n < 1 || ka < std::max(m, n))
        return false;
    auto sStore = NewArray<double>(ka);
    auto eStore = NewArray<double>(ka);
    auto wStore = NewArray<double>(ka);
    if (!sStore || !eStore || !wStore)
        return false;
    SvdWork x{a, u, v, sStore.get(), eStore.get(), wStore.get(), m, n};

    const int nct = std::min(n, m - 1);
    const int nrt = std::max(0, std::min(m, n - 2));
    const int mm = ReduceToBidiagonal(x, nct, nrt);
    AccumulateColumnReflections(x, nct);
    AccumulateRowReflections(x, nrt);
    std::fill(a, a + static_cast<size_t>(m) * static_cast<size_t>(n), 0.0);

    const bool converged = DiagonaliseBidiagonal(x, mm, eps);
    ArrangeResult(a, x.e, x.s, v, m, n);
    return converged;
}

bool CSVD::Decompose(double* A, int m, int n, double* W, double* V)
{
    if (A == nullptr || W == nullptr || V == nullptr || m < n || n < 1)
        return false;
    const size_t mc = static_cast<size_t>(m);
    const size_t nc = static_cast<size_t>(n);
    auto work = NewArray<double>(mc * nc);
    auto u = NewArray<double>(mc * mc);
    auto vt = NewArray<double>(nc * nc);
    if (!work || !u || !vt)
        return false;
    std::copy(A, A + mc * nc, work.get());
    std::fill(u.get(), u.get() + mc * mc, 0.0);
    if (!HouseholderQR(work.get(), m, n, u.get(), vt.get(), kTolerance, std::max(m, n)))
        return false;
    for (size_t i = 0; i < mc; ++i)
        std::copy(u.get() + i * mc, u.get() + i * mc + nc, A + i * nc);
    std::fill(W, W + nc * nc, 0.0);
    for (size_t i = 0; i < nc; ++i)
        W[i * nc + i] = work[i * nc + i];
    MatrixTranspose(vt.get(), n, n, V);
    return true;
}
