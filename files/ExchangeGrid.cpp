// The bin grid of a rate code and N, and a frequency table on it: resampling, what the grid
// leaves out of the file, and the grid that holds the file better.
#include "files/Exchange.h"
#include "files/ExchangeInternal.h"

#include "core/Settings.h"
#include "core/Strings.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace files
{

using detail::wrapDegrees;

namespace
{

double logOf(double v)
{
    return std::log(v);
}

std::string germanHz(double hz)
{
    std::string s = core::formatC("%.6g", hz);
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

std::string rateName(int rateCode)
{
    return germanHz(core::sampleRateHz(rateCode) / 1000.0) + " kHz";
}

} // namespace

GridCurves resampleToGrid(const FrequencyTable& table, ExchangeFormat format, int n, int rateCode)
{
    GridCurves g;
    g.hasPhase = table.hasPhase();
    n = core::safeTrailerN(static_cast<float>(n));
    rateCode = core::safeTrailerRate(static_cast<float>(rateCode));
    std::fill(g.value.v.begin(), g.value.v.begin() + core::kCurveBins, core::NO_VALUE);
    std::fill(g.phase.v.begin(), g.phase.v.begin() + core::kCurveBins, core::NO_VALUE);
    g.value.stamp(n, rateCode);
    g.phase.stamp(n, rateCode);

    // Only rows above 0 Hz take part: the interpolation runs over log frequency.
    std::vector<double> lf, val, ph;
    const std::size_t rows = table.frequencyHz.size();
    double unwrapped = 0.0;
    for (std::size_t i = 0; i < rows; ++i) {
        if (g.hasPhase) {
            // Unwrapped over all rows, so a wrap between two rows never interpolates across
            // 360 degrees.
            unwrapped = i == 0 ? table.phaseDeg[0]
                               : unwrapped + wrapDegrees(table.phaseDeg[i] - table.phaseDeg[i - 1]);
        }
        if (!(table.frequencyHz[i] > 0.0))
            continue;
        lf.push_back(logOf(table.frequencyHz[i]));
        val.push_back(table.value[i]);
        ph.push_back(unwrapped);
    }
    if (lf.empty())
        return g;

    const double df = static_cast<double>(core::sampleRateHz(rateCode)) / n;
    const int bins = std::min(n / 2, core::kCurveBins);
    // A bin that lies on the first or last row counts as inside, whatever the rounding of the
    // printed frequency.
    const double tolerance = 1e-7;
    for (int k = 1; k < bins; ++k) {
        const double x = logOf(k * df);
        if (x < lf.front() - tolerance || x > lf.back() + tolerance)
            continue;
        std::size_t j =
            static_cast<std::size_t>(std::upper_bound(lf.begin(), lf.end(), x) - lf.begin());
        // lf[j-1] <= x < lf[j]; clamp at both ends for the bins within the tolerance.
        if (j == 0)
            j = 1;
        if (j >= lf.size())
            j = lf.size() - 1;
        double value;
        double phase;
        if (lf.size() == 1) {
            value = val[0];
            phase = ph[0];
        } else {
            const std::size_t a = j - 1;
            const double span = lf[j] - lf[a];
            const double t = std::clamp((x - lf[a]) / span, 0.0, 1.0);
            phase = ph[a] + t * (ph[j] - ph[a]);
            if (format == ExchangeFormat::Zma && val[a] > 0.0 && val[j] > 0.0)
                value = std::exp(std::log(val[a]) + t * (std::log(val[j]) - std::log(val[a])));
            else
                value = val[a] + t * (val[j] - val[a]);
        }
        g.value[k] = static_cast<float>(value);
        if (g.hasPhase)
            g.phase[k] = static_cast<float>(wrapDegrees(phase));
        ++g.valuedBins;
    }
    return g;
}

std::string gridCutNote(const GridCut& c)
{
    if (!c.any())
        return {};
    std::string parts;
    if (c.below)
        parts = germanHz(c.fileFirstHz) + " bis " + germanHz(c.gridFirstHz) + " Hz";
    if (c.above)
        parts += (parts.empty() ? "" : " und ") + germanHz(c.gridLastHz) + " bis " +
                 germanHz(c.fileLastHz) + " Hz";
    return "Die Datei reicht von " + germanHz(c.fileFirstHz) + " bis " + germanHz(c.fileLastHz) +
           " Hz; das Frequenzraster der Messung (" + rateName(c.rateCode) + ", N " +
           std::to_string(c.n) + ") übernimmt davon nur " + germanHz(c.keptFirstHz) + " bis " +
           germanHz(c.keptLastHz) + " Hz. Weggelassen: " + parts + ".";
}

GridOffer gridHoldingFile(const GridCut& c, bool threeKilohertzAllowed)
{
    GridOffer best;
    if (!c.any() || !(c.fileFirstHz > 0.0) || !(c.fileLastHz >= c.fileFirstHz))
        return best;
    struct Fit {
        bool holds;
        double span; // log-frequency span of the file that the grid covers
    };
    auto fit = [&c](int rateCode, int n) {
        const double df = static_cast<double>(core::sampleRateHz(rateCode)) / n;
        const double first = df;
        const double last = df * (std::min(n / 2, core::kCurveBins) - 1);
        const double lo = std::max(first, c.fileFirstHz);
        const double hi = std::min(last, c.fileLastHz);
        return Fit{c.fileFirstHz >= first * (1.0 - 1e-7) && c.fileLastHz <= last * (1.0 + 1e-7),
                   hi > lo ? std::log(hi / lo) : 0.0};
    };
    const Fit current = fit(c.rateCode, c.n);
    Fit bestFit{false, current.span};
    double bestDistance = 0.0;
    int bestRateHz = 0;
    for (const int rate : {3, 1, 2}) {
        if (rate == 3 && !threeKilohertzAllowed)
            continue;
        for (const int n : {4096, 2048, 1024, 512}) {
            const Fit f = fit(rate, n);
            // Nearest N first, the longer one of two equally near.
            const double distance = std::fabs(std::log2(static_cast<double>(n) / c.n));
            const int rateHz = core::sampleRateHz(rate);
            bool better;
            if (f.holds != bestFit.holds)
                better = f.holds;
            else if (f.holds)
                better = !best.ok || rateHz < bestRateHz ||
                         (rateHz == bestRateHz && distance < bestDistance);
            else
                better = f.span > bestFit.span + 1e-6;
            if (better && !(rate == c.rateCode && n == c.n)) {
                best = GridOffer{true, rate, n, f.holds};
                bestFit = f;
                bestDistance = distance;
                bestRateHz = rateHz;
            }
        }
    }
    return best;
}

namespace detail
{

GridCut cutOf(const FrequencyTable& table, const GridCurves& curves, int n, int rateCode)
{
    GridCut c;
    c.n = core::safeTrailerN(static_cast<float>(n));
    c.rateCode = core::safeTrailerRate(static_cast<float>(rateCode));
    const double df = static_cast<double>(core::sampleRateHz(c.rateCode)) / c.n;
    const int bins = std::min(c.n / 2, core::kCurveBins);
    c.gridFirstHz = df;
    c.gridLastHz = df * (bins - 1);
    const auto positive = std::find_if(table.frequencyHz.begin(), table.frequencyHz.end(),
                                       [](double f) { return f > 0.0; });
    if (positive == table.frequencyHz.end() || curves.valuedBins == 0)
        return c;
    c.fileFirstHz = *positive;
    c.fileLastHz = table.frequencyHz.back();
    for (int k = 1; k < bins; ++k)
        if (curves.value[k] != core::NO_VALUE) {
            if (c.keptFirstHz == 0.0)
                c.keptFirstHz = k * df;
            c.keptLastHz = k * df;
        }
    // The same tolerance as the resampling: a row on the first or last bin is inside.
    c.below = std::log(c.fileFirstHz) < std::log(c.gridFirstHz) - 1e-7;
    c.above = std::log(c.fileLastHz) > std::log(c.gridLastHz) + 1e-7;
    return c;
}

} // namespace detail

} // namespace files
