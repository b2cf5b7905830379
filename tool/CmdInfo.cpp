#include "tool/ToolSupport.h"

#include "files/ConfigurationFile.h"
#include "files/FileIo.h"
#include "files/Import.h"
#include "files/MeasurementFile.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

// A minimal JSON writer: keys in the order written, no pretty-printing beyond one level.
class Json {
public:
    std::string out;

    void key(const char* k)
    {
        comma();
        out += '"';
        out += k;
        out += "\":";
        pendingValue_ = true; // the value follows without a comma
    }
    void open(char c)
    {
        comma();
        out += c;
        first_ = true;
    }
    void close(char c)
    {
        out += c;
        first_ = false;
    }
    void number(long long v)
    {
        comma();
        out += std::to_string(v);
    }
    void number(int v) { number(static_cast<long long>(v)); }
    void number(double v)
    {
        comma();
        // NaN and infinities have no JSON form; they are reported as null.
        if (!std::isfinite(v))
            out += "null";
        else
            out += core::formatC("%.9g", v);
    }
    void string(const std::string& utf8)
    {
        comma();
        out += '"';
        for (unsigned char c : utf8) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20)
                    out += core::formatC("\\u%04x", c);
                else
                    out += static_cast<char>(c);
            }
        }
        out += '"';
    }
    void boolean(bool v)
    {
        comma();
        out += v ? "true" : "false";
    }
    void field(const char* k, int v) { key(k), number(v); }
    void field(const char* k, float v) { key(k), number(static_cast<double>(v)); }

private:
    void comma()
    {
        if (pendingValue_) {
            pendingValue_ = false;
            first_ = false;
            return;
        }
        if (!first_)
            out += ',';
        first_ = false;
    }
    bool first_ = true;
    bool pendingValue_ = false;
};

template <typename T, std::size_t N>
void array(Json& j, const char* k, const std::array<T, N>& a)
{
    j.key(k);
    j.open('[');
    for (const T& v : a) {
        if constexpr (std::is_floating_point_v<T>)
            j.number(static_cast<double>(v));
        else
            j.number(static_cast<int>(v));
    }
    j.close(']');
}

template <typename Buffer>
void trailer(Json& j, const char* k, const Buffer& b)
{
    j.key(k);
    j.open('{');
    j.field("N", b.trailerN());
    j.field("rate", b.trailerRate());
    j.close('}');
}

void measurementJson(Json& j)
{
    const core::AcquisitionSnapshot& sn = core::snapshot();
    const core::MeasurementStore& st = core::store();
    const core::DisplaySettings& d = core::displaySettings();
    j.key("snapshot");
    j.open('{');
    array(j, "markerPos", sn.markerPos);
    j.field("averages", sn.averages);
    j.field("smoothing", sn.smoothing);
    j.field("distanceMm", sn.distanceMm);
    j.field("window", sn.window);
    j.field("referenceResistorOhm", sn.referenceResistorOhm);
    j.close('}');
    trailer(j, "timeRecord", st.timeRecord);
    trailer(j, "stepResponseCurve", st.stepResponseCurve);
    for (const char* name : {"amplitudeSlots", "phaseSlots"}) {
        const auto& slots = name[0] == 'a' ? st.amplitudeSlots : st.phaseSlots;
        j.key(name);
        j.open('[');
        for (const core::CurveBuffer& c : slots) {
            j.open('{');
            j.field("N", c.trailerN());
            j.field("rate", c.trailerRate());
            j.close('}');
        }
        j.close(']');
    }
    array(j, "slotOccupied", st.slotOccupied);
    j.field("overlayAxisIndex", st.overlayAxisIndex);
    trailer(j, "impedanceMagnitude", st.impedanceMagnitude);
    trailer(j, "impedancePhase", st.impedancePhase);
    j.field("csdMaxLevel", st.csdLevel[core::kCsdPoints]);
    const core::DistortionRecord& dist = st.distortion;
    j.key("distortion");
    j.open('{');
    j.key("present");
    j.boolean(!dist.empty());
    j.field("points", static_cast<int>(dist.hz.size()));
    if (!dist.empty()) {
        j.field("fromHz", dist.hz.front());
        j.field("toHz", dist.hz.back());
        j.key("harmonicPoints");
        j.open('[');
        for (const std::vector<float>& h : dist.harmonicDb)
            j.number(static_cast<int>(h.size()));
        j.close(']');
        j.key("sweepStartHz");
        j.number(dist.sweepStartHz);
        j.key("sweepEndHz");
        j.number(dist.sweepEndHz);
        j.key("sweepSeconds");
        j.number(dist.sweepSeconds);
        j.key("sweepAmplitude");
        j.number(dist.sweepAmplitude);
        j.field("sweepRateHz", dist.sweepRateHz);
        j.key("noiseCoversBand");
        j.boolean(dist.noiseCoversBand);
    }
    j.close('}');
    j.key("userText");
    j.open('[');
    for (const auto& t : d.userText)
        j.string(core::cp1252ToUtf8(t.data(), t.size()));
    j.close(']');
    j.key("tsResultText");
    j.string(core::cp1252ToUtf8(st.tsResultText.data(), st.tsResultText.size()));
}

