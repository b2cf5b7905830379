#include "tool/ToolSupport.h"

#include "files/Export.h"

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

// The measurement file is loaded after the options, as --in would be: the configuration
// (for the amplitude axis and the dB SPL settings) first, then the file and its snapshot.
int runExport(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3)
        return tool::usageError("export takes three arguments: KIND FILE.mes OUT");
    const KindName* kind = nullptr;
    for (const KindName& k : kKinds)
        if (ctx.args[0] == k.name)
            kind = &k;
    if (kind == nullptr)
        return tool::usageError("export: unknown KIND '" + ctx.args[0] +
                                "' (amp, amp-ternovax, pha-ternovax, imp, imp-ternovax, "
                                "phe-ternovax, tsp)");
    if (!ctx.inPath.empty())
        return tool::usageError("export: give the measurement file as FILE.mes, not with --in");
    if (const int bad = tool::checkOptions(ctx, true); bad != tool::kExitOk)
        return bad;
    ctx.inPath = ctx.args[1];
    const int rc = tool::applyCommonOptions(ctx);
    if (rc != tool::kExitOk)
        return rc;
    return tool::saveStatus(files::writeExportFile(kind->kind, ctx.args[2]), ctx.args[2]);
}

const bool registered = tool::registerCommand(
    {"export",
     "  export KIND FILE.mes OUT             text export; KIND amp | amp-ternovax | pha-ternovax |\n"
     "                                       imp | imp-ternovax | phe-ternovax | tsp\n"
     "                                       (--config for the amplitude axis and dBSPL values)",
     runExport});

} // namespace
