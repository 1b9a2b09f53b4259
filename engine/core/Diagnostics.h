// Debug aids of the core: the top-sleepers profile and numbered screenshots.
#pragma once

#include <cstdint>

struct Core;

constexpr int kSleeperRows = 20;

struct SleeperRow {
    int32_t value;       // processor cycles
    int32_t moduleIndex;
    char moduleName[32];
};

struct SleeperTables {
    SleeperRow executeTable[kSleeperRows];
    SleeperRow realizeTable[kSleeperRows];
    int rowCount;
};

// Draws the overlay page the core has selected (1 statistics, 2 top sleepers) with the console font,
// inside a display frame that the caller has begun.
void drawOverlayPage(Core& core);
// Fills both top-sleepers tables from the objects of the layers that are not hidden.
void computeSleepers(Core& core);
// Writes the back buffer to the next "shotNNNN.tga" (16-bit TGA, 5-5-5, rows bottom to top).
void takeScreenshot(Core& core);
// Advances a screenshot name's four digits: the last three carry, the first counts on without limit.
void advanceScreenshotName(char* name);
