#include "engine/core/Diagnostics.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/Core.h"
#include "platform/platform.h"

namespace {

constexpr int kTgaHeaderSize = 18;
constexpr int kTgaTrueColour = 2;

// Left edge of the realize column of the top-sleepers page, in pixels.
constexpr int kRealizeColumn = 320;

// Index of the first of the four counter digits in "shot0000.tga".
constexpr int kFirstDigit = 4;

// Chooses, row by row, the module with the largest value above 0 not chosen before.
void fillTable(SleeperRow* rows, int rowCount, const int32_t* values, int moduleCount) {
    bool chosen[kMaxModules] = {};
    for (int row = 0; row < rowCount; ++row) {
        int best = -1;
        for (int module = 0; module < moduleCount; ++module)
            if (!chosen[module] && values[module] > 0 && (best < 0 || values[module] > values[best])) best = module;
        if (best < 0) continue; // no module qualifies: the row keeps its previous contents
        chosen[best] = true;
        rows[row].value = values[best];
        rows[row].moduleIndex = best;
    }
}

void nameRows(SleeperRow* rows, int rowCount, const ModuleTable& modules) {
    for (int row = 0; row < rowCount; ++row) {
        int index = rows[row].moduleIndex;
        const char* name = (index >= 0 && index < kMaxModules) ? modules.modules[index].name : "";
        std::snprintf(rows[row].moduleName, sizeof rows[row].moduleName, "%s", name);
    }
}

} // namespace

void computeSleepers(Core& core) {
    static int32_t execute[kMaxModules], realize[kMaxModules];
    std::memset(execute, 0, sizeof execute);
    std::memset(realize, 0, sizeof realize);
    for (int position = 0; position < core.layers.count; ++position) {
        Layer* layer = core.layers.layers[position];
        if (layer->hidden) continue;
        for (int i = 0; i < layer->objectCount; ++i) {
            const Entity* object = layer->objects[i];
            if (!object) continue;
            int module = static_cast<int>(static_cast<uint32_t>(object->handle) & 0xFFFF);
            if (module >= kMaxModules) continue;
            execute[module] = object->executeTime;
            realize[module] = object->realizeTime;
        }
    }
    SleeperTables& tables = core.sleepers;
    tables.rowCount = core.modules.moduleCount < kSleeperRows ? core.modules.moduleCount : kSleeperRows;
    fillTable(tables.executeTable, tables.rowCount, execute, core.modules.moduleCount);
    nameRows(tables.executeTable, tables.rowCount, core.modules);
    fillTable(tables.realizeTable, tables.rowCount, realize, core.modules.moduleCount);
    nameRows(tables.realizeTable, tables.rowCount, core.modules);
}

void drawOverlayPage(Core& core) {
    DisplayDevice& display = core.display;
    const int h = bitmapFontLineHeight(display);
    if (core.overlayMode == 1) {
        const Renderer& r = *display.renderer;
        printBitmapFont(display, 0, 0, "Layers : %d  Loaded modules : %d  Core : [%s]  Objects : %d  Viewports: %d",
                        core.layers.count, core.modules.moduleCount, core.logicModuleName, r.objectCount,
                        r.viewportCount);
        printBitmapFont(display, 0, h, core.backgroundBusy ? "Background Thread : YES" : "Background Thread : NO");
        int y = 2 * h;
        for (int i = 0; i < core.modules.moduleCount; ++i) {
            const ModuleEntry& module = core.modules.modules[i];
            if (module.refCount == 0) continue;
            printBitmapFont(display, 0, y, "%s : %d", module.name, module.refCount);
            y += h;
        }
        // Where the frames' time went since start (the frames drawn while this page shows included).
        const FrameTimeSplit& split = core.timeSplit;
        const double frames = split.frames ? double(split.frames) * 1000.0 : 1000.0;
        printBitmapFont(display, 0, y + h, "Frame ms : logic %.2f  audio %.2f  scene %.2f  raster+present %.2f  other %.2f",
                        double(split.logicUs) / frames, double(split.audioUs) / frames, double(split.sceneUs) / frames,
                        double(split.finishUs) / frames, double(split.otherUs) / frames);
    } else if (core.overlayMode == 2) {
        const SleeperTables& t = core.sleepers;
        printBitmapFont(display, 0, 0, "Top %d Sleepers", kSleeperRows);
        printBitmapFont(display, 0, h, "[execute]");
        printBitmapFont(display, kRealizeColumn, h, "[realize]");
        for (int i = 0; i < t.rowCount; ++i) {
            const int y = (i + 2) * h;
            printBitmapFont(display, 0, y, "%s : %d", t.executeTable[i].moduleName, t.executeTable[i].value);
            printBitmapFont(display, kRealizeColumn, y, "%s : %d", t.realizeTable[i].moduleName, t.realizeTable[i].value);
        }
    }
}

void advanceScreenshotName(char* name) {
    for (int digit = kFirstDigit + 3; digit > kFirstDigit; --digit) {
        if (++name[digit] <= '9') return;
        name[digit] = '0';
    }
    ++name[kFirstDigit];
}

void takeScreenshot(Core& core) {
    const std::string path = plat::resolvePath(core.screenshotName);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "engine: cannot write the screenshot %s\n", path.c_str());
        return;
    }
    uint8_t header[kTgaHeaderSize] = {};
    header[2] = kTgaTrueColour;
    header[12] = static_cast<uint8_t>(core.display.width & 0xFF);
    header[13] = static_cast<uint8_t>(core.display.width >> 8);
    header[14] = static_cast<uint8_t>(core.display.height & 0xFF);
    header[15] = static_cast<uint8_t>(core.display.height >> 8);
    header[16] = 16;
    std::fwrite(header, 1, sizeof header, file);

    const uint8_t* pixels = nullptr;
    int pitch = 0;
    if (!core.display.lockBackBuffer(&pixels, &pitch)) {
        std::fclose(file);
        return;
    }
    static uint8_t row[2 * 4096];
    int width = core.display.width < 4096 ? core.display.width : 4096;
    for (int y = core.display.height - 1; y >= 0; --y) {
        const uint8_t* source = pixels + static_cast<ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x) {
            uint16_t pixel = static_cast<uint16_t>(source[2 * x] | source[2 * x + 1] << 8);
            uint16_t converted = static_cast<uint16_t>((pixel & 0x1F) | ((pixel >> 1) & 0x7FE0));
            row[2 * x] = static_cast<uint8_t>(converted & 0xFF);
            row[2 * x + 1] = static_cast<uint8_t>(converted >> 8);
        }
        std::fwrite(row, 1, static_cast<size_t>(width) * 2, file);
    }
    core.display.unlockBackBuffer();
    const bool written = std::fclose(file) == 0;
    std::fprintf(stderr, written ? "engine: screenshot %s\n" : "engine: cannot write the screenshot %s\n", path.c_str());
    advanceScreenshotName(core.screenshotName);
}
