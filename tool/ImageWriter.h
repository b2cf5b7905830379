// PNG and PDF output of the diagrams through QtGui (the only Qt use of orvo-tool).
#pragma once

#include <string>

namespace tool {

// Draws view `kind` (0..9 or 11) as a PNG or PDF file of width x height pixels (points for
// PDF), composed as the main window paints it, into `bytes`; the caller saves them. Returns
// false with a reason in `error`.
bool renderPng(int kind, int width, int height, std::string& bytes, std::string& error);
bool renderPdf(int kind, int width, int height, std::string& bytes, std::string& error);

} // namespace tool
