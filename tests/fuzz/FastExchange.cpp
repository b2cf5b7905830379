// Fast harness: an FRD/ZMA/CSV text file of any origin, read and brought onto the bin grids
// of both formats at the shortest and the longest FFT length. A refusal must name a reason;
// an accepted file must give rising finite frequencies and, on the grid, only finite values
// or the no-value mark.
#include "core/Store.h"
#include "files/Exchange.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void requireCurve(const core::CurveBuffer& c)
{
    for (int i = 0; i < core::kCurveBins; ++i)
        if (!std::isfinite(c[i]))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const files::TableReadResult r = files::parseFrequencyTable(bytes);
    if (!r.ok) {
        if (r.reason.empty())
            std::abort();
        return 0;
    }
    const files::FrequencyTable& t = r.table;
    if (t.frequencyHz.empty() || t.value.size() != t.frequencyHz.size() ||
        (t.hasPhase() && t.phaseDeg.size() != t.frequencyHz.size()))
        std::abort();
    for (std::size_t i = 0; i < t.frequencyHz.size(); ++i)
        if (!std::isfinite(t.frequencyHz[i]) || !std::isfinite(t.value[i]) ||
            (i > 0 && !(t.frequencyHz[i] > t.frequencyHz[i - 1])))
            std::abort();
    for (const files::ExchangeFormat format : {files::ExchangeFormat::Frd, files::ExchangeFormat::Zma})
        for (const auto& [n, rate] : {std::pair{512, 2}, std::pair{4096, 3}}) {
            const files::GridCurves g = files::resampleToGrid(t, format, n, rate);
            requireCurve(g.value);
            requireCurve(g.phase);
        }
    return 0;
}
