// The measurement layer asks for diagrams to be re-recorded without depending on the diagram
// layer: the application and orvo-tool install the renderer at start-up.
#pragma once

namespace box {

using RenderFunction = void (*)(int code);
void setRenderFunction(RenderFunction fn); // nullptr: renders are skipped
// Re-records the picture of a view (render codes as the diagram layer takes them).
void renderView(int code);

// Render codes of the views the runs redraw.
inline constexpr int kRenderTime = 1;
inline constexpr int kRenderAmplitude = 2;
inline constexpr int kRenderAmplitudeImpedance = 3;
inline constexpr int kRenderImpedance = 4;
inline constexpr int kRenderLevel = 5;
inline constexpr int kRenderOverlay = 20;
inline constexpr int kRenderSum = 40;

} // namespace box
