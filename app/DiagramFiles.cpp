#include "app/DiagramFiles.h"

#include "core/Ui.h"
#include "files/FileDialogs.h"
#include "plot/Render.h"
#include "plot/SvgCanvas.h"
#include "plot/qt/QtCanvas.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace app
{

std::optional<DiagramFormat> diagramFormatFor(const std::string& path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "png")
        return DiagramFormat::Png;
    if (ext == "svg")
        return DiagramFormat::Svg;
    if (ext == "pdf")
        return DiagramFormat::Pdf;
    return std::nullopt;
}

QSize devicePixelSize(const QSize& logical, double devicePixelRatio)
{
    const double ratio = devicePixelRatio > 0.0 ? devicePixelRatio : 1.0;
    auto side = [ratio](int v) {
        const long scaled = std::lround(v * ratio);
        return static_cast<int>(std::clamp<long>(scaled, plot::kMinPictureSide,
                                                 plot::kMaxPictureSide));
    };
    return QSize(side(logical.width()), side(logical.height()));
}

QImage diagramImage(int view, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    // Image files are made once: smooth lines, as orvo-tool draws them.
    plot::replayViewOnPainter(painter, view, QRect(0, 0, width, height), true);
    return image;
}

std::string diagramFileBytes(int view, DiagramFormat format, int width, int height)
{
    if (width < 1 || height < 1)
        return {};
    switch (format) {
    case DiagramFormat::Svg: {
        plot::SvgCanvas svg(width, height);
        plot::replayView(svg, view, 0, 0, width, height);
        return svg.finish();
    }
    case DiagramFormat::Png: {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!diagramImage(view, width, height).save(&buffer, "PNG"))
            return {};
        return bytes.toStdString();
    }
    case DiagramFormat::Pdf: {
        QByteArray bytes;
        if (!plot::viewPdf(view, width, height, QStringLiteral("OrvoPro 2.3"), bytes))
            return {};
        return bytes.toStdString();
    }
    }
    return {};
}

files::WriteStatus saveDiagramFile(int view, const std::string& path, DiagramFormat format,
                                   int width, int height)
{
    const std::string bytes = diagramFileBytes(view, format, width, height);
    if (bytes.empty()) {
        core::message(27, 0, core::Icon::Error);
        return files::WriteStatus::WriteFailed;
    }
    const files::SaveResult s = files::saveReplacing(
        path, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    files::showSaveFailure(path, s);
    return s.status;
}

} // namespace app
