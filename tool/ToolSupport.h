// Helpers shared by the orvo-tool commands that work on the records.
#pragma once

#include "tool/ToolCommand.h"

#include "files/FileIo.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace tool {

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
// Returns false (with a message in `error`) for an unknown field or a bad value.
bool setSettingsField(const std::string& assignment, std::string& error);
// The names setSettingsField accepts, in record order.
std::vector<std::string> settingsFieldNames();

// kExitUsage (with a message) when the command line holds an option the command does not
// take: `common` says whether --config, --in and --set are taken, `extra` names the
// command's own options (without the dashes). --answers is always taken.
int checkOptions(const ToolContext& ctx, bool common, std::initializer_list<const char*> extra = {});

// The exit status after a save: kExitOk when the file was written. Otherwise the tool names
// the file on stderr (beside the program's own message), so that a failing script is not
// left guessing which of its files was not saved.
int saveStatus(files::WriteStatus status, const std::string& path);

// Lower-case extension without the dot ("mes", "cfg"), "" when there is none.
std::string extensionOf(const std::string& path);

} // namespace tool
