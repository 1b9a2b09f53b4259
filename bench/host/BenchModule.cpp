// A module whose entities do nothing, so the benchmarks measure the engine's own cost per object.
#include <cstring>
#include <new>

#include <sdk/Module.h>

namespace {

class Placed : public sdk::PlacedObject {
public:
    int32_t update(int32_t) override { return 0; }
};

class Plain : public sdk::Entity {
public:
    int32_t message(const uint8_t*) override { return 0; }
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    if (className && std::strcmp(className, "placed") == 0) return new (std::nothrow) Placed;
    return new (std::nothrow) Plain;
}
