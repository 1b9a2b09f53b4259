// Loads a module the way the engine does (dlopen, contract version, CreateEntity, init with a core
// services object) and checks what the sample module's entity does: it reports the screen size as a
// print message to the core, and asks the core to quit on Escape.
//   module_check <path to hello_module.so>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sdk/Module.h"

namespace {

// Reports an 800 x 600 screen and keeps every message the module posts.
class RecordingCore final : public sdk::CoreServices {
  public:
    sdk::ScreenPoint* getScreenSize(sdk::ScreenPoint* size) override {
        if (size != nullptr) *size = {800, 600};
        return size;
    }

    int32_t postMessage(int32_t code, int32_t destination, int32_t parameter, const char* format,
                        ...) override {
        va_list args;
        va_start(args, format);
        const int32_t size =
            sdk::writeEngineMessageV(staging_, sizeof staging_, code, destination, parameter, format, args);
        va_end(args);
        if (size < 0) return 0;
        posted.emplace_back(staging_, staging_ + size);
        return 1;
    }

    std::vector<std::vector<uint8_t>> posted;

  private:
    uint8_t staging_[sdk::kStagingAreaBytes];
};

int fail(const std::string& what) {
    std::fprintf(stderr, "module_check: %s\n", what.c_str());
    return 1;
}

// The text of a print message, or "" when the message is not one.
std::string printedText(const std::vector<uint8_t>& message) {
    const sdk::EngineMessageHeader header = sdk::readMessageHeader(message.data());
    if (header.code != sdk::kCorePrint || header.destination != sdk::kDestinationCore) return "";
    sdk::PayloadReader reader = sdk::PayloadReader::ofMessage(message.data());
    int32_t length = 0;
    const uint8_t* bytes = nullptr;
    if (!reader.readCounted(&length, &bytes)) return "";
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

int checkEntity(sdk::CreateEntityFunction createEntity) {
    sdk::Entity* entity = createEntity(nullptr);
    if (entity == nullptr) return fail("CreateEntity(null) returned null");
    RecordingCore core;
    if (entity->init(&core) != 1) return fail("init did not succeed");
    if (core.posted.size() != 1)
        return fail("init posted " + std::to_string(core.posted.size()) + " messages");
    const std::string text = printedText(core.posted[0]);
    if (text != "hello_module: screen 800 x 600") return fail("init printed \"" + text + "\"");

    entity->input(win::WM_KEYUP, win::VK_ESCAPE, 0);
    entity->input(win::WM_KEYDOWN, win::VK_SPACE, 0);
    if (core.posted.size() != 1) return fail("a key other than Escape going down posted a message");
    entity->input(win::WM_KEYDOWN, win::VK_ESCAPE, 0);
    if (core.posted.size() != 2) return fail("Escape posted nothing");
    const sdk::EngineMessageHeader quit = sdk::readMessageHeader(core.posted[1].data());
    if (quit.code != sdk::kCoreQuit || quit.destination != sdk::kDestinationCore || quit.size != 16)
        return fail("Escape posted something other than the quit message");

    entity->destroy(sdk::kDestroyFree);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return fail("usage: module_check <module.so>");
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return fail(dlerror());

    const sdk::ContractCheck check = sdk::checkModuleContract(dlsym(library, sdk::kContractVersionSymbol));
    if (!check.declared) return fail("no contract version exported");
    if (!check.accepted) {
        char line[256];
        sdk::formatContractRefusal(line, sizeof line, argv[1], check.moduleVersion);
        return fail(line);
    }
    void* create = dlsym(library, sdk::kCreateEntitySymbol);
    if (create == nullptr) return fail("no CreateEntity exported");

    const int result = checkEntity(reinterpret_cast<sdk::CreateEntityFunction>(create));
    dlclose(library);
    if (result == 0) std::printf("module_check: %s loads and behaves\n", argv[1]);
    return result;
}
