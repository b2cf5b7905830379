// orvo-tool measure RUN --out FILE.mes: a measurement run on the simulated box (or a real
// port), saved as a measurement file.
#include "tool/MeasureRuns.h"
#include "tool/ToolSupport.h"

#include "box/Acquisition.h"
#include "box/Level.h"
#include "box/PortAccess.h"
#include "box/PpdevPort.h"
#include "box/Render.h"
#include "box/Runs.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Waterfall.h"
#include "files/MeasurementFile.h"
#include "plot/Render.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tool {

namespace {

std::vector<MeasureRun>& runs()
{
    static std::vector<MeasureRun> r;
    return r;
}

bool parseNumber(const std::string& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(out);
}

int failed(const char* what)
{
    std::fprintf(stderr, "orvo-tool: %s\n", what);
    return kExitFailed;
}

int runReference(MeasureContext&)
{
    box::runReferenceMeasurement();
    return kExitOk;
}

int runResponse(MeasureContext&)
{
    box::runAmplitudePhaseMeasurement();
    return kExitOk;
}

int runImpedance(MeasureContext&)
{
    box::runImpedanceMeasurement();
    return kExitOk;
}

int runLevel(MeasureContext& mc)
{
    int passes = 1;
    const auto it = mc.ctx.options.find("passes");
    if (it != mc.ctx.options.end()) {
        double v = 0;
        if (!parseNumber(it->second, v) || v < 1 || v > 100000 || v != std::floor(v))
            return usageError("--passes takes a whole number from 1 to 100000");
        passes = static_cast<int>(v);
    }
    const int rate = core::settings().sampleRate;
    if (rate != 1 && rate != 2) {
        core::message(115, 0, core::Icon::Stop);
        return kExitFailed;
    }
    // The passes of a series, one after another, as the worker takes them.
    for (int i = 0; i < passes; ++i) {
        box::measureLevels(i);
        core::ui().setStatusText(0, core::formatC("%s %i", core::str(96), i + 1));
    }
    return kExitOk;
}

int runCsd(MeasureContext&)
{
    if (core::settings().sampleRate != 2) {
        core::messageText(core::str(84), " ", core::Icon::Information);
        return kExitFailed;
    }
    box::runAmplitudePhaseMeasurement();
    dsp::computeWaterfall(core::safeTrailerN(core::store().timeRecord.trailerN()));
    return kExitOk;
}

const bool builtIns = [] {
    registerMeasureRun({"reference", "reference measurement (all samples, no window)",
                        runReference});
    registerMeasureRun({"response", "amplitude/phase measurement", runResponse});
    registerMeasureRun({"impedance", "impedance measurement (prompts 32, 20, 21, 22)",
                        runImpedance});
    registerMeasureRun({"level", "third-octave levels, --passes K passes (default 1)", runLevel});
    registerMeasureRun({"csd", "amplitude/phase measurement and waterfall (51.2 kHz)", runCsd});
    return true;
}();

int countHardwareFailures()
{
    auto* scripted = dynamic_cast<core::ScriptedUi*>(&core::ui());
    if (!scripted)
        return 0;
    int n = 0;
    for (const auto& m : scripted->messages())
        if (m.text == core::str(15) || m.text == core::str(16))
            ++n;
    return n;
}

int runMeasure(ToolContext& ctx)
{
    if (ctx.args.size() != 1)
        return usageError("measure takes one run: reference, response, impedance, level, csd");
    const MeasureRun* run = findMeasureRun(ctx.args[0].c_str());
    if (!run)
        return usageError("measure: unknown run '" + ctx.args[0] + "'");
    const auto outIt = ctx.options.find("out");
    if (outIt == ctx.options.end() || outIt->second.empty())
        return usageError("measure needs --out FILE.mes");
    const std::string out = outIt->second;
    if (extensionOf(out) != "mes")
        return usageError("measure: --out must name a .mes file");
    std::string portKind = "sim";
    if (auto p = ctx.options.find("port"); p != ctx.options.end())
        portKind = p->second;
    if (portKind != "sim" && portKind != "simulator" && portKind != "ppdev")
        return usageError("--port takes sim or ppdev");

    // The records as the program has them after start-up; the options come on top.
    core::prepareRecordsForStart();
    int rc = applyCommonOptions(ctx);
    if (rc != kExitOk)
        return rc;
    core::MeasurementSettings& s = core::settings();
    // Without a configuration the scales follow the rate, as the dialog keeps them.
    if (ctx.configPath.empty())
        core::chooseInitialXScales(s.sampleRate);

    std::unique_ptr<box::PortAccess> port;
    box::sim::SimulatedBox* sim = nullptr;
    if (portKind == "ppdev") {
        std::string error;
        auto p = box::PpdevPort::open(box::ppdevPath(s.parallelPort), error);
        if (!p)
            return failed(error.c_str());
        port = std::move(p);
    } else {
        box::sim::Bench bench;
        std::string error;
        if (!configureBench(ctx, bench, error))
            return usageError(error);
        auto simBox = std::make_unique<box::sim::SimulatedBox>(bench);
        simBox->setBase(box::portBase(s.parallelPort));
        sim = simBox.get();
        port = std::move(simBox);
    }
    box::setPortAccess(port.get());

    // As at start-up: only box number 9 samples at 3.2 kHz.
    core::threeKilohertzAllowed = box::readHardwareNumber() == 9 ? 1 : 0;
    if (!core::threeKilohertzAllowed) {
        core::message(120, 0, core::Icon::Error);
        if (s.sampleRate == 3)
            s.sampleRate = 2;
    }

    // The runs render the views they change, as in the program: rendering the amplitude view
    // also moves its frequency axis, which decides whether the older overlays stay.
    box::setRenderFunction(plot::renderView);
    MeasureContext mc{ctx, sim};
    rc = run->run(mc);
    const int hardwareFailures = countHardwareFailures();
    box::setRenderFunction(nullptr);
    box::setPortAccess(nullptr);
    if (rc != kExitOk)
        return rc;
    if (hardwareFailures > 0)
        return failed("the box failed; nothing was saved");
    return saveStatus(files::writeMeasurementFile(out), out);
}

const bool registered = registerCommand(
    {"measure",
     "  measure RUN --out FILE.mes           measure on the simulated box and save;\n"
     "                                       RUN reference | response | impedance | level |\n"
     "                                       csd, and the runs other parts add (ts)\n"
     "      --port sim|ppdev                 simulated box (default) or the real box on\n"
     "                                       /dev/parportN of `parallelPort`\n"
     "      --passes K                       level: number of passes (default 1)\n"
     "      --sim-hw N                       hardware number the box reports (default 9)\n"
     "      --sim-noise DB                   noise floor, dB re full scale (default -90)\n"
     "      --sim-gain DB                    amplifier gain (default 0)\n"
     "      --sim-driver Re,LeMh,fs,Qms,Qes,VasL  driver (default 6.2,0.6,38,3.2,0.42,45)\n"
     "      --sim-fault absent|stuck|clip    no box, capture never ends, input clips\n"
     "      --sim-box-l L                    second T/S run in a closed box of L litres\n"
     "                                       (default: the added mass `addedMassG`)\n"
     "      --sim-mass-g G                   added mass on the bench (default `addedMassG`)\n"
     "    The bench's reference resistor, diaphragm, distance and microphone sensitivity\n"
     "    follow the settings; prompts are answered by --answers in order.",
     runMeasure});

} // namespace

