#include "tools/ledger/IdfText.h"

#include "common/formats/IdfTable.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

namespace {

constexpr const char* kItemLine = "[item]";

void appendEscaped(std::string& out, const char* text, bool isKey) {
    static const char hex[] = "0123456789abcdef";
    const size_t length = std::strlen(text);
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool edgeSpace = c == ' ' && (i == 0 || i + 1 == length);
        const bool keyMark = isKey && (c == '=' || (c == '#' && i == 0));
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f || edgeSpace || keyMark) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes one escaped key or value into a 64-byte field. Returns an error text, or null.
const char* decodeField(const std::string& text, char (&field)[kIdfTextSize]) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            plain += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            plain += '\\';
            ++i;
            continue;
        }
        const int high = i + 3 < text.size() && text[i + 1] == 'x' ? hexDigit(text[i + 2]) : -1;
        const int low = high >= 0 ? hexDigit(text[i + 3]) : -1;
        if (low < 0) return "bad escape (use \\\\ or \\xHH)";
        if (high == 0 && low == 0) return "a text cannot hold \\x00";
        plain += static_cast<char>(high * 16 + low);
        i += 3;
    }
    if (plain.size() > kIdfTextSize - 1) return "longer than 63 characters";
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, plain.data(), plain.size());
    return nullptr;
}

// The text without the spaces and tabs (and a carriage return) at either end.
std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

bool readWholeFile(const char* path, std::vector<unsigned char>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int dumpCommand(const char* path, std::FILE* out, std::FILE* err) {
    IdfFile file;
    if (!file.open(path)) {
        std::fprintf(err, "ledger: cannot read %s as an item data file\n", path);
        return 2;
    }
    const std::string text = idfToText(file);
    std::fwrite(text.data(), 1, text.size(), out);
    if (file.isDamaged()) {
        std::fprintf(err, "ledger: %s is damaged after item %d; the rest was not read\n", path, file.itemCount());
        return 1;
    }
    return 0;
}

int importCommand(const char* input, const char* output, std::FILE* err) {
    std::vector<unsigned char> bytes;
    if (!readWholeFile(input, &bytes)) {
        std::fprintf(err, "ledger: cannot read %s\n", input);
        return 2;
    }
    std::vector<IdfItem> items;
    int line = 0;
    std::string error;
    if (!idfFromText(std::string(bytes.begin(), bytes.end()), &items, &line, &error)) {
        std::fprintf(err, "%s:%d: %s\n", input, line, error.c_str());
        return 1;
    }
    if (!IdfTable::writeItems(output, items.data(), static_cast<int>(items.size()))) {
        std::fprintf(err, "ledger: cannot write %s\n", output);
        return 2;
    }
    std::vector<unsigned char> written;
    if (readWholeFile(output, &written)) {
        for (const std::string& e : checkIdfBytes(written).errors) std::fprintf(err, "%s: warning: %s\n", output, e.c_str());
    }
    return 0;
}

int checkCommand(const char* path, std::FILE* out) {
    std::vector<unsigned char> bytes;
    if (!readWholeFile(path, &bytes)) {
        std::fprintf(out, "%s: cannot read\n", path);
        return 2;
    }
    const IdfCheck check = checkIdfBytes(bytes);
    for (const std::string& e : check.errors) std::fprintf(out, "%s: error: %s\n", path, e.c_str());
    for (const std::string& w : check.warnings) std::fprintf(out, "%s: warning: %s\n", path, w.c_str());
    if (!check.errors.empty()) return 1;
    std::fprintf(out, "%s: ok, %d items\n", path, check.items);
    return 0;
}

} // namespace

std::string idfToText(IdfFile& file) {
    std::string out = "# item data file, " + std::to_string(file.itemCount()) + " items\n";
    for (int i = 0; i < file.itemCount(); ++i) {
        out += i == 0 ? "" : "\n";
        out += kItemLine;
        out += '\n';
        const IdfItem* item = file.getItem(i);
        for (uint32_t r = 0; item && r < item->recordCount; ++r) {
            appendEscaped(out, item->records[r].key, true);
            out += " = ";
            appendEscaped(out, item->records[r].value, false);
            out += '\n';
        }
    }
    return out;
}

bool idfFromText(const std::string& text, std::vector<IdfItem>* items, int* errorLine, std::string* error) {
    items->clear();
    int lineNumber = 0;
    auto fail = [&](const std::string& message) {
        *errorLine = lineNumber;
        *error = message;
        return false;
    };
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        line = trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        if (line == kItemLine) {
            items->emplace_back();
            std::memset(&items->back(), 0, sizeof(IdfItem));
            continue;
        }
        // The first '=' separates: a key's own '=' is written \x3d. Blanks around either side are
        // layout, not text; \x20 keeps a space that belongs to it.
        const size_t separator = line.find('=');
        if (separator == std::string::npos) return fail("expected \"key = value\" or \"[item]\"");
        const std::string key = trimmed(line.substr(0, separator));
        const std::string value = trimmed(line.substr(separator + 1));
        if (items->empty()) return fail("a record before the first [item]");
        IdfItem& item = items->back();
        if (item.recordCount == kIdfMaxRecords) return fail("more than 32 records in one item");
        IdfRecord& record = item.records[item.recordCount];
        if (const char* problem = decodeField(key, record.key)) return fail(std::string("key: ") + problem);
        if (const char* problem = decodeField(value, record.value)) return fail(std::string("value: ") + problem);
        if (item.recordCount == 0) record.code = static_cast<int32_t>(IdfFile::itemCode(record.value));
        ++item.recordCount;
    }
    return true;
}

