#include "dsp/ts/ImpedanceFit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace ts
{

namespace
{

constexpr double kPi = 3.14159265358979323846;
using cd = std::complex<double>;

// The semi-inductance's exponent is kept where real coils have it; at 1 it is an inductance.
constexpr double kMinExponent = 0.3;
constexpr double kMaxExponent = 1.0;
// The semi-inductance replaces the plain one only when it lowers the squared residual by this
// factor: on a coil that is an inductance both fit alike, and the simpler model is the answer.
constexpr double kSemiGain = 0.8;
constexpr int kMaxParams = 6;
constexpr int kMaxIterations = 200;

struct Points {
    std::vector<double> f;
    std::vector<cd> z;
    std::vector<double> mag;
    std::vector<char> phase;
    std::vector<double> weight;
};

// Which values the fit moves. Positive quantities are fitted as logarithms, which keeps them
// positive and makes the steps relative.
struct Layout {
    bool fitRe = true;
    CoilModel coil = CoilModel::Inductance;
    double fixedRe = 0.0;
    int count() const { return (fitRe ? 1 : 0) + 4 + (coil == CoilModel::SemiInductance ? 1 : 0); }
};

ImpedanceModel unpack(const double* th, const Layout& l)
{
    ImpedanceModel m;
    int k = 0;
    m.reOhm = l.fitRe ? std::exp(th[k++]) : l.fixedRe;
    m.resOhm = std::exp(th[k++]);
    m.fsHz = std::exp(th[k++]);
    m.qms = std::exp(th[k++]);
    m.coil = l.coil;
    m.coilK = std::exp(th[k++]);
    m.coilExponent = l.coil == CoilModel::SemiInductance ? th[k++] : 1.0;
    return m;
}

void pack(const ImpedanceModel& m, const Layout& l, double* th)
{
    int k = 0;
    if (l.fitRe)
        th[k++] = std::log(m.reOhm);
    th[k++] = std::log(m.resOhm);
    th[k++] = std::log(m.fsHz);
    th[k++] = std::log(m.qms);
    th[k++] = std::log(m.coilK);
    if (l.coil == CoilModel::SemiInductance)
        th[k++] = m.coilExponent;
}

// Two residuals per point: the real and imaginary part of the relative deviation, or the
// relative deviation of the magnitude and a zero where the point has no phase.
void residuals(const ImpedanceModel& m, const Points& p, std::vector<double>& r)
{
    r.resize(2 * p.f.size());
    for (std::size_t i = 0; i < p.f.size(); ++i) {
        const cd zm = m.impedance(p.f[i]);
        if (p.phase[i]) {
            const cd d = (zm - p.z[i]) / p.mag[i];
            r[2 * i] = p.weight[i] * d.real();
            r[2 * i + 1] = p.weight[i] * d.imag();
        } else {
            r[2 * i] = p.weight[i] * (std::abs(zm) - p.mag[i]) / p.mag[i];
            r[2 * i + 1] = 0.0;
        }
    }
}

double sumSquares(const std::vector<double>& r)
{
    double s = 0.0;
    for (double v : r)
        s += v * v;
    return std::isfinite(s) ? s : std::numeric_limits<double>::infinity();
}

void clampExponent(double* th, const Layout& l)
{
    if (l.coil == CoilModel::SemiInductance) {
        double& n = th[l.count() - 1];
        n = std::clamp(n, kMinExponent, kMaxExponent);
    }
}

// Solves a x = b (n <= kMaxParams) by elimination with partial pivoting; false when singular.
bool solve(std::array<std::array<double, kMaxParams>, kMaxParams> a,
           std::array<double, kMaxParams> b, int n, double* x)
{
    for (int k = 0; k < n; ++k) {
        int pr = k;
        for (int i = k + 1; i < n; ++i)
            if (std::fabs(a[i][k]) > std::fabs(a[pr][k]))
                pr = i;
        if (!(std::fabs(a[pr][k]) > 1e-300))
            return false;
        std::swap(a[pr], a[k]);
        std::swap(b[pr], b[k]);
        for (int i = k + 1; i < n; ++i) {
            const double f = a[i][k] / a[k][k];
            for (int j = k; j < n; ++j)
                a[i][j] -= f * a[k][j];
            b[i] -= f * b[k];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        double s = b[k];
        for (int j = k + 1; j < n; ++j)
            s -= a[k][j] * x[j];
        x[k] = s / a[k][k];
    }
    return true;
}

// Levenberg-Marquardt from `start`; returns the squared residual reached.
double levenbergMarquardt(const Points& p, const Layout& l, ImpedanceModel& model)
{
    const int n = l.count();
    double th[kMaxParams];
    pack(model, l, th);
    std::vector<double> r;
    std::vector<double> rp;
    std::vector<double> rm;
    residuals(unpack(th, l), p, r);
    double cost = sumSquares(r);
    if (!std::isfinite(cost))
        return cost;
    const std::size_t m = r.size();
    std::vector<double> jac(m * static_cast<std::size_t>(n));
    double lambda = 1e-3;
    for (int it = 0; it < kMaxIterations; ++it) {
        // Central differences: the model is cheap and its derivatives are smooth.
        for (int k = 0; k < n; ++k) {
            const double h = 1e-6 * std::max(1.0, std::fabs(th[k]));
            double tp[kMaxParams];
            double tm[kMaxParams];
            std::copy(th, th + n, tp);
            std::copy(th, th + n, tm);
            tp[k] += h;
            tm[k] -= h;
            residuals(unpack(tp, l), p, rp);
            residuals(unpack(tm, l), p, rm);
            for (std::size_t i = 0; i < m; ++i)
                jac[i * n + k] = (rp[i] - rm[i]) / (2.0 * h);
        }
        std::array<std::array<double, kMaxParams>, kMaxParams> a{};
        std::array<double, kMaxParams> g{};
        for (std::size_t i = 0; i < m; ++i) {
            const double* row = &jac[i * n];
            for (int j = 0; j < n; ++j) {
                g[j] += row[j] * r[i];
                for (int k = 0; k < n; ++k)
                    a[j][k] += row[j] * row[k];
            }
        }
        bool improved = false;
        double newCost = cost;
        while (lambda < 1e12) {
            auto b = a;
            std::array<double, kMaxParams> rhs{};
            for (int j = 0; j < n; ++j) {
                b[j][j] += lambda * (a[j][j] + 1e-12);
                rhs[j] = -g[j];
            }
            double step[kMaxParams];
            if (!solve(b, rhs, n, step)) {
                lambda *= 4.0;
                continue;
            }
            double tn[kMaxParams];
            for (int j = 0; j < n; ++j)
                tn[j] = th[j] + step[j];
            clampExponent(tn, l);
            residuals(unpack(tn, l), p, rp);
            newCost = sumSquares(rp);
            if (newCost < cost) {
                std::copy(tn, tn + n, th);
                r.swap(rp);
                lambda = std::max(lambda / 3.0, 1e-12);
                improved = true;
                break;
            }
            lambda *= 4.0;
        }
        if (!improved)
            break;
        const double gain = cost - newCost;
        cost = newCost;
        if (gain <= 1e-13 * cost)
            break;
    }
    model = unpack(th, l);
    return cost;
}

// The log-frequency share of each point: half the distance to its neighbours in ln f.
std::vector<double> logShares(const std::vector<double>& f)
{
    std::vector<double> w(f.size(), 0.0);
    if (f.size() < 2)
        return std::vector<double>(f.size(), 1.0);
    for (std::size_t i = 0; i < f.size(); ++i) {
        const double lo = std::log(f[i == 0 ? 0 : i - 1]);
        const double hi = std::log(f[i + 1 == f.size() ? i : i + 1]);
        const double span = (i == 0 || i + 1 == f.size()) ? 2.0 * (hi - lo) : hi - lo;
        w[i] = std::sqrt(std::max(span / 2.0, 1e-9));
    }
    return w;
}

// Index of the resonance peak among the usable points: the highest local maximum of |Z| in
// the searched range that is followed by a fall to below 0.8 of it (a coil's rise at the top
// of the range is no resonance). -1 when there is none, -2 when the highest value in the
// range is its first point (the resonance lies at or below the range's start).
int findPeak(const std::vector<double>& f, const std::vector<double>& mag, double lo, double hi)
{
    const int count = static_cast<int>(f.size());
    int first = -1;
    int last = -1;
    for (int i = 0; i < count; ++i)
        if (f[i] >= lo && f[i] <= hi) {
            if (first < 0)
                first = i;
            last = i;
        }
    if (first < 0)
        return -1;
    int best = -1;
    for (int i = first; i <= last; ++i) {
        const bool leftOk = i == 0 || mag[i] >= mag[i - 1];
        const bool rightOk = i + 1 == count || mag[i] >= mag[i + 1];
        if (!leftOk || !rightOk)
            continue;
        bool falls = false;
        for (int k = i + 1; k < count && mag[k] <= mag[i]; ++k)
            if (mag[k] < 0.8 * mag[i]) {
                falls = true;
                break;
            }
        if (falls && (best < 0 || mag[i] > mag[best]))
            best = i;
    }
    if (best < 0) {
        int top = first;
        for (int i = first; i <= last; ++i)
            if (mag[i] > mag[top])
                top = i;
        return top == first ? -2 : -1;
    }
    // A peak on the range's first two points is cut off below.
    if (best <= first + 1)
        return -2;
    return best;
}

// Starting values from the points themselves: the peak, the smallest value as Re, the width
// at the geometric mean of peak and Re for Qms, the reactance at the top for the coil.
ImpedanceModel startingModel(const Points& p, int peak, const FitRequest& req)
{
    ImpedanceModel m;
    const double zMax = p.mag[peak];
    double zMin = zMax;
    for (double v : p.mag)
        zMin = std::min(zMin, v);
    m.reOhm = req.fixedReOhm ? *req.fixedReOhm : 0.97 * zMin;
    m.resOhm = std::max(zMax - m.reOhm, 0.1 * m.reOhm);
    m.fsHz = p.f[peak];
    const double level = std::sqrt(zMax * m.reOhm);
    double f1 = 0.0;
    double f2 = 0.0;
    for (int i = peak; i > 0; --i)
        if (p.mag[i - 1] < level) {
            const double t = (level - p.mag[i - 1]) / (p.mag[i] - p.mag[i - 1]);
            f1 = p.f[i - 1] + t * (p.f[i] - p.f[i - 1]);
            break;
        }
    for (std::size_t i = static_cast<std::size_t>(peak); i + 1 < p.f.size(); ++i)
        if (p.mag[i + 1] < level) {
            const double t = (p.mag[i] - level) / (p.mag[i] - p.mag[i + 1]);
            f2 = p.f[i] + t * (p.f[i + 1] - p.f[i]);
            break;
        }
    const double r0 = zMax / m.reOhm;
    m.qms = (f1 > 0.0 && f2 > f1) ? m.fsHz * std::sqrt(r0) / (f2 - f1) : 5.0;
    m.qms = std::clamp(m.qms, 0.3, 200.0);
    // Reactance of the top point, less nothing: well above the resonance the motional part is
    // small against the coil.
    const std::size_t top = p.f.size() - 1;
    const double w = 2.0 * kPi * p.f[top];
    const double x = p.phase[top]
                         ? p.z[top].imag()
                         : std::sqrt(std::max(p.mag[top] * p.mag[top] - m.reOhm * m.reOhm, 0.0));
    m.coilK = x > 0.0 ? x / w : 1e-5;
    m.coil = CoilModel::Inductance;
    m.coilExponent = 1.0;
    return m;
}

double rmsRelativePercent(const ImpedanceModel& m, const Points& p)
{
    double s = 0.0;
    for (std::size_t i = 0; i < p.f.size(); ++i) {
        const cd zm = m.impedance(p.f[i]);
        const double d = p.phase[i] ? std::abs(zm - p.z[i]) / p.mag[i]
                                    : std::fabs(std::abs(zm) - p.mag[i]) / p.mag[i];
        s += d * d;
    }
    return p.f.empty() ? 0.0 : 100.0 * std::sqrt(s / static_cast<double>(p.f.size()));
}

bool plausible(const ImpedanceModel& m, double lo, double hi)
{
    const double v[] = {m.reOhm, m.resOhm, m.fsHz, m.qms, m.coilK, m.coilExponent};
    for (double x : v)
        if (!std::isfinite(x) || !(x > 0.0))
            return false;
    return m.fsHz >= lo && m.fsHz <= hi;
}

} // namespace

cd ImpedanceModel::coilImpedance(double fHz) const
{
    const double w = 2.0 * kPi * fHz;
    if (coil == CoilModel::Inductance)
        return cd(0.0, w * coilK);
    // (j w)^n = w^n (cos(n pi / 2) + j sin(n pi / 2))
    const double a = coilExponent * kPi / 2.0;
    return coilK * std::pow(w, coilExponent) * cd(std::cos(a), std::sin(a));
}

cd ImpedanceModel::impedance(double fHz) const
{
    const cd j(0.0, 1.0);
    const cd motional = resOhm / (1.0 + j * qms * (fHz / fsHz - fsHz / fHz));
    return reOhm + coilImpedance(fHz) + motional;
}

double ImpedanceModel::qts() const
{
    const double qe = qes();
    return qe > 0.0 && qms > 0.0 ? qms * qe / (qms + qe) : 0.0;
}

double ImpedanceModel::inductanceH(double fHz) const
{
    return coilImpedance(fHz).imag() / (2.0 * kPi * fHz);
}

ImpedanceFit fitImpedanceModel(const std::vector<ImpedancePoint>& input, const FitRequest& req)
{
    ImpedanceFit out;
    Points all;
    for (const ImpedancePoint& q : input) {
        if (!(q.frequencyHz >= req.lowestHz) || !(q.frequencyHz > 0.0) ||
            !std::isfinite(q.frequencyHz) || !(q.magnitudeOhm > 0.0) ||
            !std::isfinite(q.magnitudeOhm) || (q.hasPhase && !std::isfinite(q.phaseDeg)))
            continue;
        if (!all.f.empty() && q.frequencyHz <= all.f.back())
            continue;
        all.f.push_back(q.frequencyHz);
        all.mag.push_back(q.magnitudeOhm);
        all.phase.push_back(q.hasPhase ? 1 : 0);
        all.z.push_back(q.hasPhase ? std::polar(q.magnitudeOhm, q.phaseDeg * kPi / 180.0)
                                   : cd(q.magnitudeOhm, 0.0));
    }

    const int peak = findPeak(all.f, all.mag, req.lowestHz, req.searchHighHz);
    if (peak == -2) {
        out.failure = FitFailure::ResonanceAtLowEnd;
        return out;
    }
    if (peak < 0) {
        out.failure = FitFailure::NoResonance;
        return out;
    }
    const double f0 = all.f[peak];
    out.peakHz = f0;

    // The resonance itself needs points on both sides within an octave.
    int below = 0;
    int above = 0;
    for (double f : all.f) {
        if (f >= f0 / 2.0 && f < f0)
            ++below;
        if (f > f0 && f <= 2.0 * f0)
            ++above;
    }
    if (below < 3 || above < 3 || below + above + 1 < 8) {
        out.failure = FitFailure::TooFewPoints;
        return out;
    }

    // From well below the resonance (where the points show Re) to the coil's frequency.
    const double lo = f0 / 6.0;
    const double hi = std::max(req.coilHz * 1.25, 4.0 * f0);
    Points p;
    for (std::size_t i = 0; i < all.f.size(); ++i)
        if (all.f[i] >= lo && all.f[i] <= hi) {
            p.f.push_back(all.f[i]);
            p.mag.push_back(all.mag[i]);
            p.phase.push_back(all.phase[i]);
            p.z.push_back(all.z[i]);
        }
    p.weight = logShares(p.f);
    int peakInP = 0;
    for (std::size_t i = 0; i < p.f.size(); ++i)
        if (p.f[i] == f0)
            peakInP = static_cast<int>(i);

    Layout plain;
    plain.fitRe = !req.fixedReOhm.has_value();
    plain.fixedRe = req.fixedReOhm.value_or(0.0);
    plain.coil = CoilModel::Inductance;

    // A narrow resonance is found from several widths: the width read off the points is
    // coarse where the peak spans only a few of them.
    const ImpedanceModel start = startingModel(p, peakInP, req);
    ImpedanceModel best = start;
    double bestCost = std::numeric_limits<double>::infinity();
    for (double qms : {start.qms, 2.0, 6.0, 20.0, 60.0}) {
        ImpedanceModel m = start;
        m.qms = qms;
        const double c = levenbergMarquardt(p, plain, m);
        if (c < bestCost && plausible(m, lo, hi)) {
            bestCost = c;
            best = m;
        }
    }
    if (!std::isfinite(bestCost)) {
        out.failure = FitFailure::TooFewPoints;
        return out;
    }

    Layout semi = plain;
    semi.coil = CoilModel::SemiInductance;
    ImpedanceModel s = best;
    s.coil = CoilModel::SemiInductance;
    s.coilExponent = 0.7;
    // The same reactance at the top of the fit as the inductance had.
    const double wTop = 2.0 * kPi * p.f.back();
    s.coilK =
        best.coilK * wTop / (std::pow(wTop, s.coilExponent) * std::sin(s.coilExponent * kPi / 2));
    const double semiCost = levenbergMarquardt(p, semi, s);
    if (semiCost < kSemiGain * bestCost && plausible(s, lo, hi) && s.coilExponent < 0.98)
        best = s;

    out.model = best;
    out.points = static_cast<int>(p.f.size());
    out.lowHz = p.f.front();
    out.highHz = p.f.back();
    out.residualPercent = rmsRelativePercent(best, p);
    return out;
}

} // namespace ts
