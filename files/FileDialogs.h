// The open and save dialogs of every file command: filter "(*.ext)" with pattern "*.ext",
// initial folder installFolder; save dialogs with create-prompt.
#pragma once

#include "files/FileIo.h"

#include <string>

namespace files
{

// `titleId` is the string number of the dialog title; false when the user cancelled.
bool openDialog(int titleId, const char* extension, std::string& path);
bool saveDialog(int titleId, const char* extension, std::string& path);
// The same dialog with a title text (UTF-8), for commands whose titles aren't in the string
// table.
bool fileDialog(bool save, const std::string& title, const char* extension, std::string& path);

// The messages of a failed save and of a file that can't be opened: the caption is the
// program's message (string `captionId`), the text names the file and the system's reason.
// Saves that went through show nothing.
void showSaveFailure(const std::string& path, const SaveResult& result, int captionId = 27);
void showOpenFailure(const std::string& path, int captionId = 29);

} // namespace files
