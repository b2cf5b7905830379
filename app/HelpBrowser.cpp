#include "app/HelpBrowser.h"

#include "core/Strings.h"
#include "core/Ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdlib>

#ifndef ORVO_HELP_SOURCE_DIR
#define ORVO_HELP_SOURCE_DIR ""
#endif

namespace app {

namespace {
struct Keyword {
    const char* keyword;
    const char* target;
};

// The keywords the dialogs and windows ask for, and where their text stands.
constexpr Keyword kKeywords[] = {
    {"Hauptfenster", "hauptfenster.html"},
    {"Fenster Zoom", "zoom.html"},
    {"Klirrfaktor", "klirrfaktor.html"},
    {"Dialog Meßsystem", "messsystem.html"},
    {"Dialog Soundkarte", "soundkarte.html"},
    {"Dialog Signalbearbeitung", "signalbearbeitung.html"},
    {"Dialog Einstellungen Skalen", "skalen.html"},
    {"Dialog Einstellungen Farben", "farben.html"},
    {"Dialog Einstellungen Postion Beobachter", "beobachter.html"},
    {"Dialog Text eingeben", "text.html"},
    {"Dialog Info", "info.html"},
    {"Dialog Gleichstromwiderstand", "gleichstrom.html"},
    {"Dialog Pegel Messungen", "pegel.html"},
    {"Messungen", "messungen.html"},
    {"Dateien", "dateien.html"},
    {"Dialog Diagramm speichern", "dateien.html#Diagramm"},
};

QPointer<HelpBrowser> g_window;
} // namespace

QString helpFolder()
{
    QStringList candidates;
    if (const char* env = std::getenv("ORVO_HELP_DIR"))
        candidates << QString::fromLocal8Bit(env);
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/help");
    candidates << QString::fromUtf8(ORVO_HELP_SOURCE_DIR);
    for (const QString& c : candidates)
        if (!c.isEmpty() && QFileInfo::exists(c + QStringLiteral("/index.html")))
            return QDir(c).absolutePath();
    return {};
}

QString helpTarget(const std::string& keyword)
{
    for (const Keyword& k : kKeywords)
        if (keyword == k.keyword)
            return QString::fromUtf8(k.target);
    return QStringLiteral("index.html");
}

HelpBrowser::HelpBrowser(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser)
{
    setWindowTitle(QStringLiteral("OrvoPro Hilfe"));
    resize(640, 520);
    auto* back = new QPushButton(QStringLiteral("&Zurück"));
    auto* home = new QPushButton(QStringLiteral("&Inhalt"));
    auto* close = new QPushButton(QStringLiteral("&Schließen"));
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(home, &QPushButton::clicked, browser_, &QTextBrowser::home);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(home);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_);
    browser_->setOpenExternalLinks(false);
    // Esc closes the help as it closes a dialog.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void HelpBrowser::showTarget(const QString& folder, const QString& target)
{
    browser_->setSearchPaths({folder});
    // The start page first, so "Inhalt" leads back to it.
    browser_->setSource(QUrl::fromLocalFile(folder + QStringLiteral("/index.html")));
    if (target != QStringLiteral("index.html")) {
        // A target "page.html#anchor" is a page and a place on it, not a file of that name.
        QUrl page = QUrl::fromLocalFile(folder + QLatin1Char('/') +
                                        target.section(QLatin1Char('#'), 0, 0));
        if (target.contains(QLatin1Char('#')))
            page.setFragment(target.section(QLatin1Char('#'), 1));
        browser_->setSource(page);
    }
}

void showHelp(QWidget* owner, const std::string& keyword, HelpCaller caller)
{
    const QString folder = helpFolder();
    if (folder.isEmpty()) {
        const QString where =
            QCoreApplication::instance()
                ? QCoreApplication::applicationDirPath() + QStringLiteral("/help/index.html")
                : QStringLiteral("help/index.html");
        // The menu names the problem and the place; the dialogs' F1 shows the place as the
        // text under the problem as caption, as the program always did.
        if (caller == HelpCaller::Dialog)
            core::messageText(where.toStdString(), core::str(75), core::Icon::Information);
        else
            core::messageText(std::string(core::str(75)) + where.toStdString(), core::str(90),
                              core::Icon::Information);
        return;
    }
    // While a modal dialog runs (F1 in a dialog), every window but the dialog's own is
    // blocked: a help window of the main window could not be clicked, scrolled or closed. It
    // belongs to the dialog while the dialog is open and goes back to the main window when
    // the dialog closes, staying where and as it is.
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* parent = modal ? modal : owner;
    if (!g_window) {
        g_window = new HelpBrowser(parent);
    } else if (g_window->parentWidget() != parent) {
        const QRect geometry = g_window->geometry();
        g_window->setParent(parent, Qt::Window);
        g_window->setGeometry(geometry);
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog != owner) {
        QPointer<QWidget> back(owner);
        QObject::connect(
            dialog, &QDialog::finished, g_window.data(),
            [back] {
                if (!g_window || !back || g_window->parentWidget() == back)
                    return;
                const bool visible = g_window->isVisible();
                const QRect geometry = g_window->geometry();
                g_window->setParent(back, Qt::Window);
                g_window->setGeometry(geometry);
                if (visible)
                    g_window->show();
            },
            Qt::SingleShotConnection);
    }
    g_window->showTarget(folder, helpTarget(keyword));
    g_window->show();
    g_window->raise();
    g_window->activateWindow();
}

} // namespace app
