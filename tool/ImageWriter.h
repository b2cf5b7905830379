// PNG and PDF output of the diagrams through QtGui (the only Qt use of orvo-tool).
#pragma once

#include <string>

namespace tool {

// Writes view `kind` (0..8 or 11) into a PNG or PDF file of width x height pixels (points
// for PDF), composed as the main window paints it. Returns false with a reason in `error`.
bool writePng(int kind, const std::string& path, int width, int height, std::string& error);
bool writePdf(int kind, const std::string& path, int width, int height, std::string& error);

} // namespace tool
