#include "tool/ToolSupport.h"

#include "files/ConfigurationFile.h"
#include "files/MeasurementFile.h"

namespace {

int runResave(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 2)
        return tool::usageError("resave nimmt zwei Argumente: EIN AUS");
    const std::string& in = ctx.args[0];
    const std::string& out = ctx.args[1];
    const std::string ext = tool::extensionOf(in);
    if (ext != "mes" && ext != "cfg")
        return tool::usageError("resave: EIN muss auf .mes oder .cfg enden");
    if (const int bad = tool::checkOptions(ctx, false); bad != tool::kExitOk)
        return bad;
    files::WriteStatus s = files::WriteStatus::WriteFailed;
    if (ext == "mes") {
        if (files::readMeasurementFile(in) != files::FileStatus::Loaded) {
            files::showReadFailure();
            return tool::kExitFailed;
        }
        s = files::writeMeasurementFile(out);
    } else {
        if (files::readConfigurationFile(in) != files::FileStatus::Loaded) {
            files::showReadFailure();
            return tool::kExitFailed;
        }
        s = files::writeConfigurationFile(out);
    }
    return tool::saveStatus(s, out);
}

const bool registered = tool::registerCommand(
    {"resave",
     "  resave IN OUT                        load IN (.mes or .cfg) and save it to OUT", runResave});

} // namespace
