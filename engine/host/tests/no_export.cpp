// A shared library that is not a module: it has no CreateEntity.
extern "C" int notAModule() { return 0; }