void configurationJson(Json& j)
{
    const core::MeasurementSettings& s = core::settings();
    const core::DisplaySettings& d = core::displaySettings();
    j.key("settings");
    j.open('{');
    j.field("parallelPort", s.parallelPort);
    j.field("window", s.window);
    j.field("smoothing", s.smoothing);
    j.field("averages", s.averages);
    array(j, "markerPos", s.markerPos);
    array(j, "markerDragging", s.markerDragging);
    j.field("sampleRate", s.sampleRate);
    j.field("dbsplSpeakerImpedanceOhm", s.dbsplSpeakerImpedanceOhm);
    j.field("fftLength", s.fftLength);
    j.field("measuringInput", s.measuringInput);
    j.field("referenceInput", s.referenceInput);
    j.field("distanceMm", s.distanceMm);
    j.field("dbsplRealDistance", s.dbsplRealDistance);
    j.field("phaseMode", s.phaseMode);
    j.field("referenceResistorOhm", s.referenceResistorOhm);
    j.field("preampGainDb", s.preampGainDb);
    j.field("referenceComputation", s.referenceComputation);
    j.field("phaseOffsetDeg", s.phaseOffsetDeg);
    j.field("stepResponse", s.stepResponse);
    j.field("micCorrection", s.micCorrection);
    j.field("micPhase0Deg", s.micPhase0Deg);
    j.field("method", s.method);
    j.field("addedMassG", s.addedMassG);
    j.field("diaphragmDiameterMm", s.diaphragmDiameterMm);
    j.field("micSensitivityMvPerPa", s.micSensitivityMvPerPa);
    j.field("boxVolumeL", s.boxVolumeL);
    j.field("levelCount", s.levelCount);
    j.field("levelCalculation", s.levelCalculation);
    j.field("levelWindow", s.levelWindow);
    j.field("levelWeighting", s.levelWeighting);
    j.field("levelMethod", s.levelMethod);
    j.field("levelCountLimited", s.levelCountLimited);
    j.field("sumMode", s.sumMode);
    j.field("levelAveraging", s.levelAveraging);
    j.close('}');
    j.key("display");
    j.open('{');
    j.key("colors");
    j.open('[');
    for (std::uint32_t c : d.colors)
        j.number(static_cast<long long>(c));
    j.close(']');
    j.field("lineWidth", d.lineWidth);
    j.field("showPhase", d.showPhase);
    j.field("showAmplitude", d.showAmplitude);
    j.field("showImpedancePhase", d.showImpedancePhase);
    j.field("showImpedance", d.showImpedance);
    j.field("showStepResponse", d.showStepResponse);
    j.field("showTimeSignal", d.showTimeSignal);
    j.field("levelDisplayMode", d.levelDisplayMode);
    array(j, "observer", d.observer);
    j.field("projectionPlaneZ", d.projectionPlaneZ);
    j.key("axisSets");
    j.open('[');
    for (const core::AxisSet& a : d.axisSets) {
        j.open('{');
        j.key("name");
        j.string(core::cp1252ToUtf8(a.name.data(), a.name.size()));
        j.field("x", a.x);
        j.field("y", a.y);
        j.field("z", a.z);
        j.close('}');
    }
    j.close(']');
    j.close('}');
}

int runInfo(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 1)
        return tool::usageError("info nimmt ein Argument: DATEI (.mes oder .cfg)");
    if (const int bad = tool::checkOptions(ctx, false); bad != tool::kExitOk)
        return bad;
    const std::string& path = ctx.args[0];
    long long length = 0;
    const bool exists = files::fileLength(path, length);
    // The kind comes from the extension; without a known one, from the length.
    const std::string ext = tool::extensionOf(path);
    const bool configuration =
        ext == "cfg" ||
        (ext != "mes" && exists && length == static_cast<long long>(files::kConfigurationFileSize));
    // Measurement files of the two older layouts are read with their importers, on top of
    // the records as they are after start-up, as the program would import them.
    const char* layout = "current";
    int rc = tool::kExitOk;
    if (configuration) {
        rc = tool::loadConfigurationForTool(path);
    } else if (exists && (length == static_cast<long long>(files::kVersion133FileSize) ||
                          length == static_cast<long long>(files::kVersion21FileSize))) {
        const bool v133 = length == static_cast<long long>(files::kVersion133FileSize);
        layout = v133 ? "1.33" : "2.1";
        core::prepareRecordsForStart();
        const files::FileStatus s =
            v133 ? files::importVersion133File(path) : files::importVersion21File(path);
        if (s == files::FileStatus::Loaded) {
            core::restoreSnapshot();
        } else {
            files::showReadFailure();
            rc = tool::kExitFailed;
        }
    } else {
        rc = tool::loadMeasurementForTool(path);
    }
    if (rc != tool::kExitOk)
        return rc;
    Json j;
    j.open('{');
    j.key("kind");
    j.string(configuration ? "configuration" : "measurement");
    j.key("bytes");
    j.number(length);
    if (!configuration) {
        j.key("layout");
        j.string(layout);
    }
    if (configuration)
        configurationJson(j);
    else
        measurementJson(j);
    j.close('}');
    std::printf("%s\n", j.out.c_str());
    return tool::kExitOk;
}

const bool registered = tool::registerCommand(
    {"info",
     "  info FILE                            JSON summary of a .mes (current layout, or 1.33 and\n"
     "                                       2.1 by their lengths, read with the importers;\n"
     "                                       \"layout\" says which) or of a .cfg;\n"
     "                                       \"distortion\" says whether a .mes holds the\n"
     "                                       distortion curves of a sweep (points, range)",
     runInfo});

} // namespace
