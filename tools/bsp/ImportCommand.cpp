#include "tools/bsp/ImportCommand.h"

#include "tools/bsp/import/import.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: bsp --import MODEL -o OUT.qlf [--scale S] [--up y|z] [--flip-v] [--paletted] [--max-side N]\n"
    "       bsp --convert-image IN OUT.tga [--paletted] [--max-side N]\n"
    "\n"
    "--import reads glTF, OBJ, COLLADA, FBX, 3DS, PLY, STL and the other formats Assimp knows and writes a\n"
    "working file, with each material's texture converted to a TGA beside it.\n"
    "  --scale S      multiply every position by S (after the node transforms)\n"
    "  --up y|z       the model's up axis (default y)\n"
    "  --flip-v       the file's texture coordinates have v = 0 at the top of the image\n"
    "--convert-image reads PNG, JPEG, TGA, BMP, GIF, PSD, HDR or PNM and writes a TGA the texture export\n"
    "takes: 16-bit with ordered dithering, or with --paletted 8-bit with a chosen 256-colour palette.\n"
    "  --max-side N   scale down so that neither side exceeds N (never above 4096)\n"
    "Exit status: 0 success, 1 a file that cannot be read or written, 2 wrong usage.\n";

struct CommandOptions {
    bool importing = false;
    const char* input = nullptr;
    const char* output = nullptr;
    importer::ImportOptions import;
};

// Log lines to a stream.
class PrintingProgress : public compiler::Progress {
public:
    explicit PrintingProgress(std::FILE* out) : out_(out) {}
    void logLine(const char* text) override { std::fprintf(out_, "%s\n", text); }

private:
    std::FILE* out_;
};

bool parseNumber(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

// Fills the options; returns an error text for wrong usage, null when the command is well formed.
const char* parseOptions(int argc, const char* const* argv, CommandOptions* options) {
    options->importing = std::strcmp(argv[1], "--import") == 0;
    for (int i = 2; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        double number = 0;
        if (std::strcmp(a, "--paletted") == 0) {
            options->import.textures.kind = importer::TgaKind::Paletted;
        } else if (std::strcmp(a, "--max-side") == 0) {
            if (!value || !parseNumber(value, &number) || number < 1 || number != std::floor(number))
                return "--max-side needs a whole number of pixels, at least 1";
            options->import.textures.maxSide = int(std::fmin(number, importer::kMaxTextureSide));
            ++i;
        } else if (options->importing && std::strcmp(a, "--scale") == 0) {
            if (!value || !parseNumber(value, &number) || number <= 0) return "--scale needs a number above 0";
            options->import.scale = float(number);
            ++i;
        } else if (options->importing && std::strcmp(a, "--up") == 0) {
            if (!value || (std::strcmp(value, "y") != 0 && std::strcmp(value, "z") != 0)) return "--up takes y or z";
            options->import.up = value[0] == 'z' ? importer::UpAxis::Z : importer::UpAxis::Y;
            ++i;
        } else if (options->importing && std::strcmp(a, "--flip-v") == 0) {
            options->import.flipV = true;
        } else if (options->importing && std::strcmp(a, "-o") == 0) {
            if (!value || !*value) return "-o needs a file name";
            options->output = value;
            ++i;
        } else if (a[0] == '-' && a[1] != '\0') {
            return "unknown option";
        } else if (!options->input) {
            options->input = a;
        } else if (!options->importing && !options->output) {
            options->output = a;
        } else {
            return "too many file names";
        }
    }
    if (!options->input) return "no input file";
    if (!options->output) return options->importing ? "no output file (-o OUT.qlf)" : "no output file";
    return nullptr;
}

} // namespace

bool isImportCommand(int argc, const char* const* argv) {
    return argc > 1 && (std::strcmp(argv[1], "--import") == 0 || std::strcmp(argv[1], "--convert-image") == 0);
}

int runImportCommand(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    CommandOptions options;
    if (const char* usage = parseOptions(argc, argv, &options)) {
        std::fprintf(err, "bsp: %s\n%s", usage, kUsage);
        return 2;
    }
    std::string error;
    PrintingProgress progress(out);
    const bool done = options.importing
                          ? importer::importModel(options.input, options.output, options.import, progress, &error)
                          : importer::convertImage(options.input, options.output, options.import.textures, &error);
    if (!done) {
        std::fprintf(err, "bsp: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
