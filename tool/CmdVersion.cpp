#include "tool/ToolSupport.h"

#include <cstdio>

namespace {

int runVersion(tool::ToolContext& ctx)
{
    if (!ctx.args.empty())
        return tool::usageError("version nimmt keine Argumente");
    if (const int bad = tool::checkOptions(ctx, false); bad != tool::kExitOk)
        return bad;
    std::printf("OrvoPro 2.3 (orvo-tool)\n");
    return tool::kExitOk;
}

const bool registered = tool::registerCommand(
    {"version", "  version                              print the program version", runVersion});

} // namespace
