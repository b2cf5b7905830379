// orvo-tool measure RUN --out FILE.mes: a measurement run on the simulated box (or a real
// port), saved as a measurement file.
#include "tool/MeasureRuns.h"
#include "tool/ToolSupport.h"

#include "box/Acquisition.h"
#include "box/Level.h"
#include "box/PortAccess.h"
#include "box/PpdevPort.h"
#include "box/Runs.h"
#include "box/SoundCard.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Waterfall.h"
#include "files/MeasurementFile.h"
#include "plot/Render.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tool
{

namespace
{

bool onlyKnownOptions(const ToolContext& ctx, const std::string& prefix,
                      std::initializer_list<const char*> known, std::string& error);

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

// A run stopped by a signal saves nothing; the status is the shell's for that signal.
int stopped(int sig)
{
    std::fprintf(stderr, "orvo-tool: abgebrochen (Signal %d), nichts gespeichert\n", sig);
    return 128 + sig;
}

// The views the runs draw into, and what the tool adds to them: after the captures of an
// averaged run that lasts, how far it is on stderr (at most twice a second), and a stop
// between two captures when Ctrl+C (SIGTERM, SIGHUP) has come. A quick run says nothing.
class ToolViews final : public core::Renderer
{
public:
    explicit ToolViews(core::Renderer& views) : views_(views) {}
    void render(core::RenderCode code) override { views_.render(code); }
    bool averageTaken(int done, int total) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (total > 1 &&
            (now - lastNote_ >= std::chrono::milliseconds(500) || (done == total && noted_))) {
            std::fprintf(stderr, "orvo-tool: Mittelung %d von %d\n", done, total);
            lastNote_ = now;
            noted_ = done < total;
        }
        if (stopSignal_ == 0)
            stopSignal_ = takeStopSignal();
        return stopSignal_ == 0;
    }
    int stopSignal() const { return stopSignal_; }

private:
    core::Renderer& views_;
    std::chrono::steady_clock::time_point lastNote_ = std::chrono::steady_clock::now();
    bool noted_ = false;
    int stopSignal_ = 0;
};

int runReference(MeasureContext& mc)
{
    box::runReferenceMeasurement(mc.views);
    return kExitOk;
}

int runResponse(MeasureContext& mc)
{
    box::runAmplitudePhaseMeasurement(mc.views);
    return kExitOk;
}

int runImpedance(MeasureContext& mc)
{
    box::runImpedanceMeasurement(mc.views);
    return kExitOk;
}

int runLevel(MeasureContext& mc)
{
    int passes = 1;
    const auto it = mc.ctx.options.find("passes");
    if (it != mc.ctx.options.end()) {
        double v = 0;
        if (!parseNumber(it->second, v) || v < 1 || v > 100000 || v != std::floor(v))
            return usageError("--passes nimmt eine ganze Zahl von 1 bis 100000");
        passes = static_cast<int>(v);
    }
    const int rate = core::settings().sampleRate;
    if (rate != 1 && rate != 2) {
        core::message(115, 0, core::Icon::Stop);
        return kExitFailed;
    }
    // The passes of a series, one after another, as the worker takes them. A long series
    // says how far it is (at most twice a second) and stops between two passes when asked.
    auto lastNote = std::chrono::steady_clock::now();
    for (int i = 0; i < passes; ++i) {
        box::measureLevels(i);
        core::ui().setStatusText(0, core::formatC("%s %i", core::str(96), i + 1));
        const auto now = std::chrono::steady_clock::now();
        if (passes > 1 && (i + 1 == passes || now - lastNote >= std::chrono::milliseconds(500))) {
            std::fprintf(stderr, "orvo-tool: Pegelmessung, Durchgang %d von %d\n", i + 1, passes);
            lastNote = now;
        }
        if (const int sig = takeStopSignal(); sig != 0)
            return stopped(sig);
    }
    return kExitOk;
}

int runCsd(MeasureContext& mc)
{
    if (core::settings().sampleRate != 2) {
        core::messageText(core::str(84), " ", core::Icon::Information);
        return kExitFailed;
    }
    box::runAmplitudePhaseMeasurement(mc.views);
    dsp::computeWaterfall(core::safeTrailerN(core::store().timeRecord.trailerN()));
    return kExitOk;
}

int countHardwareFailures();
bool sweepRefused();

// One sweep, as the amplitude/phase measurement takes it with the method Sweep; the file then
// holds its response like any other and the harmonic distortion beside it.
int runDistortion(MeasureContext& mc)
{
    core::settings().method = 3;
    box::runAmplitudePhaseMeasurement(mc.views);
    // A failed capture has said why; only a sweep that gave no curves at all is left to tell.
    if (core::store().distortion.empty() && countHardwareFailures() == 0 && !sweepRefused())
        return failed("Die Sweep-Messung hat keine Klirrfaktorkurven ergeben.");
    return kExitOk;
}

const bool builtIns = [] {
    registerMeasureRun(
        {"reference", "reference measurement (all samples, no window)", runReference});
    registerMeasureRun({"response", "amplitude/phase measurement", runResponse});
    registerMeasureRun(
        {"impedance", "impedance measurement (prompts 32, 20, 21, 22)", runImpedance});
    registerMeasureRun({"level", "third-octave levels, --passes K passes (default 1)", runLevel});
    registerMeasureRun({"csd", "amplitude/phase measurement and waterfall (51.2 kHz)", runCsd});
    registerMeasureRun({"distortion",
                        "a sweep: amplitude/phase and harmonic distortion (--sweep-...)",
                        runDistortion});
    return true;
}();

// A hardware message is the string itself, or the string with the device's reason after a
// colon.
bool isMessage(const std::string& text, int id)
{
    const std::string& s = core::str(id);
    return text.compare(0, s.size(), s) == 0 && (text.size() == s.size() || text[s.size()] == ':');
}

int countHardwareFailures()
{
    auto* scripted = dynamic_cast<core::ScriptedUi*>(&core::ui());
    if (!scripted)
        return 0;
    int n = 0;
    for (const auto& m : scripted->messages())
        if (isMessage(m.text, 15) || isMessage(m.text, 16))
            ++n;
    return n;
}

// The box on the parallel port refused a sweep: the run measured nothing.
bool sweepRefused()
{
    auto* scripted = dynamic_cast<core::ScriptedUi*>(&core::ui());
    if (!scripted)
        return false;
    const std::string refused = box::sweepRefusedText();
    for (const auto& m : scripted->messages())
        if (m.text == refused)
            return true;
    return false;
}

// The sweep's band and length from --sweep-from, --sweep-to and --sweep-seconds, on top of
// the settings (and --set); they count for every run that measures with a sweep.
bool applySweepOptions(const ToolContext& ctx, core::MeasurementSettings& s, std::string& error)
{
    double start = s.sweepStartHz;
    double end = s.sweepEndHz;
    double seconds = s.sweepSeconds;
    const std::pair<const char*, double*> options[] = {
        {"sweep-from", &start}, {"sweep-to", &end}, {"sweep-seconds", &seconds}};
    for (const auto& [key, value] : options) {
        const auto it = ctx.options.find(key);
        if (it == ctx.options.end())
            continue;
        if (!parseNumber(it->second, *value)) {
            error = std::string("--") + key + ": „" + it->second + "“ ist keine Zahl";
            return false;
        }
    }
    if (std::string problem = core::sweepSettingsProblem(start, end, seconds); !problem.empty()) {
        error = std::move(problem);
        return false;
    }
    s.sweepStartHz = static_cast<float>(start);
    s.sweepEndHz = static_cast<float>(end);
    s.sweepSeconds = static_cast<float>(seconds);
    return onlyKnownOptions(ctx, "sweep-", {"sweep-from", "sweep-to", "sweep-seconds"}, error);
}

// Captures that reached the limit of the input ("Signal zu groß"): a curve from them is
// several dB off, so it is not saved.
int countOverloads()
{
    auto* scripted = dynamic_cast<core::ScriptedUi*>(&core::ui());
    if (!scripted)
        return 0;
    int n = 0;
    for (const auto& m : scripted->messages())
        if (isMessage(m.text, 18))
            ++n;
    return n;
}

int runMeasure(ToolContext& ctx)
{
    if (ctx.args.size() != 1)
        return usageError(
            "measure nimmt eine Messung: reference, response, impedance, level, csd, distortion");
    const MeasureRun* run = findMeasureRun(ctx.args[0].c_str());
    if (!run)
        return usageError("measure: unbekannte Messung „" + ctx.args[0] + "“");
    const auto outIt = ctx.options.find("out");
    if (outIt == ctx.options.end() || outIt->second.empty())
        return usageError("measure braucht --out DATEI.mes");
    const std::string out = outIt->second;
    if (extensionOf(out) != "mes")
        return usageError("measure: --out muss eine .mes-Datei nennen");
    std::string portKind = "sim";
    if (auto p = ctx.options.find("port"); p != ctx.options.end())
        portKind = p->second;
    if (portKind != "sim" && portKind != "simulator" && portKind != "ppdev" &&
        portKind != "soundcard")
        return usageError("--port nimmt sim, ppdev oder soundcard");
    box::SoundCardConfig soundConfig;
    {
        std::string error;
        if (!configureSoundCard(ctx, soundConfig, error))
            return usageError(error);
        if (portKind != "soundcard") {
            for (const auto& [key, value] : ctx.options)
                if (key.rfind("sound-", 0) == 0)
                    return usageError("--" + key + " braucht --port soundcard");
        }
    }

    // The records as the program has them after start-up; the options come on top.
    core::prepareRecordsForStart();
    int rc = applyCommonOptions(ctx);
    if (rc != kExitOk)
        return rc;
    core::MeasurementSettings& s = core::settings();
    {
        std::string error;
        if (!applySweepOptions(ctx, s, error))
            return usageError(error);
    }
    // Without a configuration the scales follow the rate, as the dialog keeps them.
    if (ctx.configPath.empty())
        core::chooseInitialXScales(s.sampleRate);

    // Ctrl+C while the run goes on stops it between two of its steps, and never cuts off the
    // save. Held from here on, before the sound card starts its threads: they inherit the
    // mask, so the signal can't end the process from one of them.
    const HeldStopSignals held;
    std::unique_ptr<box::PortAccess> port;
    std::unique_ptr<box::SoundCardDevice> card;
    box::sim::SimulatedBox* sim = nullptr;
    if (portKind == "soundcard") {
        card = std::make_unique<box::SoundCardDevice>(soundConfig);
        std::string error;
        // A device that can't be opened shows "Hardware nicht vorhanden" at the first
        // capture, as a missing box does; the name of what is missing goes to stderr.
        if (!card->open(error))
            std::fprintf(stderr, "orvo-tool: %s\n", error.c_str());
        box::setAcquisitionDevice(card.get());
    } else if (portKind == "ppdev") {
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
    const core::BoxRate rate = core::rateForBox(box::readHardwareNumber(), s.sampleRate);
    core::threeKilohertzAllowed = rate.threeKilohertzAllowed ? 1 : 0;
    if (!rate.threeKilohertzAllowed)
        core::message(120, 0, core::Icon::Error);
    s.sampleRate = rate.rateCode;

    ToolViews views(plot::viewRenderer());
    MeasureContext mc{ctx, sim, views};
    rc = run->run(mc);
    const int hardwareFailures = countHardwareFailures();
    const int overloads = countOverloads();
    const bool refused = sweepRefused();
    box::setPortAccess(nullptr);
    box::setAcquisitionDevice(nullptr);
    if (card) {
        if (card->lastTiming() == box::TimingSource::Reported ||
            card->lastTiming() == box::TimingSource::MeasuredChannel)
            std::fprintf(stderr, "orvo-tool: %s\n", card->statusText().c_str());
        if (hardwareFailures > 0 && !card->lastError().empty())
            std::fprintf(stderr, "orvo-tool: %s\n", card->lastError().c_str());
        card.reset();
    }
    if (views.stopSignal() != 0)
        return stopped(views.stopSignal());
    if (rc != kExitOk)
        return rc;
    if (const int sig = takeStopSignal(); sig != 0)
        return stopped(sig);
    if (hardwareFailures > 0)
        return failed("Die Messbox hat versagt; nichts wurde gespeichert.");
    if (refused)
        return failed("Die Messbox kann keinen Sweep spielen; nichts wurde gespeichert.");
    if (overloads > 0)
        return failed("Der Eingang war übersteuert; nichts wurde gespeichert.");
    return saveStatus(files::writeMeasurementFile(out), out);
}

const bool registered = registerCommand(
    {"measure",
     "  measure RUN --out FILE.mes           measure on the simulated box and save;\n"
     "                                       RUN reference | response | impedance | level |\n"
     "                                       csd | distortion, and the runs other parts add\n"
     "                                       (ts); `--set method=3` measures the others with\n"
     "                                       a sweep too\n"
     "      --sweep-from HZ                  sweep: start frequency (default 20)\n"
     "      --sweep-to HZ                    sweep: end frequency (default 20000; at most\n"
     "                                       0.9 of the Nyquist frequency is played)\n"
     "      --sweep-seconds S                sweep: length from start to end, 0.5..10\n"
     "                                       (default 2)\n"
     "      --port sim|ppdev|soundcard       simulated box (default), the real box on\n"
     "                                       /dev/parportN of `parallelPort`, or a sound card\n"
     "      --sound-device NAME              sound card: part of the device's name (both\n"
     "                                       directions; default: the system's default)\n"
     "      --sound-output NAME              output device, when it is another one\n"
     "      --sound-rate HZ                  the device's rate (default: its own)\n"
     "      --sound-inputs L1,MIC,L2,REF     input channels from 1 for Line1, Mic., Line2,\n"
     "                                       Ref_Int; REF may be `digital` (default "
     "1,1,2,digital)\n"
     "      --sound-timing CH|none           loopback channel that times every capture\n"
     "                                       (default none)\n"
     "      --sound-level DBFS               MLS peak level (default -10)\n"
     "      --sound-latency FRAMES           loop delay measured before (default: as reported)\n"
     "      --passes K                       level: number of passes (default 1)\n"
     "      --sim-hw N                       hardware number the box reports (default 9)\n"
     "      --sim-noise DB                   converter noise, dB re full scale (default -72)\n"
     "      --sim-gain DB                    amplifier gain (default 0)\n"
     "      --sim-driver Re,LeMh,fs,Qms,Qes,VasL  driver (default 6.2,0.6,38,3.2,0.42,45)\n"
     "      --sim-fault absent|stuck|clip    no box, capture never ends, input clips\n"
     "      --sim-box-l L                    second T/S run in a closed box of L litres\n"
     "                                       (default: the added mass `addedMassG`)\n"
     "      --sim-mass-g G                   added mass on the bench (default `addedMassG`)\n"
     "      --sim-distortion H2DB,H3DB       the driver's second and third harmonic re the\n"
     "                                       fundamental for a 1 V peak drive (default: none)\n"
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

namespace
{
// False with a message when an option of the family `prefix` ("sim-", "sound-") is not one
// of `known`.
bool onlyKnownOptions(const ToolContext& ctx, const std::string& prefix,
                      std::initializer_list<const char*> known, std::string& error)
{
    for (const auto& [key, value] : ctx.options) {
        (void)value;
        if (key.rfind(prefix, 0) != 0)
            continue;
        bool ok = false;
        for (const char* k : known)
            ok = ok || key == k;
        if (!ok) {
            error = "unbekannte Option --" + key;
            return false;
        }
    }
    return true;
}
} // namespace

bool configureSoundCard(const ToolContext& ctx, box::SoundCardConfig& config, std::string& error)
{
    const auto option = [&](const char* key) -> const std::string* {
        const auto it = ctx.options.find(key);
        return it == ctx.options.end() ? nullptr : &it->second;
    };
    if (const std::string* v = option("sound-device"))
        config.inputDevice = *v;
    if (const std::string* v = option("sound-output"))
        config.outputDevice = *v;
    double x = 0;
    if (const std::string* v = option("sound-rate")) {
        if (!parseNumber(*v, x) || x < 8000 || x > 384000 || x != std::floor(x)) {
            error = "--sound-rate nimmt eine ganze Zahl in Hz von 8000 bis 384000";
            return false;
        }
        config.deviceRateHz = static_cast<int>(x);
    }
    if (const std::string* v = option("sound-inputs")) {
        if (!box::parseInputMap(*v, config.channel)) {
            error = "--sound-inputs nimmt vier Kanäle L1,MIC,L2,REF (ab 1; REF darf digital sein)";
            return false;
        }
    }
    if (const std::string* v = option("sound-timing")) {
        if (*v == "none") {
            config.timingChannel = 0;
        } else if (!parseNumber(*v, x) || x < 1 || x > 64 || x != std::floor(x)) {
            error = "--sound-timing nimmt einen Kanal von 1 bis 64 oder none";
            return false;
        } else {
            config.timingChannel = static_cast<int>(x);
        }
    }
    if (const std::string* v = option("sound-level")) {
        if (!parseNumber(*v, x) || x < -60 || x > 0) {
            error = "--sound-level nimmt dBFS von -60 bis 0";
            return false;
        }
        config.outputLevelDbfs = x;
    }
    if (const std::string* v = option("sound-latency")) {
        if (!parseNumber(*v, x) || x < 0 || x > 10000000 || x != std::floor(x)) {
            error = "--sound-latency nimmt eine ganze Zahl von Frames";
            return false;
        }
        config.calibratedLatencyFrames = static_cast<int>(x);
    }
    return onlyKnownOptions(ctx, "sound-",
                            {"sound-device", "sound-output", "sound-rate", "sound-inputs",
                             "sound-timing", "sound-level", "sound-latency"},
                            error);
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
            error = std::string("--") + key + ": „" + it->second + "“ liegt außerhalb des Bereichs";
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
            error = "--sim-driver nimmt sechs positive Zahlen: Re,LeMh,fs,Qms,Qes,VasL";
            return false;
        }
    }
    if (auto it = ctx.options.find("sim-fault"); it != ctx.options.end()) {
        if (!box::sim::parseFault(it->second, bench.fault)) {
            error = "--sim-fault nimmt absent, stuck, clip oder none";
            return false;
        }
    }
    if (auto it = ctx.options.find("sim-distortion"); it != ctx.options.end()) {
        if (!box::sim::parseDistortion(it->second, bench.distortion)) {
            error = "--sim-distortion nimmt zwei Pegel in dB von -200 bis 0: H2,H3";
            return false;
        }
    }
    return onlyKnownOptions(ctx, "sim-",
                            {"sim-hw", "sim-noise", "sim-gain", "sim-driver", "sim-fault",
                             "sim-box-l", "sim-mass-g", "sim-distortion"},
                            error);
}

} // namespace tool
