// Module font layouts through the core services a module calls: the layout file is loaded beside a real
// glyph sheet, then measured, broken into lines against a clip rectangle and drawn (glyph by glyph and as
// stretched text) through the renderer of a headless core.
//
// Input: the layout file (its fixed size), then the clip rectangle and the text rectangle (four floats
// each), a flags word, and the text.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/formats/TfTexture.h"
#include "engine/core/Core.h"
#include "engine/host/EngineServices.h"
#include "fuzz/FuzzSupport.h"
#include "platform/platform.h"

namespace {

plat::Window* window = nullptr;
Core* core = nullptr;
EngineCoreServices* services = nullptr;

constexpr size_t kRectBytes = sizeof(sdk::FontRect);
constexpr size_t kHeadBytes = size_t(sdk::kFontLayoutFileBytes) + 2 * kRectBytes + sizeof(int32_t);

bool writeGlyphSheet() {
    std::vector<uint16_t> pixels(size_t(64) * 64);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint16_t(i * 2654435761u >> 16);
    const TfHeader header{kTfMagic, 0, 0, 1, 0, 64, 64};
    std::filesystem::create_directories("RESOURCE/TEXTURES");
    return writeTfFile("RESOURCE/TEXTURES/glyphs.tf", header, pixels.data(), pixels.size()) == nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("module_font");
    const char* ini = "WINDOW_WIDTH 64\nWINDOW_HEIGHT 48\nWINDOW_MODE 1\n";
    fuzz::writeFile("engine.ini", reinterpret_cast<const uint8_t*>(ini), std::strlen(ini));
    if (!writeGlyphSheet() || !plat::initialise(true)) std::abort();
    plat::setScriptedMessageBoxAnswer(plat::IDNO);
    plat::WindowDesc desc;
    desc.procedure = [](plat::Window* w, uint32_t m, uint32_t wp, int32_t lp) { return plat::defWindowProc(w, m, wp, lp); };
    window = plat::createWindow(desc);
    core = new Core();
    if (!window || core->start(window) != 1) std::abort();
    services = new EngineCoreServices(*core, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeadBytes) return 0;
    if (!fuzz::writeFile("RESOURCE/TEXTURES/fuzz.lay", data, size_t(sdk::kFontLayoutFileBytes))) return 0;
    sdk::FontRect clip, rect;
    int32_t flags;
    const uint8_t* at = data + sdk::kFontLayoutFileBytes;
    std::memcpy(&clip, at, kRectBytes);
    std::memcpy(&rect, at + kRectBytes, kRectBytes);
    std::memcpy(&flags, at + 2 * kRectBytes, sizeof flags);
    const std::string text(reinterpret_cast<const char*>(data + kHeadBytes), size - kHeadBytes);

    const int32_t font = services->loadFont("glyphs.tf", "fuzz.lay");
    if (font < 0) return 0;
    services->setFontClipRect(clip.left, clip.right, clip.upper, clip.lower);
    services->fontTextWidth(font, text.c_str());
    services->fontWordWidth(font, text.c_str());
    const int32_t* breaks = nullptr;
    services->fontQuery(font, &breaks, text.c_str());
    const bool drawing = core->display.beginFrame() == nullptr;
    sdk::FontCharPosition pen{rect.left, 0, 0, rect.lower};
    for (const char* c = text.c_str(); *c; ++c)
        pen.x += static_cast<float>(services->fontDrawChar(font, &pen, static_cast<uint8_t>(*c)));
    services->fontDrawText(font, &rect, text.c_str(), flags);
    if (drawing) core->display.endFrame();
    services->releaseFont(font);
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    // Printable ASCII on a sheet of 16 glyphs a row, each 4 x 6 sheet pixels; other codes show glyph 0.
    sdk::FontLayout layout{};
    layout.glyphCount = 95;
    for (int g = 0; g < 95; ++g) {
        const float u = float(g % 16) * 4, v = float(g / 16) * 6;
        layout.glyphs[g] = {u / 256.0f, (u + 4) / 256.0f, (v + 6) / 256.0f, v / 256.0f};
    }
    for (int c = 32; c < 127; ++c) layout.glyphOfCharacter[c] = uint8_t(c - 32);
    auto input = [&](sdk::FontRect clip, sdk::FontRect rect, int32_t flags, const char* text) {
        fuzz::Bytes out(kHeadBytes);
        std::memcpy(out.data(), &layout, sizeof layout);
        std::memcpy(out.data() + sizeof layout, &clip, kRectBytes);
        std::memcpy(out.data() + sizeof layout + kRectBytes, &rect, kRectBytes);
        std::memcpy(out.data() + sizeof layout + 2 * kRectBytes, &flags, sizeof flags);
        out.insert(out.end(), text, text + std::strlen(text));
        return out;
    };
    seeds.add(input({0, 64, 48, 0}, {2, 60, 20, 4}, 0, "Hello, world"));
    seeds.add(input({10, 30, 40, 8}, {-5, 80, 60, -3}, 1, "a rather long line that breaks\nand goes on"));
    seeds.add(input({0, 5, 5, 0}, {0, 1, 1, 0}, 1, "\x01\x7f\xff wide"));
}
