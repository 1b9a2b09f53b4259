#include "tools/bsp/Batch.h"

#include "tools/bsp/compiler/compiler.h"

#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: bsp --batch IN.qlf [--merge] [--normals] [--textures] [--bsp] [--fast-build] [--fast-load]\n"
    "                          [--export OUT.qff] [--save OUT.qlf]\n"
    "       bsp --import MODEL -o OUT.qlf [--scale S] [--up y|z] [--flip-v] [--paletted] [--max-side N]\n"
    "       bsp --convert-image IN OUT.tga [--paletted] [--max-side N]\n"
    "       bsp --help\n"
    "       bsp [IN.qlf]          (the compiler's window)\n"
    "\n"
    "Batch mode reads IN.qlf (dropping broken triangles and unused vertices and snapping every position to\n"
    "the export grid), then runs the requested operations in this order, whatever the order given:\n"
    "  --merge        merge equal textures and the objects that share texture and flags\n"
    "  --normals      compute smooth vertex normals\n"
    "  --textures     convert every texture from TGA to TF beside it (wall.tga -> wall.tf)\n"
    "  --bsp          build the BSP tree of LOD 0 (exhaustive search on every core)\n"
    "  --fast-build   with --bsp: choose splitters near the centroid instead of searching\n"
    "  --fast-load    with --bsp: store the node list, so the runtime need not replay the partition\n"
    "  --save FILE    save the scene as a working file\n"
    "  --export FILE  export the model file the runtime loads\n"
    "The log goes to standard output, a progress line to standard error when it is a terminal.\n"
    "Exit status: 0 success, 1 bad content or a failed operation, 2 wrong usage.\n";

struct BatchOptions {
    const char* input = nullptr;
    bool merge = false;
    bool normals = false;
    bool textures = false;
    bool bsp = false;
    compiler::BspOptions bspOptions;
    const char* exportPath = nullptr;
    const char* savePath = nullptr;
};

// Log lines to `out`; titles as a progress line redrawn in place on a terminal.
class BatchProgress : public compiler::Progress {
public:
    BatchProgress(std::FILE* out, std::FILE* err) : out_(out), err_(err), terminal_(isatty(fileno(err)) != 0) {}

    void logLine(const char* text) override {
        clearProgressLine();
        std::fprintf(out_, "%s\n", text);
        std::fflush(out_);
        lastLine = text;
    }
    void titleText(const char* text) override {
        if (!terminal_) return;
        std::fprintf(err_, "\r%s\033[K", text);
        std::fflush(err_);
        showing_ = true;
    }
    void clearProgressLine() {
        if (!showing_) return;
        std::fprintf(err_, "\r\033[K");
        std::fflush(err_);
        showing_ = false;
    }

    std::string lastLine;

private:
    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    bool showing_ = false;
};

// Fills the options; returns an error text for wrong usage, null when the command is well formed.
const char* parseOptions(int argc, const char* const* argv, BatchOptions* options) {
    for (int i = 2; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&](const char** into) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return false;
            *into = argv[++i];
            return true;
        };
        if (std::strcmp(a, "--merge") == 0) options->merge = true;
        else if (std::strcmp(a, "--normals") == 0) options->normals = true;
        else if (std::strcmp(a, "--textures") == 0) options->textures = true;
        else if (std::strcmp(a, "--bsp") == 0) options->bsp = true;
        else if (std::strcmp(a, "--fast-build") == 0) options->bspOptions.fastBuild = true;
        else if (std::strcmp(a, "--fast-load") == 0) options->bspOptions.fastLoad = true;
        else if (std::strcmp(a, "--export") == 0) {
            if (!value(&options->exportPath)) return "--export needs a file name";
        } else if (std::strcmp(a, "--save") == 0) {
            if (!value(&options->savePath)) return "--save needs a file name";
        } else if (a[0] == '-') {
            return "unknown option";
        } else if (!options->input) {
            options->input = a;
        } else {
            return "more than one input file";
        }
    }
    if (!options->input) return "no input file";
    if ((options->bspOptions.fastBuild || options->bspOptions.fastLoad) && !options->bsp)
        return "--fast-build and --fast-load go with --bsp";
    return nullptr;
}

int fail(BatchProgress& progress, std::FILE* err, const char* operation, const std::string& why) {
    progress.clearProgressLine();
    std::fprintf(err, "bsp: %s failed: %s\n", operation, why.c_str());
    return 1;
}

} // namespace

bool isBatchCommand(int argc, const char* const* argv) {
    return argc > 1 && (std::strcmp(argv[1], "--batch") == 0 || std::strcmp(argv[1], "--help") == 0 ||
                        std::strcmp(argv[1], "-h") == 0);
}

int runBatch(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    if (argc < 2 || std::strcmp(argv[1], "--batch") != 0) {
        const bool help = argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
        std::fputs(kUsage, help ? out : err);
        return help ? 0 : 2;
    }
    BatchOptions options;
    if (const char* usage = parseOptions(argc, argv, &options)) {
        std::fprintf(err, "bsp: %s\n%s", usage, kUsage);
        return 2;
    }

    BatchProgress progress(out, err);
    compiler::Scene scene;
    std::string error;
    if (!compiler::readScene(options.input, &scene, progress, &error))
        return fail(progress, err, "reading", "Can't open qlf file " + error);
    compiler::logSceneSummary(options.input, scene, progress);
    if (options.merge) scene = compiler::mergeObjects(scene, progress, true);
    if (options.normals) compiler::computeNormals(&scene, progress, true);
    int status = 0;
    if (options.textures) {
        const int converted = compiler::exportTextures(scene, progress, true);
        if (size_t(converted) < scene.textures.size())
            status = fail(progress, err, "textures",
                          std::to_string(scene.textures.size() - size_t(converted)) + " of " +
                              std::to_string(scene.textures.size()) + " textures not converted (see the log)");
    }
    if (options.bsp && !compiler::createBsp(&scene, options.bspOptions, progress, true))
        return fail(progress, err, "BSP", progress.lastLine);
    if (options.savePath && !compiler::writeScene(options.savePath, scene, progress))
        return fail(progress, err, "saving", progress.lastLine);
    if (options.exportPath && !compiler::exportModel(options.exportPath, scene, progress))
        return fail(progress, err, "export", progress.lastLine);
    progress.clearProgressLine();
    return status;
}
