#include "tool/ToolSupport.h"

#include "files/ConfigurationFile.h"
#include "files/FileDialogs.h"
#include "files/MeasurementFile.h"

#include "core/Settings.h"
#include "core/SettingsFields.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <signal.h>

namespace tool
{

std::vector<std::string> settingsFieldNames()
{
    std::vector<std::string> names;
    for (const core::SettingsFieldRange& f : core::settingsFieldRanges())
        names.emplace_back(f.name);
    return names;
}

bool setSettingsField(const std::string& assignment, std::string& error)
{
    const auto eq = assignment.find('=');
    if (eq == std::string::npos) {
        error = "--set braucht FELD=WERT, nicht „" + assignment + "“";
        return false;
    }
    const core::FieldAssignment r =
        core::assignSettingsField(core::settings(), std::string_view(assignment).substr(0, eq),
                                  std::string_view(assignment).substr(eq + 1));
    error = r.message;
    return r.check == core::FieldCheck::Ok;
}

int checkSettingsAssignments(const ToolContext& ctx)
{
    core::MeasurementSettings scratch = core::settings();
    std::string error;
    for (const std::string& a : ctx.sets) {
        const auto eq = a.find('=');
        if (eq == std::string::npos)
            return usageError("--set braucht FELD=WERT, nicht „" + a + "“");
        const core::FieldAssignment r = core::assignSettingsField(
            scratch, std::string_view(a).substr(0, eq), std::string_view(a).substr(eq + 1));
        if (r.check != core::FieldCheck::Ok)
            return usageError(r.message);
    }
    return kExitOk;
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
            return usageError("dieser Befehl nimmt kein --config");
        if (!ctx.inPath.empty())
            return usageError("dieser Befehl nimmt kein --in");
        if (!ctx.sets.empty())
            return usageError("dieser Befehl nimmt kein --set");
    }
    for (const auto& [key, value] : ctx.options) {
        (void)value;
        bool known = false;
        for (const char* e : extra)
            known = known || key == e;
        if (!known)
            return usageError("unbekannte Option --" + key + " (siehe --help)");
    }
    return kExitOk;
}

int saveStatus(files::WriteStatus status, const std::string& path)
{
    (void)path;
    return status == files::WriteStatus::Written ? kExitOk : kExitFailed;
}

int saveStatus(const files::SaveResult& result, const std::string& path)
{
    files::showSaveFailure(path, result);
    return saveStatus(result.status, path);
}

namespace
{
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

static_assert(sizeof(sigset_t) <= 128, "the saved signal mask must fit");

HeldStopSignals::HeldStopSignals()
{
    const sigset_t set = stopSignals();
    sigset_t old;
    sigemptyset(&old);
    sigprocmask(SIG_BLOCK, &set, &old);
    std::memcpy(saved_, &old, sizeof old);
}

HeldStopSignals::~HeldStopSignals()
{
    sigset_t old;
    std::memcpy(&old, saved_, sizeof old);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

int takeStopSignal()
{
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0)
        return 0;
    const sigset_t set = stopSignals();
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigismember(&pending, sig) == 1 && sigismember(&set, sig) == 1) {
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, sig);
            int got = 0;
            sigwait(&one, &got);
            return got;
        }
    }
    return 0;
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
    // Unknown fields and values out of range are found before any file is touched.
    if (const int bad = checkSettingsAssignments(ctx); bad != kExitOk)
        return bad;
    std::string error;

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
