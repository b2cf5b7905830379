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

namespace tool
{

namespace
{

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
    // A diagram is mostly flat colour: zlib's fastest level packs a screen-size picture
    // nearly as small as its default level in a fraction of the time. (Qt maps quality 80
    // to level 1.) Pictures larger than a screen keep the default level.
    constexpr qint64 kScreenPixels = 2560LL * 1600LL;
    const int quality = static_cast<qint64>(width) * height <= kScreenPixels ? 80 : -1;
    if (!image.save(&buffer, "PNG", quality)) {
        error = "das PNG-Bild kann nicht erzeugt werden";
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
        error = "das PDF-Dokument kann nicht gezeichnet werden";
        return false;
    }
    bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return true;
}

} // namespace tool
