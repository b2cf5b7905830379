#include "files/FileDialogs.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"

namespace files {

namespace {
bool runDialog(bool save, int titleId, const char* extension, std::string& path)
{
    core::FileDialogRequest r;
    r.save = save;
    r.title = core::str(titleId);
    r.filter = std::string("(*.") + extension + ")";
    r.pattern = std::string("*.") + extension;
    r.initialFolder = core::installFolder;
    r.createPrompt = save;
    std::string chosen;
    if (!core::ui().fileDialog(r, chosen) || chosen.empty())
        return false;
    path = chosen;
    return true;
}
} // namespace

bool openDialog(int titleId, const char* extension, std::string& path)
{
    return runDialog(false, titleId, extension, path);
}

bool saveDialog(int titleId, const char* extension, std::string& path)
{
    return runDialog(true, titleId, extension, path);
}

} // namespace files
