// Compiled model files for seeds, written by the model writer the tests use, with trees recorded by the
// partition the compiler uses: a bumpy closed surface (splits and dedupe) with a splitter stream or a
// stored node list or no tree, a double-sided textured object, and an animated group with keys.
#pragma once

#include "common/formats/tests/ModelFileWriter.h"
#include "fuzz/FuzzSupport.h"

namespace fuzz {

inline std::vector<Bytes> modelSeedFiles() {
    std::vector<Bytes> files;
    qfftest::Model streamed = qfftest::bumpyModel(4, 6, 10, 5);
    qfftest::Model listed = streamed;
    qfftest::Model plain = streamed;
    qfftest::addStreamTree(&streamed);
    qfftest::addNodeListTree(&listed);
    files.push_back(qfftest::writeModel(streamed));
    files.push_back(qfftest::writeModel(listed));
    files.push_back(qfftest::writeModel(plain));

    // Two textures, a double-sided object, a second group animated by keys.
    qfftest::Model rich = qfftest::bumpyModel(3, 5, 10, 5);
    rich.textures = {"rock.tga", "wall.tga"};
    qfftest::Object sided = qfftest::objectFromPositions({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}},
                                                        {{0, 1, 2}, {0, 2, 3}}, 100.0f);
    sided.flags = kModelObjectDoubleSided;
    sided.texture = 1;
    sided.texCoordScale = 256.0f;
    rich.groups[0].objects.push_back(sided);
    qfftest::Object animated = sided;
    animated.flags = 0;
    animated.keys.push_back(ModelFileKey{{0, 0, 0}, {0, 0, 0}, 0});
    animated.keys.push_back(ModelFileKey{{5, 0, 0}, {0, 1.5f, 0}, 0});
    animated.keys.push_back(ModelFileKey{{0, 5, 0}, {3.0f, 0, -3.0f}, 0});
    rich.groups.push_back({{animated}});
    qfftest::addStreamTree(&rich);
    files.push_back(qfftest::writeModel(rich));
    return files;
}

} // namespace fuzz
