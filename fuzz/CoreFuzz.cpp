// The core on a headless window, started once per process. Two inputs reach it:
// - startup (FUZZ_CORE_STARTUP=1): the start-up description, read as F3 reads it and applied by a restart
//   (display set-up, fonts, logic module, cursor model);
// - messages: the bytes of the core's engine-message buffer, walked by a frame.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/core/Core.h"
#include "platform/platform.h"
#include "fuzz/IdfSeeds.h"

#ifndef FUZZ_CORE_STARTUP
#define FUZZ_CORE_STARTUP 0
#endif

namespace {

constexpr bool kStartup = FUZZ_CORE_STARTUP != 0;

plat::Window* window = nullptr;
Core* core = nullptr;
uint32_t now = 1000;

uint32_t manualTicks() { return now += 16; }

// A message: 16-byte header (total size, code, destination, parameter) and a payload.
fuzz::Bytes message(int32_t code, int32_t destination, const fuzz::Bytes& payload) {
    fuzz::Bytes out(16);
    const int32_t header[4] = {int32_t(16 + payload.size()), code, destination, 0};
    std::memcpy(out.data(), header, sizeof header);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory(kStartup ? "startup" : "messages");
    // A small display keeps every frame and restart cheap.
    const char* ini = "WINDOW_WIDTH 64\nWINDOW_HEIGHT 48\nWINDOW_MODE 1\n";
    fuzz::writeFile("engine.ini", reinterpret_cast<const uint8_t*>(ini), std::strlen(ini));
    if (!plat::initialise(true)) std::abort();
    plat::setScriptedMessageBoxAnswer(plat::IDNO);
    plat::WindowDesc desc;
    desc.procedure = [](plat::Window* w, uint32_t m, uint32_t wp, int32_t lp) { return plat::defWindowProc(w, m, wp, lp); };
    window = plat::createWindow(desc);
    core = new Core();
    core->tickSource = manualTicks;
    if (!window || core->start(window) != 1) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (kStartup) {
        if (!fuzz::writeFile("RESOURCE/startup.idf", data, size)) return 0;
        core->readStartupDescription();
        core->restart();
    } else {
        const size_t bytes = std::min(size, size_t(kMessageBytesLimit));
        std::memcpy(core->messageBuffer, data, bytes);
        core->messageBytes = int(bytes);
        core->frame();
        core->state = kStateRunning;
        core->restartRequested = 0;
    }
    // The frame warps the pointer, which queues SDL events: deliver them as the pump would.
    for (plat::Message pending; plat::peekMessage(&pending, true);) {
    }
    plat::clearRecordedMessageBoxes();
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    if (kStartup) {
        IdfItem video{}, sound{}, logic{};
        fuzz::setRecord(video, "name", "video");
        fuzz::setRecord(video, "class", "1");
        fuzz::setRecord(video, "width", "64");
        fuzz::setRecord(video, "height", "48");
        fuzz::setRecord(video, "antialias", "0");
        fuzz::setRecord(video, "surface_bpp", "16");
        fuzz::setRecord(video, "device", "0");
        fuzz::setRecord(sound, "name", "sound");
        fuzz::setRecord(sound, "class", "0");
        fuzz::setRecord(logic, "name", "logic");
        fuzz::setRecord(logic, "class", "missing_logic");
        const IdfItem items[] = {video, sound, logic};
        if (IdfTable::writeItems("startup.idf", items, 3)) seeds.add(fuzz::readFile("startup.idf"));
        return;
    }
    const char text[] = "hello";
    fuzz::Bytes print = {uint8_t(sizeof text - 1), 0, 0, 0};
    print.insert(print.end(), text, text + sizeof text - 1);
    fuzz::Bytes walk;
    for (const fuzz::Bytes& m : {message(sdk::kCorePrint, sdk::kDestinationCore, print),
                                 message(sdk::kCoreStopInput, sdk::kDestinationCore, {}),
                                 message(77, 5, {1, 2, 3, 4}), message(sdk::kCoreQuit, sdk::kDestinationCore, {})})
        walk.insert(walk.end(), m.begin(), m.end());
    seeds.add(walk);
    seeds.add(message(sdk::kCorePrint, sdk::kDestinationCore, print));
}
