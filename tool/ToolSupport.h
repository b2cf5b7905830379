// Helpers shared by the orvo-tool commands that work on the records.
#pragma once

#include "tool/ToolCommand.h"

#include "files/FileIo.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace tool
{

// Applies the common options in this order: --config FILE.cfg (configuration loader),
// --in FILE.mes (measurement loader, then restoreSnapshot as after a load from the menu),
// then every --set FIELD=VALUE on the measurement settings. Returns kExitOk to go on,
// kExitFailed when a file could not be loaded (the German messages went to stderr),
// kExitUsage for an unknown field or a value that is not a number.
int applyCommonOptions(ToolContext& ctx);

// Loads a measurement file as the shell does: restoreSnapshot on success, message 116 on
// failure. Returns kExitOk or kExitFailed.
int loadMeasurementForTool(const std::string& path);
int loadConfigurationForTool(const std::string& path);

// Sets one MeasurementSettings field by its name ("fftLength", "markerPos[0]", ...).
// Returns false (with a German message in `error`) for an unknown field, a text that is not
// a number or a value outside the range the field's dialog allows.
bool setSettingsField(const std::string& assignment, std::string& error);
// kExitUsage (with the message) when one of the --set assignments would be refused; nothing
// is changed.
int checkSettingsAssignments(const ToolContext& ctx);
// The names setSettingsField accepts, in record order.
std::vector<std::string> settingsFieldNames();

// kExitUsage (with a message) when the command line holds an option the command does not
// take: `common` says whether --config, --in and --set are taken, `extra` names the
// command's own options (without the dashes). --answers is always taken.
int checkOptions(const ToolContext& ctx, bool common,
                 std::initializer_list<const char*> extra = {});

// The exit status after a save: kExitOk when the file was written. The program's own save
// functions have shown the message that names the file and the reason already; the second
// form shows it for a bare files::saveReplacing.
int saveStatus(files::WriteStatus status, const std::string& path);
int saveStatus(const files::SaveResult& result, const std::string& path);

// Holds SIGINT, SIGTERM and SIGHUP back while a measurement runs and its file is saved: a
// long run stops between two of its steps (stopSignal) and a save is never cut off. The
// mask before is restored at the end; a signal still held then takes its usual effect.
class HeldStopSignals
{
public:
    HeldStopSignals();
    ~HeldStopSignals();
    HeldStopSignals(const HeldStopSignals&) = delete;
    HeldStopSignals& operator=(const HeldStopSignals&) = delete;

private:
    unsigned char saved_[128]; // the signal mask before (a sigset_t)
};

// The stop signal that has arrived while they are held (and takes it), 0 when none.
int takeStopSignal();

// Lower-case extension without the dot ("mes", "cfg"), "" when there is none.
std::string extensionOf(const std::string& path);

} // namespace tool
