#include "tool/ToolSupport.h"

#include "files/ConfigurationFile.h"
#include "files/MeasurementFile.h"

#include "core/Settings.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tool {

namespace {

struct FieldRef {
    const char* name;
    int* i;
    float* f;
};

std::vector<FieldRef> fieldTable()
{
    core::MeasurementSettings& s = core::settings();
    return {
        {"parallelPort", &s.parallelPort, nullptr},
        {"window", &s.window, nullptr},
        {"smoothing", &s.smoothing, nullptr},
        {"averages", &s.averages, nullptr},
        {"markerPos[0]", &s.markerPos[0], nullptr},
        {"markerPos[1]", &s.markerPos[1], nullptr},
        {"markerDragging[0]", &s.markerDragging[0], nullptr},
        {"markerDragging[1]", &s.markerDragging[1], nullptr},
        {"sampleRate", &s.sampleRate, nullptr},
        {"dbsplSpeakerImpedanceOhm", nullptr, &s.dbsplSpeakerImpedanceOhm},
        {"fftLength", &s.fftLength, nullptr},
        {"measuringInput", &s.measuringInput, nullptr},
        {"referenceInput", &s.referenceInput, nullptr},
        {"distanceMm", &s.distanceMm, nullptr},
        {"dbsplRealDistance", &s.dbsplRealDistance, nullptr},
        {"phaseMode", &s.phaseMode, nullptr},
        {"referenceResistorOhm", nullptr, &s.referenceResistorOhm},
        {"preampGainDb", nullptr, &s.preampGainDb},
        {"referenceComputation", &s.referenceComputation, nullptr},
        {"phaseOffsetDeg", nullptr, &s.phaseOffsetDeg},
        {"stepResponse", &s.stepResponse, nullptr},
        {"micCorrection", &s.micCorrection, nullptr},
        {"micPhase0Deg", &s.micPhase0Deg, nullptr},
        {"method", &s.method, nullptr},
        {"addedMassG", nullptr, &s.addedMassG},
        {"diaphragmDiameterMm", nullptr, &s.diaphragmDiameterMm},
        {"micSensitivityMvPerPa", nullptr, &s.micSensitivityMvPerPa},
        {"boxVolumeL", nullptr, &s.boxVolumeL},
        {"levelCount", &s.levelCount, nullptr},
        {"levelCalculation", &s.levelCalculation, nullptr},
        {"levelWindow", &s.levelWindow, nullptr},
        {"levelWeighting", &s.levelWeighting, nullptr},
        {"levelMethod", &s.levelMethod, nullptr},
        {"levelCountLimited", &s.levelCountLimited, nullptr},
        {"sumMode", &s.sumMode, nullptr},
        {"levelAveraging", &s.levelAveraging, nullptr},
    };
}

} // namespace

std::vector<std::string> settingsFieldNames()
{
    std::vector<std::string> names;
    for (const FieldRef& f : fieldTable())
        names.emplace_back(f.name);
    return names;
}

bool setSettingsField(const std::string& assignment, std::string& error)
{
    const auto eq = assignment.find('=');
    if (eq == std::string::npos) {
        error = "--set needs FIELD=VALUE, got '" + assignment + "'";
        return false;
    }
    const std::string name = assignment.substr(0, eq);
    const std::string value = assignment.substr(eq + 1);
    for (const FieldRef& f : fieldTable()) {
        if (name != f.name)
            continue;
        // The tool runs in the "C" locale, so strtol/strtod read a decimal point only.
        const char* begin = value.c_str();
        char* end = nullptr;
        errno = 0;
        if (f.i != nullptr) {
            const long v = std::strtol(begin, &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || v < -2147483647L - 1 ||
                v > 2147483647L) {
                error = "--set " + name + " needs a whole number, got '" + value + "'";
                return false;
            }
            *f.i = static_cast<int>(v);
        } else {
            const double v = std::strtod(begin, &end);
            if (value.empty() || *end != '\0' || !std::isfinite(v)) {
                error = "--set " + name + " needs a number, got '" + value + "'";
                return false;
            }
            *f.f = static_cast<float>(v);
        }
        return true;
    }
    error = "--set: unknown settings field '" + name + "'";
    return false;
}

std::string extensionOf(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty() && ext[0] == '.')
        ext.erase(0, 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

int checkOptions(const ToolContext& ctx, bool common, std::initializer_list<const char*> extra)
{
    if (!common) {
        if (!ctx.configPath.empty())
            return usageError("this command takes no --config");
        if (!ctx.inPath.empty())
            return usageError("this command takes no --in");
        if (!ctx.sets.empty())
            return usageError("this command takes no --set");
    }
    for (const auto& [key, value] : ctx.options) {
        (void)value;
        bool known = false;
        for (const char* e : extra)
            known = known || key == e;
        if (!known)
            return usageError("unknown option --" + key + " (see --help)");
    }
    return kExitOk;
}

int saveStatus(files::WriteStatus status, const std::string& path)
{
    if (status == files::WriteStatus::Written)
        return kExitOk;
    if (status == files::WriteStatus::CannotCreate)
        std::fprintf(stderr, "orvo-tool: cannot create %s\n", path.c_str());
    else
        std::fprintf(stderr, "orvo-tool: cannot write %s\n", path.c_str());
    return kExitFailed;
}

int loadMeasurementForTool(const std::string& path)
{
    if (files::readMeasurementFile(path) != files::FileStatus::Loaded) {
        files::showReadFailure();
        return kExitFailed;
    }
    core::restoreSnapshot();
    return kExitOk;
}

int loadConfigurationForTool(const std::string& path)
{
    if (files::readConfigurationFile(path) != files::FileStatus::Loaded) {
        files::showReadFailure();
        return kExitFailed;
    }
    return kExitOk;
}

int applyCommonOptions(ToolContext& ctx)
{
    // Unknown fields are found before any file is touched.
    std::string error;
    const core::MeasurementSettings saved = core::settings();
    for (const std::string& a : ctx.sets) {
        if (!setSettingsField(a, error)) {
            core::settings() = saved;
            return usageError(error);
        }
    }
    core::settings() = saved;

    if (!ctx.configPath.empty()) {
        const int rc = loadConfigurationForTool(ctx.configPath);
        if (rc != kExitOk)
            return rc;
    }
    if (!ctx.inPath.empty()) {
        const int rc = loadMeasurementForTool(ctx.inPath);
        if (rc != kExitOk)
            return rc;
    }
    for (const std::string& a : ctx.sets)
        setSettingsField(a, error);
    return kExitOk;
}

} // namespace tool
