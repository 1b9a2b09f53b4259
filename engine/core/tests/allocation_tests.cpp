// The frame step allocates nothing once it runs steadily: every C++ allocation is counted here.
#include "engine/core/tests/CoreFixture.h"
#include "platform/tests/CountingNew.h"

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
    const long before = countingnew::allocations.load();
    for (int i = 0; i < 20; ++i) {
        now += 16;
        core->queueInput(win::WM_MOUSEMOVE, 0, 10 << 16 | 20);
        core->frame();
    }
    EXPECT_EQ(countingnew::allocations.load() - before, 0);
}

} // namespace
