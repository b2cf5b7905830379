#include "tool/ToolSupport.h"

#include "files/Import.h"
#include "files/MeasurementFile.h"

#include "core/Settings.h"
#include "core/Startup.h"

namespace {

// Imports an older measurement file as the menu command does (import, snapshot restore) and
// saves the result in the current layout. The records start as the program has them after
// start-up: what the import leaves alone (the overlay axis of a version-2.1 import, for one)
// keeps its start-up value, unless --in gives a measurement file to start from.
int runImport(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3)
        return tool::usageError("import takes three arguments: VERSION OLD OUT.mes");
    const std::string& version = ctx.args[0];
    if (version != "1.33" && version != "2.1")
        return tool::usageError("import: VERSION is 1.33 or 2.1");
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
     "                                       and save it in the current layout",
     runImport});

} // namespace
