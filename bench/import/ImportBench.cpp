// Import timings: a photograph-like image (smooth gradients with fine noise, as textures are) converted to
// the 16-bit and the paletted TGA, scaled from 4096 to 1024, and an OBJ grid of about 130,000 triangles
// read by Assimp and built into a scene. Generated the same way every run. Prints one line per figure.
//
//   import_bench [SIDE]   the image side, 1024 unless given
#include "tools/bsp/import/import.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace importer;

namespace {

Image photoLike(int side) {
    std::mt19937 random(5);
    Image image;
    image.width = image.height = side;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double u = double(x) / side, v = double(y) / side;
            const int noise = int(random() % 9) - 4;
            auto channel = [&](double value) { return uint8_t(std::clamp(int(value) + noise, 0, 255)); };
            image.rgba.insert(image.rgba.end(), {channel(128 + 120 * std::sin(6 * u + 2 * v)), channel(255 * v * v),
                                                 channel(128 + 100 * std::cos(9 * u * v)), 255});
        }
    return image;
}

template <typename Work>
void time(const char* what, Work work) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t processorStart = std::clock();
    work();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double processor = double(std::clock() - processorStart) / CLOCKS_PER_SEC;
    std::printf("%-50s %8.3f s wall %8.3f s processor\n", what, wall, processor);
}

} // namespace

int main(int argc, char** argv) {
    const int side = argc > 1 ? std::atoi(argv[1]) : 1024;
    const Image image = photoLike(side);
    const std::string size = std::to_string(side) + " x " + std::to_string(side);
    time(("16-bit dithered TGA, " + size).c_str(), [&] { encodeHighColourTga(image); });
    time(("paletted TGA (palette and mapping), " + size).c_str(), [&] { encodePalettedTga(image); });
    const Image large = photoLike(4096);
    time("scaling 4096 x 4096 to 1024 x 1024", [&] { fitImage(large, 1024); });

    const std::filesystem::path obj = std::filesystem::temp_directory_path() / "import_bench_grid.obj";
    {
        constexpr int kCells = 256;
        std::ofstream out(obj);
        for (int y = 0; y <= kCells; ++y)
            for (int x = 0; x <= kCells; ++x) out << "v " << x << " " << std::sin(x * 0.1) * std::cos(y * 0.1) << " " << y << "\n";
        for (int y = 0; y < kCells; ++y)
            for (int x = 0; x < kCells; ++x) {
                const int a = y * (kCells + 1) + x + 1, c = a + kCells + 1;
                out << "f " << a << " " << a + 1 << " " << c + 1 << " " << c << "\n";
            }
    }
    compiler::Progress silent;
    ImportedModel model;
    std::string error;
    time("OBJ grid of 131,072 triangles into a scene", [&] {
        if (!buildImport(obj.c_str(), "grid.qlf", {}, &model, silent, &error)) std::printf("%s\n", error.c_str());
    });
    std::filesystem::remove(obj);
    return 0;
}
