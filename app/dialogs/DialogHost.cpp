#include "app/dialogs/DialogHost.h"

#include "box/Acquisition.h"
#include "plot/Render.h"

#include <QColorDialog>

namespace app::dialogs {

namespace {

HelpHandler g_help;
HardwareNumberProvider g_hardwareNumber;
RenderHandler g_render;
ColorChooser g_colorChooser;

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

// Without a provider the box is asked directly, as the information box always did.
int hardwareNumber()
{
    if (g_hardwareNumber)
        return g_hardwareNumber();
    return box::readHardwareNumber();
}

void setRenderHandler(RenderHandler handler) { g_render = std::move(handler); }

void renderView(int code)
{
    if (g_render)
        g_render(code);
    else
        plot::renderView(code);
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

void resetDialogHost()
{
    g_help = nullptr;
    g_hardwareNumber = nullptr;
    g_render = nullptr;
    g_colorChooser = nullptr;
}

} // namespace app::dialogs
