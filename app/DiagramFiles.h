// Pictures of a view as files and on the clipboard, drawn by the same replay as the window
// and orvo-tool's render: PNG and PDF through QPainter, SVG through the diagram layer's writer.
#pragma once

#include "files/FileIo.h"

#include <QImage>
#include <QSize>

#include <optional>
#include <string>

namespace app
{

enum class DiagramFormat { Png, Svg, Pdf };

// The format a file name asks for by its extension (case does not matter).
std::optional<DiagramFormat> diagramFormatFor(const std::string& path);

// The picture of a window area as the screen shows it: its size times the screen's device
// pixel ratio, rounded, each side within the bounds orvo-tool's render accepts.
QSize devicePixelSize(const QSize& logical, double devicePixelRatio);

// View 0..9 or 11 at width x height pixels (points for PDF), on white.
QImage diagramImage(int view, int width, int height);
// The bytes of the whole file; empty when the picture could not be made.
std::string diagramFileBytes(int view, DiagramFormat format, int width, int height);

// Writes the picture through the replacing write; message 27 when the write fails.
files::WriteStatus saveDiagramFile(int view, const std::string& path, DiagramFormat format,
                                   int width, int height);

} // namespace app
