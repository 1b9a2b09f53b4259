// The item editor's document: an item data file opened for reading and writing. Every edit reaches the
// file at once; nothing unsaved is kept in memory. Edits that keep each item's length (a value, a code)
// rewrite one item in place; edits that change lengths or order rebuild the whole file, which is written
// beside the old one and renamed over it, so the file on disk is always either the old or the new whole
// file. Texts longer than 63 characters are cut to 63.
//
// One thread uses a table. The table writes every item's code when it leaves a file (destruction, or
// opening or creating another file) and reports duplicate codes through the warning handler.
#pragma once

#include "common/formats/IdfFile.h"

#include <cstddef>

class IdfTable : public IdfFile {
public:
    // Called with ("CODEC ERROR", "Double Code") when two items end up with the same code.
    using WarningHandler = void (*)(const char* title, const char* text, void* context);

    IdfTable();
    // Writes the codes of the open file, then closes it.
    ~IdfTable();

    void setWarningHandler(WarningHandler handler, void* context);

    // Opens an existing file for editing. Only the whole items before any damage are kept by later edits.
    // Unfinished new files that killed rebuilds left beside it are removed.
    bool openForEdit(const char* path);
    // Creates an empty file (12-byte header), replacing any file at that path.
    bool create(const char* path);
    // Rescans the file for its items and writes the 12-byte header.
    bool writeHeader();
    // Adds the item after the last one; refuses more than 32 records.
    bool appendItem(const IdfItem& item);
    // Writes the current item back at the place of item `item`; refused when that would change its length.
    bool rewriteItem(int item);
    bool setValue(int item, int record, const char* text);
    bool setCode(int item, int record, uint32_t code);

    bool deleteItem(int item);
    // One more record at the end of the item, with key and value both `text`; fails at 32 records.
    bool addRecord(int item, const char* text);
    // Removes a record from an item of more than two records; false (file untouched) for smaller items.
    bool deleteRecord(int item, int record);
    bool moveToTop(int item);

    // Appends {name = new_item, class = unclassified}.
    bool newItem();
    // Appends a copy of the item, codes included.
    bool cloneItem(int item);

    // Stores the code of every item's name in its first record. Returns false, after one warning, when two
    // items share a code (both are kept).
    bool finaliseCodes();

    // Writes a whole item data file from these items (widest item = largest record count) beside `path`
    // and renames it over `path`. The items' codes are written as they are.
    static bool writeItems(const char* path, const IdfItem* items, int count);

private:
    enum class Rebuild { DeleteItem, AddRecord, DeleteRecord, MoveToTop };
    bool rebuild(Rebuild kind, int item, int record, const char* text);
    bool adopt(const char* path);
    bool leaveFile();
    bool writeAt(long offset, const void* data, size_t size);
    bool writeHeaderBytes();

    WarningHandler warn_ = nullptr;
    void* warnContext_ = nullptr;
};
