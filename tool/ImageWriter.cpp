#include "tool/ImageWriter.h"

#include "plot/qt/QtCanvas.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cstdlib>
#include <memory>

namespace tool {

namespace {

// Fonts need a GUI application object; without a display the offscreen platform serves.
void ensureGuiApplication()
{
    if (QGuiApplication::instance() != nullptr)
        return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "orvo-tool";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

bool renderPng(int kind, int width, int height, std::string& bytes, std::string& error)
{
    ensureGuiApplication();
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        plot::replayViewOnPainter(painter, kind, QRect(0, 0, width, height), true);
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        error = "cannot encode the PNG image";
        return false;
    }
    bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return true;
}

bool renderPdf(int kind, int width, int height, std::string& bytes, std::string& error)
{
    ensureGuiApplication();
    QByteArray data;
    if (!plot::viewPdf(kind, width, height, QStringLiteral("OrvoPro 2.3 (orvo-tool)"), data)) {
        error = "cannot draw the PDF document";
        return false;
    }
    bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return true;
}

} // namespace tool
