// The text form of item data files, for scripts and build pipelines, and the structural check.
//
//   # comment; blank lines are ignored
//   [item]
//   name = video
//   class = 1
//   mode = 640 480 16
//
// Each "[item]" line starts an item; each following line "key = value" is one record, split at the
// first " = " ("key =" alone gives an empty value). Bytes are taken as they stand, high bytes included,
// except for the escapes "\\" and "\xHH", which the dump writes for a backslash, control bytes, an "="
// or leading "#" in a key, and spaces at either end of a key or value. Keys and values hold at most 63
// characters. No Qt here: the command-line modes run without a display.
#pragma once

#include "common/formats/IdfFile.h"

#include <cstdio>
#include <string>
#include <vector>

// The text form of every item of an open reader.
std::string idfToText(IdfFile& file);

// Parses the text form into items whose first records carry the code of their value. On malformed text
// returns false with the 1-based line number and a message.
bool idfFromText(const std::string& text, std::vector<IdfItem>* items, int* errorLine, std::string* error);

// What is wrong with a file's bytes. Errors make a reader lose or misfind items (damage, bad counts,
// unterminated texts, codes that do not match the name, duplicate codes); warnings are harmless oddities.
struct IdfCheck {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    int items = 0;
};
IdfCheck checkIdfBytes(const std::vector<unsigned char>& bytes);

// Runs "--dump FILE", "--import FILE -o FILE" or "--check FILE" and returns the exit status
// (0 success, 1 failure of the content, 2 wrong usage or unreadable file).
int runLedgerCommand(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
