// The smallest useful logic module: its entity tells the engine the screen size it found, printed on the
// engine's console, and asks the engine to quit when Escape is pressed.
#include <sdk/Module.h>

#include <cstdio>
#include <new>

namespace {

class Greeter final : public sdk::Entity {
  public:
    int32_t init(sdk::CoreServices* services) override {
        services_ = services;
        if (services_ == nullptr) return 0;
        sdk::ScreenPoint size = {};
        if (services_->getScreenSize(&size) == nullptr) size = {0, 0};
        char text[64];
        const int length = std::snprintf(text, sizeof text, "hello_module: screen %d x %d", size.x, size.y);
        services_->postMessage(sdk::kCorePrint, sdk::kDestinationCore, 0, "S", length, text);
        return 1;
    }

    int32_t input(uint32_t windowMessage, uint32_t wParam, int32_t lParam) override {
        (void)lParam;
        if (services_ != nullptr && windowMessage == win::WM_KEYDOWN && wParam == win::VK_ESCAPE)
            services_->postMessage(sdk::kCoreQuit, sdk::kDestinationCore, 0, nullptr);
        return 0;
    }

    sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }

  private:
    sdk::CoreServices* services_ = nullptr; // the engine's; valid until destroy
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    (void)className; // one class: every request, the core's null one included, gets the greeter
    return new (std::nothrow) Greeter;
}
