// engine.ini through the display set-up it drives: the settings file read, the window sized, the display
// created (or refused with the DxInit box) and shut down again.
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "fuzz/HeadlessDisplay.h"

namespace {

plat::Window* window = nullptr;
DisplayDevice* device = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("engine_ini");
    if (!plat::initialise(true)) std::abort();
    plat::WindowDesc desc;
    desc.procedure = [](plat::Window* w, uint32_t m, uint32_t wp, int32_t lp) { return plat::defWindowProc(w, m, wp, lp); };
    window = plat::createWindow(desc);
    device = new DisplayDevice();
    if (!window) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::writeFile("engine.ini", data, size)) return 0;
    if (device->readDisplaySettings(window) && !device->beginFrame()) device->endFrame();
    device->shutdown();
    fuzz::forgetMessageBoxes();
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    seeds.add(std::string("WINDOW_MODE 1\r\nWINDOW_WIDTH 64\r\nWINDOW_HEIGHT 48\r\nDDRAW_DEVICE 0\r\nANTIALIAS_MODE 1\r\n"
                          "FOG_MODE 3\r\nSOUND_ON 0\r\nDEBUG_STRING 0x10\r\nHELP_ON_START 1\r\nDEF_ZONES 2\r\nSERVER_MODE 0\r\n"));
    seeds.add(std::string("WINDOW_WIDTH\t32 pixels\nWINDOW_HEIGHT 0x20\nWINDOW_MODE 0\n"));
}
