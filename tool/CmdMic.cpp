#include "tool/ToolSupport.h"

#include "files/ConfigurationFile.h"
#include "files/MicFile.h"

#include "core/Startup.h"

#include <cstdio>

namespace {

// Spreads a microphone file onto the correction tables of the configuration (--config as
// the starting point, else the records as they are after start-up) and saves the
// configuration. The summary that the
// program shows in a box goes to stdout.
int runMic(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 2)
        return tool::usageError("mic nimmt zwei Argumente: DATEI.mic AUS.cfg");
    if (const int bad = tool::checkOptions(ctx, true); bad != tool::kExitOk)
        return bad;
    core::prepareRecordsForStart();
    const int rc = tool::applyCommonOptions(ctx);
    if (rc != tool::kExitOk)
        return rc;
    std::string summary;
    if (files::readMicFile(ctx.args[0], false, &summary) != files::MicStatus::Read)
        return tool::kExitFailed;
    std::printf("%s\n", summary.c_str());
    return tool::saveStatus(files::writeConfigurationFile(ctx.args[1]), ctx.args[1]);
}

const bool registered = tool::registerCommand(
    {"mic",
     "  mic FILE.mic OUT.cfg                 import a microphone file into a configuration\n"
     "                                       (--config as the start); summary on stdout",
     runMic});

} // namespace
