#include "dsp/ts/Resonance.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <cmath>
#include <utility>

namespace ts
{

namespace
{

constexpr int kMaxDegree = 8;
// Pivots (and the remaining matrix entries they are chosen from) below this magnitude count
// as zero; a zero pivot row is divided by this value instead, so the fit still yields numbers.
constexpr double kTiny = 1e-14;

// Lowest bin (exclusive) the lower edge search may reach, per rate: the first bins of a
// measurement carry no usable impedance.
int lowerEdgeLimit(int rateCode)
{
    if (rateCode == 2)
        return 8;
    if (rateCode == 3)
        return 3;
    return 2;
}

void showAnalysisMessage(int id)
{
    core::messageText(core::str(id), " ", core::Icon::Information);
}

// The nine points of [a, b] that the flank models go through: both ends, the middle, the
// quarters and the eighths between them.
std::array<int, 9> flankBins(int a, int b)
{
    const int m = a + (b - a) / 2;
    const int q1 = a + (m - a) / 2;
    const int q3 = m + (b - m) / 2;
    const int e1 = a + (q1 - a) / 2;
    const int e2 = q1 + (m - q1) / 2;
    const int e3 = m + (q3 - m) / 2;
    const int e4 = q3 + (b - q3) / 2;
    return {a, e1, q1, e2, m, e3, q3, e4, b};
}

void fitFlank(const core::CurveBuffer& z, int a, int b, float binHz, float* coef)
{
    float x[9];
    float y[9];
    const auto bins = flankBins(a, b);
    for (int i = 0; i < 9; ++i) {
        x[i] = static_cast<float>(bins[i]) * binHz;
        y[i] = z[bins[i]];
    }
    polyFit(x, y, 9, 4, coef);
}

} // namespace

float tsBinHz(int rateCode)
{
    return static_cast<float>(core::sampleRateHz(rateCode)) / static_cast<float>(kTsFftLength);
}

int polyFit(const float* x, const float* y, int count, int degree, float* coef)
{
    if (degree < 0 || degree > kMaxDegree)
        return 0;
    const int n = degree + 1;

    // Normal equations V'V c = V'y with V[i][k] = x_i^(degree - k).
    double a[kMaxDegree + 1][kMaxDegree + 1] = {};
    double rhs[kMaxDegree + 1] = {};
    for (int i = 0; i < count; ++i) {
        double pw[2 * kMaxDegree + 1];
        pw[0] = 1.0;
        for (int p = 1; p <= 2 * degree; ++p)
            pw[p] = pw[p - 1] * static_cast<double>(x[i]);
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k)
                a[j][k] += pw[2 * degree - j - k];
            rhs[j] += pw[degree - j] * static_cast<double>(y[i]);
        }
    }

    // Gauss-Jordan inversion of V'V with complete pivoting: the inverse builds up in `inv`
    // while `a` turns into the identity. Column swaps of `a` permute the unknowns; the
    // rows of the inverse are put back in order at the end.
    double inv[kMaxDegree + 1][kMaxDegree + 1] = {};
    int colOrder[kMaxDegree + 1];
    for (int j = 0; j < n; ++j) {
        inv[j][j] = 1.0;
        colOrder[j] = j;
    }
    int regular = 1;
    for (int k = 0; k < n; ++k) {
        int pr = k;
        int pc = k;
        double best = 0.0;
        for (int i = k; i < n; ++i)
            for (int j = k; j < n; ++j) {
                const double m = std::fabs(a[i][j]);
                if (m >= kTiny && m > best) {
                    best = m;
                    pr = i;
                    pc = j;
                }
            }
        if (pr != k) {
            for (int j = 0; j < n; ++j) {
                std::swap(a[pr][j], a[k][j]);
                std::swap(inv[pr][j], inv[k][j]);
            }
        }
        if (pc != k) {
            for (int i = 0; i < n; ++i)
                std::swap(a[i][pc], a[i][k]);
            std::swap(colOrder[pc], colOrder[k]);
        }
        double pivot = a[k][k];
        if (std::fabs(pivot) < kTiny) {
            regular = 0;
            pivot = kTiny;
        }
        for (int j = 0; j < n; ++j) {
            a[k][j] /= pivot;
            inv[k][j] /= pivot;
        }
        for (int i = 0; i < n; ++i) {
            if (i == k)
                continue;
            const double f = a[i][k];
            if (f == 0.0)
                continue;
            for (int j = 0; j < n; ++j) {
                a[i][j] -= f * a[k][j];
                inv[i][j] -= f * inv[k][j];
            }
        }
    }

    // Row k of the permuted inverse belongs to unknown colOrder[k].
    for (int k = 0; k < n; ++k) {
        double s = 0.0;
        for (int j = 0; j < n; ++j)
            s += inv[k][j] * rhs[j];
        coef[colOrder[k]] = static_cast<float>(s);
    }
    return regular;
}

