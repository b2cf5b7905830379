#include "tool/ToolSupport.h"

#include "files/Exchange.h"
#include "files/Export.h"

#include "core/Store.h"

#include <charconv>
#include <cstring>

namespace {

struct KindName {
    const char* name;
    files::ExportKind kind;
};

constexpr KindName kKinds[] = {
    {"amp", files::ExportKind::AmplitudePhase},
    {"amp-ternovax", files::ExportKind::AmplitudeTernovax},
    {"pha-ternovax", files::ExportKind::PhaseTernovax},
    {"imp", files::ExportKind::Impedance},
    {"imp-ternovax", files::ExportKind::ImpedanceTernovax},
    {"phe-ternovax", files::ExportKind::ImpedancePhaseTernovax},
    {"tsp", files::ExportKind::TsParameters},
};

// The exchange formats: FRD of an overlay slot, ZMA of the impedance, CSV of a view, CSV of
// the distortion curves.
enum class ExchangeKind { Frd, Zma, Csv, Thd };

bool smallNumber(const std::string& text, int lo, int hi, int& value)
{
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && p == text.data() + text.size() && value >= lo && value <= hi;
}

// The measurement file is loaded after the options, as --in would be: the configuration
// (for the amplitude axis and the dB SPL settings) first, then the file and its snapshot.
int runExport(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3)
        return tool::usageError("export nimmt drei Argumente: ART DATEI.mes AUS");
    const KindName* kind = nullptr;
    for (const KindName& k : kKinds)
        if (ctx.args[0] == k.name)
            kind = &k;
    ExchangeKind exchange = ExchangeKind::Frd;
    if (ctx.args[0] == "zma")
        exchange = ExchangeKind::Zma;
    else if (ctx.args[0] == "csv")
        exchange = ExchangeKind::Csv;
    else if (ctx.args[0] == "thd")
        exchange = ExchangeKind::Thd;
    else if (ctx.args[0] != "frd" && kind == nullptr)
        return tool::usageError("export: unbekannte ART „" + ctx.args[0] +
                                "“ (amp, amp-ternovax, pha-ternovax, imp, imp-ternovax, "
                                "phe-ternovax, tsp, frd, zma, csv, thd)");
    if (!ctx.inPath.empty())
        return tool::usageError("export: die Messdatei als DATEI.mes angeben, nicht mit --in");
    int slot = 0;
    int view = 2;
    if (kind != nullptr) {
        if (const int bad = tool::checkOptions(ctx, true); bad != tool::kExitOk)
            return bad;
    } else if (exchange == ExchangeKind::Frd) {
        if (const int bad = tool::checkOptions(ctx, true, {"slot"}); bad != tool::kExitOk)
            return bad;
        if (auto it = ctx.options.find("slot");
            it != ctx.options.end() && !smallNumber(it->second, 0, 4, slot))
            return tool::usageError("--slot nimmt einen Überlagerungsplatz 0 bis 4");
    } else if (exchange == ExchangeKind::Csv) {
        if (const int bad = tool::checkOptions(ctx, true, {"view"}); bad != tool::kExitOk)
            return bad;
        if (auto it = ctx.options.find("view");
            it != ctx.options.end() && !smallNumber(it->second, 0, 11, view))
            return tool::usageError("--view nimmt eine Ansicht 1 bis 8 oder 11");
    } else if (const int bad = tool::checkOptions(ctx, true); bad != tool::kExitOk) {
        return bad;
    }
    ctx.inPath = ctx.args[1];
    const int rc = tool::applyCommonOptions(ctx);
    if (rc != tool::kExitOk)
        return rc;
    const std::string& out = ctx.args[2];
    if (kind != nullptr)
        return tool::saveStatus(files::writeExportFile(kind->kind, out), out);
    const bool dbspl = files::amplitudeAxisIsDbspl();
    switch (exchange) {
    case ExchangeKind::Frd:
        return tool::saveStatus(
            files::writeExchangeText(files::buildFrd(slot, dbspl), out, "FRD-Export"), out);
    case ExchangeKind::Zma:
        return tool::saveStatus(files::writeExchangeText(files::buildZma(), out, "ZMA-Export"),
                                out);
    case ExchangeKind::Thd:
        return tool::saveStatus(
            files::writeExchangeText(files::buildThdCsv(core::store().distortion), out,
                                     "Klirrfaktor-Export"),
            out);
    case ExchangeKind::Csv:
        break;
    }
    return tool::saveStatus(
        files::writeExchangeText(files::buildViewCsv(view, dbspl), out, "CSV-Export"), out);
}

const bool registered = tool::registerCommand(
    {"export",
     "  export KIND FILE.mes OUT             text export; KIND amp | amp-ternovax | pha-ternovax |\n"
     "                                       imp | imp-ternovax | phe-ternovax | tsp\n"
     "                                       (--config for the amplitude axis and dBSPL values)\n"
     "  export frd FILE.mes OUT.frd [--slot K]  amplitude and phase of overlay slot K (0..4,\n"
     "                                       default 0) for design tools\n"
     "  export zma FILE.mes OUT.zma           impedance and its phase for design tools\n"
     "  export csv FILE.mes OUT.csv [--view V]  the curves of view V (1..8, 11; default 2),\n"
     "                                       one column per curve, header row\n"
     "  export thd FILE.mes OUT.csv           the distortion curves of a sweep measurement:\n"
     "                                       header row, then frequency [Hz], fundamental [dB],\n"
     "                                       H2..H5 [dB re fundamental], THD [%]; a harmonic's\n"
     "                                       field is empty above the band it can be read in\n"
     "                                       FRD/ZMA phase: degrees, a delay gives a falling\n"
     "                                       phase, an inductive impedance a positive one",
     runExport});

} // namespace
