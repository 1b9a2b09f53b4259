// Whole-file writes that never leave a damaged file where a good one stood.
#pragma once

#include <cstddef>

// Writes the bytes to a new file beside `path` and renames it over `path`: a crash, a kill or a full disk
// at any moment leaves either the old file or the new one, never a part of either. Through a symbolic
// link the file it points at is replaced; the new file keeps the old one's permissions. False when any
// step fails (the temporary file is then removed).
bool writeFileBeside(const char* path, const void* data, size_t size);
