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

bool CSVD::HouseholderQR(double* a, int m, int n, double* u, double* v, double eps, int ka)
{
    if (a == nullptr || u == nullptr || v == nullptr || m < 1 || n < 1 || ka < std::max(m, n))
        return false;
    auto sStore = NewArray<double>(ka);
    auto eStore = NewArray<double>(ka);
    auto wStore = NewArray<double>(ka);
    if (!sStore || !eStore || !wStore)
        return false;
    double* s = sStore.get();
    double* e = eStore.get();
    double* w = wStore.get();

    const size_t nc = static_cast<size_t>(n);
    const size_t mc = static_cast<size_t>(m);
    auto A = [&](int i, int j) -> double& { return a[i * nc + j]; };
    auto U = [&](int i, int j) -> double& { return u[i * mc + j]; };
    auto V = [&](int i, int j) -> double& { return v[i * nc + j]; };

    // Householder reduction to upper bidiagonal form: column reflections put the
    // diagonal into s, row reflections the superdiagonal into e.
    const int nct = std::min(n, m - 1);
    const int nrt = std::max(0, std::min(m, n - 2));
    const int steps = std::max(nct, nrt);
    for (int l = 0; l < steps; ++l) {
        if (l < nct) {
            double sum = 0.0;
            for (int i = l; i < m; ++i)
                sum += A(i, l) * A(i, l);
            s[l] = std::sqrt(sum);
            if (s[l] != 0.0) {
                if (A(l, l) != 0.0)
                    s[l] = A(l, l) < 0.0 ? -std::fabs(s[l]) : std::fabs(s[l]);
                for (int i = l; i < m; ++i)
                    A(i, l) /= s[l];
                A(l, l) = 1.0 + A(l, l);
            }
            s[l] = -s[l];
        }
        for (int j = l + 1; j < n; ++j) {
            if (l < nct && s[l] != 0.0) {
                double dot = 0.0;
                for (int i = l; i < m; ++i)
                    dot += A(i, l) * A(i, j);
                const double t = -dot / A(l, l);
                for (int i = l; i < m; ++i)
                    A(i, j) += t * A(i, l);
            }
            e[j] = A(l, j);
        }
        if (l < nct)
            for (int i = l; i < m; ++i)
                U(i, l) = A(i, l);
        if (l < nrt) {
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
                        w[i] += e[j] * A(i, j);
                for (int j = l + 1; j < n; ++j) {
                    const double t = -e[j] / e[l + 1];
                    for (int i = l + 1; i < m; ++i)
                        A(i, j) += t * w[i];
                }
            }
            for (int i = l + 1; i < n; ++i)
                V(i, l) = e[i];
        }
    }

    int mm = std::min(n, m + 1);
    if (nct < n)
        s[nct] = A(nct, nct);
    if (m < mm)
        s[mm - 1] = 0.0;
    if (nrt + 1 < mm)
        e[nrt] = A(nrt, mm - 1);
    e[mm - 1] = 0.0;

    // Accumulate the column reflections into u, backwards.
    const int ncu = std::min(m, n);
    for (int j = nct; j < ncu; ++j) {
        for (int i = 0; i < m; ++i)
            U(i, j) = 0.0;
        U(j, j) = 1.0;
    }
    for (int l = nct - 1; l >= 0; --l) {
        if (s[l] != 0.0) {
            for (int j = l + 1; j < ncu; ++j) {
                double dot = 0.0;
                for (int i = l; i < m; ++i)
                    dot += U(i, l) * U(i, j);
                const double t = -dot / U(l, l);
                for (int i = l; i < m; ++i)
                    U(i, j) += t * U(i, l);
            }
            for (int i = l; i < m; ++i)
                U(i, l) = -U(i, l);
            U(l, l) = 1.0 + U(l, l);
            for (int i = 0; i < l; ++i)
                U(i, l) = 0.0;
        } else {
            for (int i = 0; i < m; ++i)
                U(i, l) = 0.0;
            U(l, l) = 1.0;
        }
    }
    // And the row reflections into v.
    for (int l = n - 1; l >= 0; --l) {
        if (l < nrt && e[l] != 0.0) {
            for (int j = l + 1; j < n; ++j) {
                double dot = 0.0;
                for (int i = l + 1; i < n; ++i)
                    dot += V(i, l) * V(i, j);
                const double t = -dot / V(l + 1, l);
                for (int i = l + 1; i < n; ++i)
                    V(i, j) += t * V(i, l);
            }
        }
        for (int i = 0; i < n; ++i)
            V(i, l) = 0.0;
        V(l, l) = 1.0;
    }
    std::fill(a, a + mc * nc, 0.0);

    // QR sweeps on the leading mm values of the bidiagonal.
    const int mmStart = mm;
    int budget = kSweepBudget;
    for (;;) {
        if (mm == 0) {
            ArrangeResult(a, e, s, v, m, n);
            return true;
        }
        if (budget == 0) {
            ArrangeResult(a, e, s, v, m, n);
            return false;
        }

        // l: the last negligible superdiagonal element above the trailing block.
        int l = mm - 2;
        for (; l >= 0; --l) {
            if (e[l] == 0.0)
                break;
            if (std::fabs(e[l]) <= eps * (std::fabs(s[l]) + std::fabs(s[l + 1]))) {
                e[l] = 0.0;
                break;
            }
        }

        if (l == mm - 2) {
            // s[mm - 1] has converged: make it non-negative and move it down
            // past every smaller value.
            int k = mm - 1;
            if (s[k] < 0.0) {
                s[k] = -s[k];
                for (int i = 0; i < n; ++i)
                    V(i, k) = -V(i, k);
            }
            while (k + 1 < mmStart && s[k] < s[k + 1]) {
                std::swap(s[k], s[k + 1]);
                if (k + 1 < n)
                    SwapColumns(v, n, n, k, k + 1);
                if (k + 1 < m)
                    SwapColumns(u, m, m, k, k + 1);
                ++k;
            }
            budget = kSweepBudget;
            --mm;
            continue;
        }

        // ls: a negligible diagonal element inside the block l+1 .. mm-1, if any.
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

        if (ls == mm - 1) {
            // Zero at the end of the block: chase e[mm - 2] upwards through v.
            double f = e[mm - 2];
            e[mm - 2] = 0.0;
            for (int k = mm - 2; k > l; --k) {
                double t1 = s[k];
                double cs;
                double sn;
                GivensParam(t1, f, cs, sn);
                s[k] = t1;
                if (k != l + 1) {
                    f = -sn * e[k - 1];
                    e[k - 1] = cs * e[k - 1];
                }
                if (!IsIdentityRotation(cs, sn))
                    RotateColumns(v, n, n, k, mm - 1, cs, sn);
            }
        } else if (ls > l) {
            // Zero inside the block: chase e[ls] to the end of the block through
            // u, which splits the block at ls.
            double f = e[ls];
            e[ls] = 0.0;
            for (int k = ls + 1; k < mm; ++k) {
                double t1 = s[k];
                double cs;
                double sn;
                GivensParam(t1, f, cs, sn);
                s[k] = t1;
                f = -sn * e[k];
                e[k] = cs * e[k];
                if (!IsIdentityRotation(cs, sn) && k < m && ls < m)
                    RotateColumns(u, m, m, k, ls, cs, sn);
            }
        } else {
            // One implicitly shifted QR sweep over the block l+1 .. mm-1.
            const int first = l + 1;
            const double scale =
                std::max({std::fabs(s[mm - 1]), std::fabs(s[mm - 2]), std::fabs(e[mm - 2]),
                          std::fabs(s[first]), std::fabs(e[first])});
            const double sm = s[mm - 1] / scale;
            const double smm1 = s[mm - 2] / scale;
            const double emm1 = e[mm - 2] / scale;
            const double sl = s[first] / scale;
            const double el = e[first] / scale;
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
            double f = (sl + sm) * (sl - sm) + shift;
            double g = sl * el;
            for (int k = first; k < mm - 1; ++k) {
                double cs;
                double sn;
                GivensParam(f, g, cs, sn);
                if (k != first)
                    e[k - 1] = f;
                f = cs * s[k] + sn * e[k];
                e[k] = cs * e[k] - sn * s[k];
                g = sn * s[k + 1];
                s[k + 1] = cs * s[k + 1];
                if (!IsIdentityRotation(cs, sn))
                    RotateColumns(v, n, n, k, k + 1, cs, sn);
                GivensParam(f, g, cs, sn);
                s[k] = f;
                f = cs * e[k] + sn * s[k + 1];
                s[k + 1] = -sn * e[k] + cs * s[k + 1];
                g = sn * e[k + 1];
                e[k + 1] = cs * e[k + 1];
                if (k + 1 < m && !IsIdentityRotation(cs, sn))
                    RotateColumns(u, m, m, k, k + 1, cs, sn);
            }
            e[mm - 2] = f;
            --budget;
        }
    }
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
