// The demo module: a walk through the demo world. The start-up description names it as the core logic
// module ("logic" / class "demo"); the world description's items name its object classes.
#include <cstring>
#include <new>

#include <sdk/Module.h>

#include "DemoLogic.h"
#include "SceneObjects.h"

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    using namespace demo;
    if (!className) return new (std::nothrow) DemoLogic;
    if (std::strcmp(className, "world") == 0 || std::strcmp(className, "prop") == 0)
        return new (std::nothrow) StaticPiece;
    if (std::strcmp(className, "spinner") == 0) return new (std::nothrow) Spinner;
    if (std::strcmp(className, "sky") == 0) return new (std::nothrow) Sky;
    if (std::strcmp(className, "effects") == 0) return new (std::nothrow) Effects;
    return nullptr;
}
