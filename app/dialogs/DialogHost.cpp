#include "app/dialogs/DialogHost.h"

#include <QColorDialog>

#include <atomic>

namespace app::dialogs {

namespace {

HelpHandler g_help;
HardwareNumberProvider g_hardwareNumber;
RenderHandler g_render;
ColorChooser g_colorChooser;
LevelWorkerHooks g_level;

// Flags used when no worker is wired in, so the dialog still behaves sensibly.
std::atomic<int> g_standInRunning{0};

LevelWorkerHooks standInLevelHooks()
{
    LevelWorkerHooks h;
    h.running = [] { return g_standInRunning.load(); };
    h.setRunning = [](int v) { g_standInRunning.store(v); };
    h.requestExit = [] {};
    h.finished = [] { return true; };
    return h;
}

} // namespace

void setHelpHandler(HelpHandler handler) { g_help = std::move(handler); }

void showHelp(const QString& keyword)
{
    if (g_help)
        g_help(keyword);
}

void setHardwareNumberProvider(HardwareNumberProvider provider)
{
    g_hardwareNumber = std::move(provider);
}

int hardwareNumber() { return g_hardwareNumber ? g_hardwareNumber() : 0; }

void setRenderHandler(RenderHandler handler) { g_render = std::move(handler); }

void renderView(int code)
{
    if (g_render)
        g_render(code);
}

void setColorChooser(ColorChooser chooser) { g_colorChooser = std::move(chooser); }

QColor chooseColor(const QColor& initial, QWidget* parent)
{
    if (g_colorChooser)
        return g_colorChooser(initial, parent);
    // The custom colours are not kept from one choice to the next.
    for (int i = 0; i < QColorDialog::customCount(); ++i)
        QColorDialog::setCustomColor(i, Qt::white);
    const QColor c = QColorDialog::getColor(initial, parent);
    return c.isValid() ? c : initial;
}

void setLevelWorkerHooks(LevelWorkerHooks hooks)
{
    const LevelWorkerHooks standIn = standInLevelHooks();
    if (!hooks.running)
        hooks.running = standIn.running;
    if (!hooks.setRunning)
        hooks.setRunning = standIn.setRunning;
    if (!hooks.requestExit)
        hooks.requestExit = standIn.requestExit;
    if (!hooks.finished)
        hooks.finished = standIn.finished;
    g_level = std::move(hooks);
}

LevelWorkerHooks& levelWorkerHooks()
{
    if (!g_level.running)
        g_level = standInLevelHooks();
    return g_level;
}

void resetDialogHost()
{
    g_help = nullptr;
    g_hardwareNumber = nullptr;
    g_render = nullptr;
    g_colorChooser = nullptr;
    g_standInRunning = 0;
    g_level = standInLevelHooks();
}

} // namespace app::dialogs