bool registerMeasureRun(const MeasureRun& run)
{
    runs().push_back(run);
    return true;
}

const MeasureRun* findMeasureRun(const char* name)
{
    for (const MeasureRun& r : runs())
        if (std::strcmp(r.name, name) == 0)
            return &r;
    return nullptr;
}

bool configureBench(const ToolContext& ctx, box::sim::Bench& bench, std::string& error)
{
    const core::MeasurementSettings& s = core::settings();
    bench.referenceResistorOhm = s.referenceResistorOhm;
    bench.diaphragmDiameterMm = s.diaphragmDiameterMm;
    bench.distanceMm = s.distanceMm;
    bench.micSensitivityMvPerPa = s.micSensitivityMvPerPa;
    bench.addedMassG = s.addedMassG;

    auto number = [&](const char* key, double lo, double hi, double& out) {
        const auto it = ctx.options.find(key);
        if (it == ctx.options.end())
            return true;
        if (!parseNumber(it->second, out) || out < lo || out > hi) {
            error = std::string("--") + key + ": '" + it->second + "' is out of range";
            return false;
        }
        return true;
    };
    double v = bench.hardwareNumber;
    if (!number("sim-hw", 0, 255, v))
        return false;
    bench.hardwareNumber = static_cast<int>(v);
    if (!number("sim-noise", -300, 0, bench.noiseDbFs) ||
        !number("sim-gain", -60, 60, bench.amplifierGainDb) ||
        !number("sim-box-l", 0.01, 10000, bench.closedBoxL) ||
        !number("sim-mass-g", 0, 10000, bench.addedMassG))
        return false;
    if (auto it = ctx.options.find("sim-driver"); it != ctx.options.end()) {
        if (!box::sim::parseDriver(it->second, bench.driver)) {
            error = "--sim-driver takes six positive numbers: Re,LeMh,fs,Qms,Qes,VasL";
            return false;
        }
    }
    if (auto it = ctx.options.find("sim-fault"); it != ctx.options.end()) {
        if (!box::sim::parseFault(it->second, bench.fault)) {
            error = "--sim-fault takes absent, stuck, clip or none";
            return false;
        }
    }
    for (const auto& [key, value] : ctx.options) {
        (void)value;
        static const char* known[] = {"sim-hw",    "sim-noise", "sim-gain",  "sim-driver",
                                      "sim-fault", "sim-box-l", "sim-mass-g"};
        if (key.rfind("sim-", 0) != 0)
            continue;
        bool ok = false;
        for (const char* k : known)
            ok = ok || key == k;
        if (!ok) {
            error = "unknown option --" + key;
            return false;
        }
    }
    return true;
}

} // namespace tool
