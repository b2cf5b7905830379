// The open and save dialogs of every file command: filter "(*.ext)" with pattern "*.ext",
// initial folder installFolder; save dialogs with create-prompt.
#pragma once

#include <string>

namespace files {

// `titleId` is the string number of the dialog title; false when the user cancelled.
bool openDialog(int titleId, const char* extension, std::string& path);
bool saveDialog(int titleId, const char* extension, std::string& path);
// The same dialog with a title text (UTF-8), for commands whose titles aren't in the string
// table.
bool fileDialog(bool save, const std::string& title, const char* extension, std::string& path);

} // namespace files
