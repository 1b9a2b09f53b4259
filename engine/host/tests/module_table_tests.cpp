// Module and class tables with real shared libraries.
#include "engine/host/tests/HostFixture.h"

namespace {

using ModuleTableTest = HostFixture;

TEST_F(ModuleTableTest, HandlesCombineClassAndModuleIndices) {
    for (const char* name : {"m0", "m1", "m2", "m3"})
        std::filesystem::create_hard_link("MODULES/probe.so", std::string("MODULES/") + name + ".so");
    for (const char* name : {"c0", "c1", "c2", "c3", "c4", "c5", "c6"}) ASSERT_GE(registerClass(core->modules, name), 0);
    for (const char* name : {"m0", "m1", "m2"}) ASSERT_GE(loadModule(core->modules, name), 0);
    int handle = registerHandle(core->modules, "m3", "counter");
    EXPECT_EQ(handle, 458755); // module 3, class 7
    const char* moduleName = nullptr;
    const char* className = nullptr;
    EXPECT_EQ(namesOfHandle(core->modules, handle, &moduleName, &className), 1);
    EXPECT_STREQ(moduleName, "m3");
    EXPECT_STREQ(className, "counter");
    sdk::Entity* entity = createByHandle(core->modules, handle);
    ASSERT_NE(entity, nullptr);
    entity->destroy(sdk::kDestroyFree);
    releaseHandle(core->modules, handle);
    EXPECT_EQ(core->modules.modules[3].refCount, 0);
    EXPECT_EQ(core->modules.modules[3].library, nullptr);
}

TEST_F(ModuleTableTest, NamesAreStoredLowerCaseAndMatchedAsTheyAreStored) {
    std::filesystem::create_hard_link("MODULES/probe.so", "MODULES/Probe.so");
    int lower = loadModule(core->modules, "probe");
    int upper = loadModule(core->modules, "Probe");
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 1); // a request with capitals never matches a stored name
    EXPECT_STREQ(core->modules.modules[1].name, "probe");
    EXPECT_STREQ(core->modules.modules[0].name, "probe");
    EXPECT_EQ(loadModule(core->modules, "probe"), 0); // the first held entry with that name
    EXPECT_EQ(core->modules.modules[0].refCount, 2);
    EXPECT_EQ(findHandle(core->modules, "PROBE", nullptr), -1); // no class registered yet
    registerClass(core->modules, "probe");
    EXPECT_EQ(findHandle(core->modules, "PROBE", nullptr), 0);
    EXPECT_EQ(findModule(core->modules, "Probe"), -1);
    EXPECT_EQ(findModule(core->modules, "probe"), 0);
}

TEST_F(ModuleTableTest, UnsafeAndOverlongNamesAreRefused) {
    const char* refused[] = {nullptr, "", "../probe", "sub/probe", "a\\b", "..",
                             "a_module_name_of_thirty_two_chars"};
    for (const char* name : refused) EXPECT_EQ(loadModule(core->modules, name), -1) << (name ? name : "(null)");
    EXPECT_EQ(registerClass(core->modules, "a_class_name_of_exactly_32_chars"), -1);
    EXPECT_EQ(registerHandle(core->modules, nullptr, nullptr), -1);
    EXPECT_EQ(core->modules.moduleCount, 0);
}

TEST_F(ModuleTableTest, ALibraryWithoutCreateEntityIsRefusedAndFreed) {
    std::filesystem::copy_file(NO_EXPORT_LIBRARY_PATH, "MODULES/bare.so");
    EXPECT_EQ(loadModule(core->modules, "bare"), -1);
    EXPECT_EQ(core->modules.modules[0].library, nullptr);
    EXPECT_EQ(core->modules.moduleCount, 0);
    EXPECT_EQ(loadModule(core->modules, "absent"), -1);
    EXPECT_EQ(loadModule(core->modules, "probe"), 0); // the free entry is reused
}

TEST_F(ModuleTableTest, The1025thModuleIsRefusedUntilOneIsReleased) {
    for (int i = 0; i < 1025; ++i)
        std::filesystem::create_hard_link("MODULES/probe.so", "MODULES/x" + std::to_string(i) + ".so");
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(loadModule(core->modules, ("x" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(loadModule(core->modules, "x1024"), -1);
    releaseModule(core->modules, 500);
    EXPECT_EQ(loadModule(core->modules, "x1024"), 500);
    releaseModuleByName(core->modules, "x7");
    EXPECT_EQ(core->modules.modules[7].refCount, 0);
    unloadAll(core->modules);
    EXPECT_EQ(core->modules.moduleCount, 1024);
}

TEST_F(ModuleTableTest, ReleaseByNamesDecrementsClassesAndTheFirstHeldModule) {
    int first = registerHandle(core->modules, "probe", "counter");
    int second = registerHandle(core->modules, "probe", "counter");
    ASSERT_EQ(first, second);
    EXPECT_EQ(core->modules.modules[0].refCount, 2);
    EXPECT_EQ(core->modules.classes[0].refCount, 2);
    releaseByNames(core->modules, "probe", "counter");
    EXPECT_EQ(core->modules.modules[0].refCount, 1);
    EXPECT_EQ(core->modules.classes[0].refCount, 1);
    releaseByNames(core->modules, nullptr, nullptr);
    EXPECT_EQ(core->modules.modules[0].refCount, 1);
}

} // namespace
