// engine.ini: "KEY value" lines read byte by byte. A key ends at a blank or a tab; the value ends at
// the first line feed, blank or tab, and whatever follows it on the line is skipped.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>

#include "engine/graphics/DisplayDevice.h"

namespace {

// Keys and values are read into buffers of this size; longer ones are cut (and a cut key matches
// nothing).
constexpr size_t kFieldSize = 256;
// engine.ini holds a dozen short lines; more than this is not a settings file.
constexpr long kMaxSettingsFileSize = 1 << 20;

enum class Key { WindowWidth, WindowHeight, WindowMode, DdrawDevice, AntialiasMode, FogMode, SoundOn, DebugString,
                 HelpOnStart, DefZones, ServerMode, Unknown };

constexpr const char* kKeyNames[] = {"WINDOW_WIDTH", "WINDOW_HEIGHT",  "WINDOW_MODE", "DDRAW_DEVICE",
                                     "ANTIALIAS_MODE", "FOG_MODE",     "SOUND_ON",    "DEBUG_STRING",
                                     "HELP_ON_START",  "DEF_ZONES",    "SERVER_MODE"};

Key findKey(const char* name) {
    for (size_t i = 0; i < sizeof kKeyNames / sizeof kKeyNames[0]; ++i)
        if (strcasecmp(name, kKeyNames[i]) == 0) return static_cast<Key>(i);
    return Key::Unknown;
}

void store(Key key, uint32_t value, DisplaySettings* settings) {
    switch (key) {
    case Key::WindowWidth: settings->windowWidth = value; break;
    case Key::WindowHeight: settings->windowHeight = value; break;
    case Key::WindowMode: settings->windowMode = value; break;
    case Key::DdrawDevice: settings->ddrawDevice = value; break;
    case Key::AntialiasMode: settings->antialiasMode = value; break;
    case Key::SoundOn: settings->soundOn = value; break;
    case Key::DebugString: settings->debugString = value; break;
    default: break; // accepted, not used
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

void parseDisplaySettings(const char* text, size_t size, DisplaySettings* settings) {
    size_t pos = 0;
    auto skipLine = [&] {
        while (pos < size && text[pos] != '\n') ++pos;
        if (pos < size) ++pos;
    };
    while (pos < size) {
        // Blank lines and indentation carry no key.
        while (pos < size && (isBlank(text[pos]) || text[pos] == '\r' || text[pos] == '\n')) ++pos;
        if (pos >= size) return;

        char key[kFieldSize] = {};
        size_t length = 0;
        while (pos < size && !isBlank(text[pos]) && text[pos] != '\n') {
            if (length < kFieldSize - 1) key[length] = text[pos];
            ++length;
            ++pos;
        }
        // A line that ends at its key (or the file's last word) has no value: nothing to store.
        if (pos >= size || text[pos] == '\n' || length >= kFieldSize - 1) {
            skipLine();
            continue;
        }
        Key found = findKey(key);
        if (found == Key::Unknown) {
            skipLine();
            continue;
        }

        while (pos < size && isBlank(text[pos])) ++pos;
        char value[kFieldSize] = {};
        length = 0;
        bool endedAtLineFeed = false;
        while (pos < size) {
            char c = text[pos++];
            if (c == '\n') {
                endedAtLineFeed = true;
                break;
            }
            if (isBlank(c)) break;
            if (length < kFieldSize - 1) value[length++] = c;
        }
        if (!endedAtLineFeed) skipLine();
        // The carriage return of a CR LF line end is not part of the value (a plain LF file keeps its
        // last digit).
        if (length > 0 && value[length - 1] == '\r') value[--length] = '\0';
        if (length == 0) continue;
        store(found, static_cast<uint32_t>(std::strtoul(value, nullptr, 0)), settings);
    }
}

bool readDisplaySettingsFile(const char* path, DisplaySettings* settings) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 &&
           text.size() < static_cast<size_t>(kMaxSettingsFileSize))
        text.append(chunk, got);
    // A read error ends the file where it happened, as the end of the file would.
    std::fclose(file);
    parseDisplaySettings(text.data(), text.size(), settings);
    return true;
}
