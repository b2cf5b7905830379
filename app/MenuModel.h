// The menus of the main window (menu 103) and of the zoom window (menu 131), and the
// toolbar, as data: the Qt windows build themselves from these tables.
#pragma once

#include <string>
#include <vector>

namespace app {

struct MenuEntry {
    enum class Kind { Command, Separator, Popup };
    Kind kind = Kind::Command;
    std::string text; // UTF-8, '&' marks the mnemonic, "&&" is a literal '&'
    int id = 0;       // command id (0 for popups and separators)
    std::vector<MenuEntry> items;
};

// Top-level entries from left to right; a top-level Command acts directly from the bar.
const std::vector<MenuEntry>& mainMenu();
const std::vector<MenuEntry>& zoomMenu();

struct ToolbarEntry {
    int image;     // index into the image strip; -1 for a separator
    int id;        // command id (0 for a separator)
    int toolTipId; // string number of the tool tip (0 for a separator)
    // The tool tip of a button newer than the string table; toolTipId is then 0.
    const char* toolTipText = nullptr;
};
const std::vector<ToolbarEntry>& toolbarEntries();

// The tool tip of a toolbar command, or nullptr for any other id.
const char* toolTipFor(int id);

// The view a toolbar button shows (1..9, 11), or 0 for a button that shows no view.
int viewOfButton(int id);

} // namespace app
