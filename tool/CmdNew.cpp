#include "tool/ToolSupport.h"

#include "files/ConfigurationFile.h"
#include "files/MeasurementFile.h"

#include "core/Startup.h"

namespace {

// Writes what saving right after start-up would write. Common options are applied first,
// as if they were the built-in defaults; then the start-up steps run on the records.
int runNew(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 1)
        return tool::usageError("new nimmt ein Argument: AUS.mes oder AUS.cfg");
    const std::string& out = ctx.args[0];
    const std::string ext = tool::extensionOf(out);
    if (ext != "mes" && ext != "cfg")
        return tool::usageError("new: AUS muss auf .mes oder .cfg enden");
    if (const int bad = tool::checkOptions(ctx, true); bad != tool::kExitOk)
        return bad;
    const int rc = tool::applyCommonOptions(ctx);
    if (rc != tool::kExitOk)
        return rc;
    core::prepareRecordsForStart();
    const files::WriteStatus s =
        ext == "mes" ? files::writeMeasurementFile(out) : files::writeConfigurationFile(out);
    return tool::saveStatus(s, out);
}

const bool registered = tool::registerCommand(
    {"new",
     "  new OUT                              write the .mes or .cfg that saving right after\n"
     "                                       start-up writes (kind by extension)",
     runNew});

} // namespace
