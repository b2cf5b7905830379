// orvo-tool ts: Thiele-Small parameters from two impedance files (free air, and with an added
// mass or in a closed box), through the measurement's analysis and evaluation.
#include "tool/ToolSupport.h"

#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "dsp/ts/Resonance.h"
#include "dsp/ts/TsFromCurves.h"
#include "files/Exchange.h"
#include "files/MeasurementFile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

std::vector<ts::ImpedancePoint> points(const files::ExchangeImport& imp)
{
    return ts::impedancePoints(imp.table.frequencyHz, imp.table.value, imp.table.phaseDeg);
}

// A positive number from an option; false when it is missing or not one.
bool positiveOption(const tool::ToolContext& ctx, const char* name, float& value)
{
    const auto it = ctx.options.find(name);
    if (it == ctx.options.end())
        return false;
    char* end = nullptr;
    const double v = std::strtod(it->second.c_str(), &end);
    if (it->second.empty() || *end != '\0' || !std::isfinite(v) || v <= 0.0)
        return false;
    value = static_cast<float>(v);
    return true;
}

int runTs(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 2)
        return tool::usageError("ts nimmt zwei Argumente: FREI.zma BELASTET.zma");
    if (const int bad = tool::checkOptions(
            ctx, false, {"dc-ohm", "diameter-mm", "added-mass-g", "box-l", "out"});
        bad != tool::kExitOk)
        return bad;
    ts::TsCurveInputs in;
    const bool mass = ctx.options.count("added-mass-g") != 0;
    const bool box = ctx.options.count("box-l") != 0;
    if (mass == box)
        return tool::usageError("ts: entweder --added-mass-g G oder --box-l L angeben");
    if (mass && !positiveOption(ctx, "added-mass-g", in.addedMassG))
        return tool::usageError("--added-mass-g nimmt eine Masse in Gramm");
    if (box && !positiveOption(ctx, "box-l", in.boxVolumeL))
        return tool::usageError("--box-l nimmt ein Volumen in Liter");
    in.second = mass ? ts::SecondRun::AddedMass : ts::SecondRun::ClosedBox;
    if (!positiveOption(ctx, "diameter-mm", in.diaphragmDiameterMm))
        return tool::usageError("ts: --diameter-mm D (wirksamer Membrandurchmesser) fehlt");
    if (ctx.options.count("dc-ohm") && !positiveOption(ctx, "dc-ohm", in.dcResistanceOhm))
        return tool::usageError("--dc-ohm nimmt einen Widerstand in Ohm");

    core::prepareRecordsForStart();
    const files::ExchangeImport freeAir = files::importExchangeFile(
        ctx.args[0], files::ExchangeFormat::Zma, ts::kTsFftLength, ts::kTsFileRateCode);
    if (!freeAir.ok)
        return tool::kExitFailed;
    const files::ExchangeImport loaded = files::importExchangeFile(
        ctx.args[1], files::ExchangeFormat::Zma, ts::kTsFftLength, ts::kTsFileRateCode);
    if (!loaded.ok)
        return tool::kExitFailed;
    if (ts::tsFromImpedanceCurves(points(freeAir), points(loaded), in) != 1)
        return tool::kExitFailed;

    // The stored text keeps its CR LF line ends; the terminal gets plain ones.
    const auto& stored = core::store().tsResultText;
    std::string text = core::cp1252ToUtf8(stored.data(), stored.size());
    std::erase(text, '\r');
    std::fputs(text.c_str(), stdout);
    if (const auto it = ctx.options.find("out"); it != ctx.options.end())
        return tool::saveStatus(files::writeMeasurementFile(it->second), it->second);
    return tool::kExitOk;
}

const bool registered = tool::registerCommand(
    {"ts",
     "  ts FREE.zma LOADED.zma --diameter-mm D (--added-mass-g G | --box-l L)\n"
     "     [--dc-ohm R] [--out FILE.mes]     Thiele-Small parameters from impedance files\n"
     "                                       (free air; with added mass or in a closed box),\n"
     "                                       analysed on the files' own points; without\n"
     "                                       --dc-ohm the fitted model's Re is taken;\n"
     "                                       --out saves the result text in a measurement file",
     runTs});

} // namespace
