// The display device's texture cache steps and the core's two fonts, on the renderer the display
// device owns.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "engine/graphics/DisplayDevice.h"
#include "engine/graphics/Images.h"
#include "engine/graphics/Renderer.h"
#include "engine/graphics/TexturesAndFonts.h"
#include "platform/platform.h"

void initialiseTextureCache(DisplayDevice& device) { attachRenderer(*device.renderer, device.window); }
void shutdownTextureCache(DisplayDevice& device) { detachRenderer(*device.renderer); }
void textureCacheBeginFrame(DisplayDevice& device) { rendererBeginFrame(*device.renderer, plat::tickCount()); }
void textureCacheEndFrame(DisplayDevice& device) { rendererEndFrame(*device.renderer); }

int openTexture(DisplayDevice& device, const char* name) { return openTexture(device.renderer->textures, name); }

bool loadConsoleFont(DisplayDevice& device, const char* name, int destination) {
    BitmapFont& font = device.renderer->bitmapFont;
    font.destination = destination;
    if (font.image >= 0) freeImage(device, font.image);
    font.image = -1;
    if (loadImage(device, (std::string(name) + ".tga").c_str(), &font.image)) {
        font.image = -1;
        return false;
    }
    const std::string base = std::string("RESOURCE\\IMAGES\\") + name;
    return readFontLayout(font.layout, (base + ".lay").c_str()) && readBitmapGlyphs(font, (base + ".fls").c_str());
}

bool loadTextureFont(DisplayDevice& device, const char* name) {
    TextureFont& font = device.renderer->textureFont;
    font.loaded = false;
    font.texture = openTexture(device.renderer->textures, (std::string(name) + ".tf").c_str());
    if (font.texture < 0) return false;
    const std::string base = std::string("RESOURCE\\SYSTEM\\") + name;
    if (!readFontLayout(font.layout, (base + ".lay").c_str())) return false;
    if (!readTextureGlyphs(font, (base + ".flt").c_str())) return false;
    font.loaded = true;
    return true;
}

int printBitmapFont(DisplayDevice& device, int x, int y, const char* format, ...) {
    const BitmapFont& font = device.renderer->bitmapFont;
    char text[kFontFormatLimit * 40];
    va_list args;
    va_start(args, format);
    const int length = expandFontFormat(text, int(sizeof text), format, args);
    va_end(args);
    int pen = 0;
    for (int i = 0; i < length; ++i) {
        const int glyph = glyphOfCharacter(font.layout, font.glyphCount, static_cast<unsigned char>(text[i]));
        const int advance = bitmapAdvance(font, glyph);
        if (advance > 0 && font.image >= 0) {
            const display::Rect source{font.left[glyph], font.top, font.right[glyph], font.bottom};
            // The pen may run past the int range from a position near its limits: clamped, not wrapped.
            const int64_t left = int64_t{x} + pen;
            const display::Rect target{clampToInt(left), y, clampToInt(left + advance),
                                       clampToInt(int64_t{y} + font.bottom - font.top)};
            blitImage(device, font.destination, font.image, &target, &source, kBlitFlagKeySource);
        }
        pen += advance;
    }
    return pen;
}

int bitmapFontLineHeight(const DisplayDevice& device) {
    const BitmapFont& font = device.renderer->bitmapFont;
    return font.bottom - font.top;
}

void consolePrint(DisplayDevice& device, int x, int y, const char* text) {
    std::snprintf(device.consoleText, sizeof device.consoleText, "%s", text ? text : "");
    printBitmapFont(device, x, y, "%s", device.consoleText);
}
