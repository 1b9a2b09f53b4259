// The input queue, the engine keys and the mouse modes.
#include "engine/core/Core.h"
#include "engine/core/Diagnostics.h"
#include "platform/platform.h"

using namespace win;

int Core::queueInput(uint32_t message, uint32_t wParam, int32_t lParam) {
    if (inputCount >= kInputQueueLimit) return 0;
    inputQueue[inputCount++] = InputEvent{message, wParam, lParam};
    return 1;
}

void Core::handleEngineKeys() {
    for (; keysHandled < inputCount; ++keysHandled) {
        const InputEvent event = inputQueue[keysHandled];
        keyHandler(event.message, event.wParam, event.lParam);
    }
}

void Core::dispatchInput() {
    handleEngineKeys();
    if (halted) return; // the halt screen keeps the queue for the engine keys only
    if (logicEntity)
        for (int i = 0; i < inputCount; ++i)
            logicEntity->input(inputQueue[i].message, inputQueue[i].wParam, inputQueue[i].lParam);
    for (int position = 0; position < layers.count; ++position) {
        Layer* layer = layers.layers[position];
        if (layer->runState == kRunSuspended || layer->runState == kRunBackground) continue;
        for (int i = 0; i < inputCount; ++i)
            deliverInput(*layer, inputQueue[i].message, inputQueue[i].wParam, inputQueue[i].lParam);
    }
    emptyInputQueue();
}

int Core::keyHandler(uint32_t message, uint32_t wParam, int32_t lParam) {
    if (message == WM_KEYDOWN) {
        if (halted) {
            renderFlags = savedRenderFlags;
            halted = 0;
        }
        switch (wParam) {
        case VK_F3:
            if (readStartupDescription()) restart();
            break;
        case VK_F7: state = kStateQuit; break;
        case VK_F8: takeScreenshot(*this); break;
        case VK_OEM_3: setMouseMode(mouseMode == kMouseHeld ? kMouseFree : kMouseHeld, nullptr); break;
        default: break;
        }
    } else if (message == WM_MOUSEMOVE) {
        uint32_t packed = static_cast<uint32_t>(lParam);
        pointerPosition = {static_cast<int32_t>(packed & 0xFFFF), static_cast<int32_t>(packed >> 16)};
    } else if (message == WM_MBUTTONDOWN) {
        setMouseMode(mouseMode == kMouseFree ? kMouseHeld : kMouseFree, nullptr);
    }

    if (message == WM_KEYDOWN && plat::asyncKeyState(VK_CONTROL)) {
        switch (wParam) {
        case '0':
            // With no page shown there is nothing to leave: the saved flags were never saved.
            if (overlayMode != 0) renderFlags = savedRenderFlags;
            overlayMode = 0;
            break;
        case '1':
        case '2':
            if (overlayMode == 0) savedRenderFlags = renderFlags;
            overlayMode = wParam == '1' ? 1 : 2;
            renderFlags = kRenderOverlay;
            if (wParam == '2') computeSleepers(*this);
            break;
        default: return 1;
        }
        return 0;
    }
    return 1;
}

void Core::setMouseMode(int mode, const Point* point) {
    if (mode == kMouseMoveRequest && point) {
        pointerPosition = savedPointer = *point;
        plat::setCursorPos(window, point->x, point->y);
        emptyInputQueue();
        return;
    }
    if (point) anchor = *point;
    mouseMode = mode;
    if (mode == kMouseHeld) {
        savedPointer = pointerPosition;
    } else {
        pointerPosition = savedPointer;
        plat::setCursorPos(window, savedPointer.x, savedPointer.y);
    }
}

int Core::getMouseState(Point* out) const {
    if (out) *out = mouseMode == kMouseFree ? pointerPosition : anchor;
    return mouseMode;
}
