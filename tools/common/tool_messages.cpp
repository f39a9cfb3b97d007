#include "tool_messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void complain(const char* format, ...)
{
    std::fprintf(stderr, "%s: ", TOOL_NAME);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

void usage_error(const char* format, const char* detail)
{
    std::fprintf(stderr, "%s: ", TOOL_NAME);
    std::fprintf(stderr, format, detail);
    std::fputc('\n', stderr);
    std::fputs(USAGE_TEXT, stderr);
    std::exit(EXIT_USAGE);
}
