#include "files/FileDialogs.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"

namespace files
{

bool fileDialog(bool save, const std::string& title, const char* extension, std::string& path)
{
    core::FileDialogRequest r;
    r.save = save;
    r.title = title;
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

bool openDialog(int titleId, const char* extension, std::string& path)
{
    return fileDialog(false, core::str(titleId), extension, path);
}

bool saveDialog(int titleId, const char* extension, std::string& path)
{
    return fileDialog(true, core::str(titleId), extension, path);
}

void showSaveFailure(const std::string& path, const SaveResult& result, int captionId)
{
    if (result.status != WriteStatus::Written)
        core::messageText(saveFailureText(path, result), core::str(captionId), core::Icon::Error);
}

void showOpenFailure(const std::string& path, int captionId)
{
    core::messageText(openFailureText(path), core::str(captionId), core::Icon::Error);
}

} // namespace files
