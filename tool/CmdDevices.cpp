// orvo-tool devices: the audio devices a sound-card measurement can use, as JSON.
#include "tool/ToolSupport.h"

#include "box/SoundCard.h"

#include <cstdio>

namespace {

int runDevices(tool::ToolContext& ctx)
{
    if (!ctx.args.empty())
        return tool::usageError("devices nimmt keine Argumente");
    if (const int bad = tool::checkOptions(ctx, false); bad != tool::kExitOk)
        return bad;
    std::fputs(box::audioDevicesJson(box::listAudioDevices()).c_str(), stdout);
    return tool::kExitOk;
}

const bool registered = tool::registerCommand(
    {"devices",
     "  devices                              the audio devices as JSON (index, name, host API,\n"
     "                                       input and output channels, default rate)",
     runDevices});

} // namespace
