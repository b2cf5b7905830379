// The help: HTML pages shipped in resources/help, shown in a small browser window. Dialogs
// ask for their page by keyword ("Dialog Signalbearbeitung" ...); "" is the start page.
#pragma once

#include <QString>
#include <QWidget>

#include <string>

class QTextBrowser;

namespace app {

// The folder the help pages are read from (the first of: $ORVO_HELP_DIR, help/ beside the
// program, the source tree's resources/help); empty when none holds index.html.
QString helpFolder();

// Page and anchor of a keyword ("page.html#anchor"); the start page for unknown keywords.
QString helpTarget(const std::string& keyword);

class HelpBrowser : public QWidget
{
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget* parent = nullptr);
    void showTarget(const QString& folder, const QString& target);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

// Opens the help at a keyword; when the pages are missing, says where they were looked for
// (string 75 and the path, caption string 90).
void showHelp(QWidget* owner, const std::string& keyword);

} // namespace app
