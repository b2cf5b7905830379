#include "tool/ToolSupport.h"

#include "box/Runs.h"
#include "files/Exchange.h"
#include "files/Export.h"
#include "files/Import.h"
#include "files/MeasurementFile.h"

#include "core/Renderer.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Ui.h"

namespace
{

// Imports an older measurement file as the menu command does (import, snapshot restore) and
// saves the result in the current layout. The records start as the program has them after
// start-up: what the import leaves alone (the overlay axis of a version-2.1 import, for one)
// keeps its start-up value, unless --in gives a measurement file to start from.
// FRD and ZMA files come onto the grid of the rate and N in force (--config, --set
// sampleRate=..., --set fftLength=...): an FRD as a new current curve with the overlays moved
// on, a ZMA as the impedance curve; --in gives the measurement they are added to.
int importExchange(tool::ToolContext& ctx, files::ExchangeFormat format)
{
    core::prepareRecordsForStart();
    const int rc = tool::applyCommonOptions(ctx);
    if (rc != tool::kExitOk)
        return rc;
    const core::MeasurementSettings& s = core::settings();
    // Without a configuration the scales follow the rate, as the dialog keeps them; the
    // overlays of the same rate then stay beside the imported curve.
    if (ctx.configPath.empty())
        core::chooseInitialXScales(s.sampleRate);
    files::ExchangeImport imp =
        files::importExchangeFile(ctx.args[1], format, s.fftLength, s.sampleRate);
    if (!imp.ok)
        return tool::kExitFailed;
    // What the grid leaves out is said, and the import goes on: another rate or N is the
    // user's choice (--set).
    if (const std::string note = files::gridCutNote(imp.cut); !note.empty())
        core::messageText(note, format == files::ExchangeFormat::Frd ? "FRD-Import" : "ZMA-Import",
                          core::Icon::Information);
    if (format == files::ExchangeFormat::Frd && files::amplitudeAxisIsDbspl())
        files::convertFromDbspl(imp.curves.value);
    if (format == files::ExchangeFormat::Frd) {
        // The saved file is all an import makes here; no pictures are recorded.
        core::NoRenderer noViews;
        box::takeResponseCurve(imp.curves.value, imp.curves.phase, noViews);
    } else {
        files::applyImpedanceImport(imp.curves);
    }
    return tool::saveStatus(files::writeMeasurementFile(ctx.args[2]), ctx.args[2]);
}

int runImport(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3)
        return tool::usageError("import nimmt drei Argumente: VERSION ALT AUS.mes");
    const std::string& version = ctx.args[0];
    if (version == "frd" || version == "zma") {
        if (const int bad = tool::checkOptions(ctx, true); bad != tool::kExitOk)
            return bad;
        return importExchange(ctx, version == "frd" ? files::ExchangeFormat::Frd
                                                    : files::ExchangeFormat::Zma);
    }
    if (version != "1.33" && version != "2.1")
        return tool::usageError("import: VERSION ist 1.33, 2.1, frd oder zma");
    if (const int bad = tool::checkOptions(ctx, true); bad != tool::kExitOk)
        return bad;
    core::prepareRecordsForStart();
    const int rc = tool::applyCommonOptions(ctx);
    if (rc != tool::kExitOk)
        return rc;
    const files::FileStatus s = version == "1.33" ? files::importVersion133File(ctx.args[1])
                                                  : files::importVersion21File(ctx.args[1]);
    if (s != files::FileStatus::Loaded) {
        files::showReadFailure();
        return tool::kExitFailed;
    }
    core::restoreSnapshot();
    return tool::saveStatus(files::writeMeasurementFile(ctx.args[2]), ctx.args[2]);
}

const bool registered = tool::registerCommand(
    {"import",
     "  import VERSION OLD OUT.mes           import a measurement file of version 1.33 or 2.1\n"
     "                                       and save it in the current layout\n"
     "  import frd|zma FILE OUT.mes          an FRD file as the new current amplitude curve\n"
     "                                       (overlays move on), a ZMA file as the impedance,\n"
     "                                       on the grid of sampleRate and fftLength (--set);\n"
     "                                       --in FILE.mes adds it to that measurement",
     runImport});

} // namespace