float polyEval(const float* coef, float x, int degree)
{
    double s = 0.0;
    const double xd = x;
    for (int i = 0; i <= degree; ++i)
        s = s * xd + static_cast<double>(coef[i]);
    return static_cast<float>(s);
}

int analyzeResonance(ResonanceResult& result)
{
    auto& st = core::store();
    return analyzeResonance(st.impedanceMagnitude, st.impedancePhase, result);
}

int analyzeResonance(core::CurveBuffer& z, const core::CurveBuffer& phase, ResonanceResult& result)
{
    const int rate = core::safeTrailerRate(z.trailerRate());
    const float binHz = tsBinHz(rate);

    // Above the resonance the phase turns negative; its deepest point bounds the search.
    int pMin = -1;
    float lowest = 0.0f;
    for (int b = kFirstSearchBin; b <= kLastSearchBin; ++b)
        if (phase[b] < lowest) {
            lowest = phase[b];
            pMin = b;
        }
    // No negative phase: the resonance lies above the searched range (or there is none).
    if (pMin < 0) {
        showAnalysisMessage(85);
        return 1;
    }
    // Nothing below the deepest phase: the resonance lies at or below the range's start.
    if (pMin <= kFirstSearchBin) {
        showAnalysisMessage(86);
        return 1;
    }

    // Below the resonance the phase is positive; without any positive phase the search
    // starts at the range's first bin.
    int pMax = kFirstSearchBin;
    float highest = 0.0f;
    for (int b = kFirstSearchBin; b < pMin; ++b)
        if (phase[b] > highest) {
            highest = phase[b];
            pMax = b;
        }

    int r = pMax;
    float zRaw = z[pMax];
    for (int b = pMax; b < pMin; ++b)
        if (z[b] > zRaw) {
            zRaw = z[b];
            r = b;
        }

    float zMin = z[r];
    for (int b = r; b <= kLastSearchBin; ++b)
        if (z[b] < zMin)
            zMin = z[b];

    // Parabola through the six bins around the peak; r >= 10 keeps them inside the curve.
    {
        float x[6];
        float y[6];
        for (int i = 0; i < 6; ++i) {
            const int b = r - 3 + i;
            x[i] = static_cast<float>(b) * binHz;
            y[i] = z[b];
        }
        float c[3];
        polyFit(x, y, 6, 2, c);
        const float f = -c[1] / (2.0f * c[0]);
        result.resonanceHz = f;
        result.resonanceOhm = c[1] * f + c[0] * f * f + c[2];
        z[r] = result.resonanceOhm;
    }
    result.resonanceBin = r;
    result.minOhmAbove = zMin;

    float zt;
    if (zRaw > 5.5f * zMin)
        zt = 1.5f * zMin;
    else if (zRaw >= 3.0f * zMin)
        zt = 1.3f * zMin;
    else
        zt = 1.15f * zMin;

    int u = -1;
    for (int b = r; b <= kLastSearchBin; ++b)
        if (z[b] <= zt) {
            u = b;
            break;
        }
    if (u < 0) {
        showAnalysisMessage(85);
        return 1;
    }
    int l = -1;
    for (int b = r; b > lowerEdgeLimit(rate); --b)
        if (z[b] <= zt) {
            l = b;
            break;
        }
    if (l < 0) {
        showAnalysisMessage(86);
        return 1;
    }
    if (u - l + 1 < 20) {
        showAnalysisMessage(87);
        return 1;
    }

    // With 20 bins or more between the edges, |Z|[r] lies above the threshold, so both
    // flanks hold at least one bin: l < r < u.
    fitFlank(z, l, r - 1, binHz, result.lowerFlankCoef.data());
    result.lowerFlankStartHz = static_cast<float>(l) * binHz;
    for (int b = l + 2; b <= r - 2; ++b)
        z[b] = polyEval(result.lowerFlankCoef.data(), static_cast<float>(b) * binHz, 4);

    fitFlank(z, r + 1, u, binHz, result.upperFlankCoef.data());
    result.upperFlankEndHz = static_cast<float>(u) * binHz;
    for (int b = r + 1; b < r + (u - r) / 4; ++b)
        z[b] = polyEval(result.upperFlankCoef.data(), static_cast<float>(b) * binHz, 4);
    return 0;
}

} // namespace ts
