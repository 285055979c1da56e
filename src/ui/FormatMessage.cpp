#include "ui/Prompts.h"

#include <cstdarg>
#include <cstdio>

namespace tallyport {

std::string FormatMessage(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return written < 0 ? std::string() : std::string(buffer);
}

} // namespace tallyport
