#include "box/Render.h"

#include <atomic>

namespace box {

namespace {
// Read by the level worker as well, hence atomic.
std::atomic<RenderFunction> g_render{nullptr};
} // namespace

void setRenderFunction(RenderFunction fn) { g_render.store(fn); }

void renderView(int code)
{
    if (RenderFunction fn = g_render.load())
        fn(code);
}

} // namespace box
