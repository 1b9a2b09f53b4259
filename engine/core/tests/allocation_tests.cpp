// The frame step allocates nothing once it runs steadily: every C++ allocation is counted here.
#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/core/tests/CoreFixture.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using AllocationTest = CoreFixture;

// A layer with a viewport drawn by the scene, the 2D pass and the statistics page, with input every frame.
TEST_F(AllocationTest, SteadyFramesAllocateNothing) {
    int layerId = createLayer(*core, nullptr);
    Layer& layer = *layerById(*core, layerId);
    sdk::ViewportRecord viewport{};
    viewport.flags = sdk::kViewportRect;
    viewport.screenRect = {0, 0, 800, 600};
    addViewport(layer, &viewport);
    core->renderFlags = kRenderScene | kRender2D | kRenderOverlay;
    core->overlayMode = 1;
    for (int i = 0; i < 5; ++i) {
        now += 16;
        core->queueInput(win::WM_MOUSEMOVE, 0, 10 << 16 | 20);
        core->frame();
    }
    const long before = g_allocations.load();
    for (int i = 0; i < 20; ++i) {
        now += 16;
        core->queueInput(win::WM_MOUSEMOVE, 0, 10 << 16 | 20);
        core->frame();
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
}

} // namespace
