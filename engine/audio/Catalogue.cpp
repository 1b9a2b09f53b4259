// The two catalogues: "Resource\Sounds\msound.ini" (name, file, variant count) and
// "Resource\Music\mmusic.ini" (name, file). Lines end with CR LF (a bare LF is taken too); lines beginning
// with a semicolon, lines shorter than five characters and lines longer than 255 are skipped.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/audio/audio_local.h"
#include "platform/platform.h"

namespace {

constexpr const char* kSoundCatalogue = "Resource\\Sounds\\msound.ini";
constexpr const char* kMusicCatalogue = "Resource\\Music\\mmusic.ini";
constexpr size_t kMinLineLength = 5;
constexpr size_t kMaxLineLength = 255;
constexpr int kMaxFields = 3;
// A catalogue has at most a few hundred short lines; anything far bigger is not one.
constexpr long kMaxCatalogueBytes = 1 << 20;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char* trim(char* text) {
    while (isBlank(*text)) ++text;
    char* end = text + std::strlen(text);
    while (end > text && isBlank(end[-1])) --end;
    *end = '\0';
    return text;
}

// Splits line (NUL-terminated, writable) at its commas into at most kMaxFields fields.
int splitFields(char* line, char* fields[kMaxFields]) {
    int count = 0;
    char* start = line;
    while (count < kMaxFields) {
        char* comma = count < kMaxFields - 1 ? std::strchr(start, ',') : nullptr;
        if (comma) *comma = '\0';
        fields[count++] = trim(start);
        if (!comma) break;
        start = comma + 1;
    }
    return count;
}

void copyField(char* to, size_t size, const char* from) { std::snprintf(to, size, "%s", from); }

// A variant count as written; anything that is not a number counts as none.
long parseVariantCount(const char* text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text) return 0;
    if (errno == ERANGE) return value < 0 ? 0 : kMaxSoundEntries;
    return value;
}

bool acceptSoundLine(void* context, char* const* fields, int count) {
    AudioSystem& audio = *static_cast<AudioSystem*>(context);
    if (count < 2) return true; // a line without a comma names no file
    const long declared = count > 2 ? parseVariantCount(fields[2]) : 0;
    const int room = kMaxSoundEntries - audio.entryCount;
    const int variants = static_cast<int>(std::clamp<long>(declared, 0, room));
    const int filled = std::max(variants, 1);
    for (int v = 0; v < filled; ++v) {
        SoundEntry& entry = audio.entries[audio.entryCount + v];
        entry = SoundEntry{};
        copyField(entry.name, sizeof entry.name, fields[0]);
        copyField(entry.file, sizeof entry.file, fields[1]);
        entry.variantCount = variants;
        entry.variantNumber = v;
    }
    audio.entryCount += filled;
    return audio.entryCount < kMaxSoundEntries;
}

bool acceptMusicLine(void* context, char* const* fields, int count) {
    MusicState& music = *static_cast<MusicState*>(context);
    if (count < 2) return true;
    MusicTrack& track = music.tracks[music.trackCount++];
    copyField(track.name, sizeof track.name, fields[0]);
    std::snprintf(track.path, sizeof track.path, "Resource\\Music\\%s.mp3", fields[1]);
    return music.trackCount < kMaxMusicTracks;
}

} // namespace

bool readCatalogueFile(const char* windowsPath, CatalogueLine accept, void* context) {
    std::FILE* file = std::fopen(plat::resolvePath(windowsPath).c_str(), "rb");
    if (!file) return false;
    std::string text(static_cast<size_t>(kMaxCatalogueBytes), '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);

    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t length = end - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;
        if (length >= kMinLineLength && length <= kMaxLineLength && text[start] != ';') {
            char line[kMaxLineLength + 1];
            std::memcpy(line, text.data() + start, length);
            line[length] = '\0';
            char* fields[kMaxFields];
            const int count = splitFields(line, fields);
            if (!accept(context, fields, count)) break;
        }
        start = end + 1;
    }
    return true;
}

void readCatalogues(AudioSystem& audio) {
    if (!audio.mixer) return;
    audio.entryCount = 0;
    audio.music.trackCount = 0;
    if (!readCatalogueFile(kSoundCatalogue, acceptSoundLine, &audio)) return; // no sounds: no music either
    readCatalogueFile(kMusicCatalogue, acceptMusicLine, &audio.music);
}