IdfCheck checkIdfBytes(const std::vector<unsigned char>& bytes) {
    IdfCheck check;
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (int b = 3; b >= 0; --b) v = (v << 8) | bytes[at + static_cast<size_t>(b)];
        return v;
    };
    if (bytes.size() < static_cast<size_t>(kIdfHeaderSize)) {
        check.errors.push_back("shorter than the 12-byte header");
        return check;
    }
    if (u32(0) != kIdfMagic) check.warnings.push_back("magic number is " + std::to_string(u32(0)) + ", not 394393");
    const int32_t declared = static_cast<int32_t>(u32(4));
    const int32_t widest = static_cast<int32_t>(u32(8));
    if (declared < 0) check.errors.push_back("negative item count " + std::to_string(declared));

    std::map<uint32_t, std::vector<int>> itemsByCode;
    std::vector<std::string> names;
    size_t position = kIdfHeaderSize;
    for (int i = 0; i < declared; ++i) {
        const std::string where = "item " + std::to_string(i);
        if (position + 4 > bytes.size()) {
            check.errors.push_back("the file ends before " + where + " (header says " + std::to_string(declared) +
                                   " items)");
            break;
        }
        const uint32_t count = u32(position);
        if (count > kIdfMaxRecords) {
            check.errors.push_back(where + " has " + std::to_string(count) + " records, more than 32");
            break;
        }
        if (position + 4 + count * kIdfRecordSize > bytes.size()) {
            check.errors.push_back("the file ends inside " + where);
            break;
        }
        if (static_cast<int32_t>(count) > widest) {
            check.errors.push_back(where + " has " + std::to_string(count) + " records, more than the widest item " +
                                   std::to_string(widest) + " in the header");
        }
        if (count == 0) check.warnings.push_back(where + " has no records, so it has no name");
        bool terminated = true;
        for (uint32_t r = 0; r < count; ++r) {
            const unsigned char* record = bytes.data() + position + 4 + r * kIdfRecordSize;
            for (const unsigned char* field : {record + 4, record + 4 + kIdfTextSize}) {
                const unsigned char* nul = std::find(field, field + kIdfTextSize, 0);
                if (nul == field + kIdfTextSize) {
                    check.errors.push_back(where + " record " + std::to_string(r) + " has an unterminated text");
                    terminated = false;
                } else if (std::any_of(nul, field + kIdfTextSize, [](unsigned char b) { return b != 0; })) {
                    check.warnings.push_back(where + " record " + std::to_string(r) +
                                             " has bytes after a text's terminator");
                }
            }
        }
        if (count > 0 && terminated) {
            char name[kIdfTextSize];
            std::memcpy(name, bytes.data() + position + 4 + 4 + kIdfTextSize, kIdfTextSize);
            const uint32_t stored = u32(position + 4);
            const uint32_t expected = IdfFile::itemCode(name);
            if (stored != expected) {
                check.errors.push_back(where + " " + quoted(name) + " has code " + std::to_string(stored) +
                                       ", its name's code is " + std::to_string(expected));
            }
            itemsByCode[stored].push_back(i);
            names.resize(static_cast<size_t>(i) + 1);
            names[static_cast<size_t>(i)] = name;
        }
        ++check.items;
        position += 4 + count * kIdfRecordSize;
    }
    if (check.items == declared && position < bytes.size()) {
        check.warnings.push_back(std::to_string(bytes.size() - position) + " bytes after the last item");
    }
    for (const auto& [code, which] : itemsByCode) {
        if (which.size() < 2) continue;
        std::string list;
        for (int i : which) list += (list.empty() ? "" : ", ") + std::to_string(i) + " " + quoted(names[static_cast<size_t>(i)].c_str());
        check.errors.push_back("duplicate code " + std::to_string(code) + ": items " + list);
    }
    return check;
}

int runLedgerCommand(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--dump" && argc == 3) return dumpCommand(argv[2], out, err);
    if (mode == "--check" && argc == 3) return checkCommand(argv[2], out);
    if (mode == "--import" && argc == 5 && std::strcmp(argv[3], "-o") == 0) return importCommand(argv[2], argv[4], err);
    std::fprintf(err, "usage: ledger [FILE.idf]\n"
                      "       ledger --dump FILE.idf\n"
                      "       ledger --import FILE.txt -o FILE.idf\n"
                      "       ledger --check FILE.idf\n");
    return 2;
}
