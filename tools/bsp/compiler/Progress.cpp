#include "tools/bsp/compiler/compiler.h"

#include <cstdarg>
#include <cstdio>

namespace compiler {

void Progress::logf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    logLine(text);
}

void Progress::titlef(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    titleText(text);
}

} // namespace compiler
