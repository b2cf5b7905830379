#include "tool/ToolSupport.h"

#include "plot/Render.h"
#include "plot/SvgCanvas.h"
#ifdef ORVO_HAVE_IMAGE_WRITER
#include "tool/ImageWriter.h"
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace
{

bool parseSize(const std::string& text, int& width, int& height)
{
    int w = 0, h = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X'))
        return false;
    if (w < plot::kMinPictureSide || h < plot::kMinPictureSide || w > plot::kMaxPictureSide ||
        h > plot::kMaxPictureSide)
        return false;
    width = w;
    height = h;
    return true;
}

#if !defined(ORVO_HAVE_IMAGE_WRITER) && defined(ORVO_IMAGE_HELPER)
// PNG and PDF need QtGui, which orvo-tool does not load: the same command line goes to the
// image helper beside the program, which takes the process over.
int runImageHelper(const tool::ToolContext& ctx)
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string helper = (self.parent_path() / ORVO_IMAGE_HELPER).string();
    std::vector<std::string> words = ctx.commandLine;
    if (words.empty())
        words.emplace_back("orvo-tool");
    words[0] = helper;
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    if (!ec)
        ::execv(helper.c_str(), argv.data());
    std::fprintf(stderr,
                 "orvo-tool: PNG und PDF schreibt %s, das nicht gestartet werden kann: „%s“ (%s)\n",
                 ORVO_IMAGE_HELPER, helper.c_str(),
                 files::systemReasonText(ec ? ec.value() : errno).c_str());
    return tool::kExitFailed;
}
#endif

int runRender(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3)
        return tool::usageError("render nimmt drei Argumente: ANSICHT DATEI.mes AUS");
    const std::string& v = ctx.args[0];
    int view = -1;
    if (v.size() <= 2 && !v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
        view = std::stoi(v);
    if (!((view >= 0 && view <= 9) || view == 11))
        return tool::usageError("render: ANSICHT muss 0 bis 9 oder 11 sein");
    const std::string& out = ctx.args[2];
    const std::string ext = tool::extensionOf(out);
    if (ext != "svg" && ext != "png" && ext != "pdf")
        return tool::usageError("render: AUS muss auf .svg, .png oder .pdf enden");
#if !defined(ORVO_HAVE_IMAGE_WRITER) && !defined(ORVO_IMAGE_HELPER)
    if (ext != "svg")
        return tool::usageError("render: diese Fassung schreibt nur SVG (ohne Qt gebaut)");
#endif
    int width = 1200, height = 1200;
    if (auto it = ctx.options.find("size"); it != ctx.options.end()) {
        if (!parseSize(it->second, width, height))
            return tool::usageError("render: --size nimmt BxH in Pixeln, je 16 bis 8192, nicht „" +
                                    it->second + "“");
        ctx.options.erase(it);
    }
    if (!ctx.options.empty())
        return tool::usageError("render: unbekannte Option --" + ctx.options.begin()->first);
    if (!ctx.inPath.empty())
        return tool::usageError("render: die Messdatei als DATEI.mes angeben, nicht mit --in");
#if !defined(ORVO_HAVE_IMAGE_WRITER) && defined(ORVO_IMAGE_HELPER)
    if (ext != "svg") {
        if (const int bad = tool::checkSettingsAssignments(ctx); bad != tool::kExitOk)
            return bad;
        return runImageHelper(ctx);
    }
#endif
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
        files::saveReplacing(out, reinterpret_cast<const unsigned char*>(bytes.data()),
                             bytes.size()),
        out);
}

const bool registered = tool::registerCommand(
    {"render",
     "  render VIEW FILE.mes OUT             draw a view as SVG, PNG or PDF; VIEW 0..9 or 11\n"
     "                                       (9: harmonic distortion of a sweep; 11: time,\n"
     "                                       amplitude and impedance side by side);\n"
     "                                       --size WxH in pixels (default 1200x1200),\n"
     "                                       --config for colours, scales and flags",
     runRender});

} // namespace
