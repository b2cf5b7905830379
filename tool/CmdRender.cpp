#include "tool/ToolSupport.h"

#include "plot/Render.h"
#include "plot/SvgCanvas.h"
#ifdef ORVO_HAVE_IMAGE_WRITER
#include "tool/ImageWriter.h"
#endif

#include <cstdio>

namespace {

bool parseSize(const std::string& text, int& width, int& height)
{
    int w = 0, h = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X'))
        return false;
    // Large enough to read, small enough that one image fits in memory comfortably.
    if (w < 16 || h < 16 || w > 16000 || h > 16000)
        return false;
    width = w;
    height = h;
    return true;
}

int runRender(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3)
        return tool::usageError("render takes three arguments: VIEW FILE.mes OUT");
    const std::string& v = ctx.args[0];
    int view = -1;
    if (v.size() <= 2 && !v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
        view = std::stoi(v);
    if (!((view >= 0 && view <= 8) || view == 11))
        return tool::usageError("render: VIEW must be 0..8 or 11");
    const std::string& out = ctx.args[2];
    const std::string ext = tool::extensionOf(out);
    if (ext != "svg" && ext != "png" && ext != "pdf")
        return tool::usageError("render: OUT must end in .svg, .png or .pdf");
#ifndef ORVO_HAVE_IMAGE_WRITER
    if (ext != "svg")
        return tool::usageError("render: this build writes SVG only (built without Qt)");
#endif
    int width = 1200, height = 1200;
    if (auto it = ctx.options.find("size"); it != ctx.options.end()) {
        if (!parseSize(it->second, width, height))
            return tool::usageError("render: --size takes WxH, 16..16000 each");
        ctx.options.erase(it);
    }
    if (!ctx.options.empty())
        return tool::usageError("render: unknown option --" + ctx.options.begin()->first);
    if (!ctx.inPath.empty())
        return tool::usageError("render: give the measurement file as FILE.mes, not with --in");
    ctx.inPath = ctx.args[1];
    const int rc = tool::applyCommonOptions(ctx);
    if (rc != tool::kExitOk)
        return rc;

    // As after loading a file in the program: every picture is rendered anew.
    plot::renderView(100);

    std::string bytes;
    if (ext == "svg") {
        plot::SvgCanvas svg(width, height);
        plot::replayView(svg, view, 0, 0, width, height);
        bytes = svg.finish();
    }
#ifdef ORVO_HAVE_IMAGE_WRITER
    std::string error;
    if (ext != "svg" && !(ext == "png" ? tool::renderPng(view, width, height, bytes, error)
                                       : tool::renderPdf(view, width, height, bytes, error))) {
        std::fprintf(stderr, "orvo-tool: %s\n", error.c_str());
        return tool::kExitFailed;
    }
#endif
    // Saved as the program's own files are: a full disk leaves the earlier picture intact.
    return tool::saveStatus(
        files::writeFileReplacing(out, reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size()),
        out);
}

const bool registered = tool::registerCommand(
    {"render",
     "  render VIEW FILE.mes OUT             draw a view as SVG, PNG or PDF; VIEW 0..8 or 11\n"
     "                                       (11: time, amplitude and impedance side by side);\n"
     "                                       --size WxH in pixels (default 1200x1200),\n"
     "                                       --config for colours, scales and flags",
     runRender});

} // namespace
