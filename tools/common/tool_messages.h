#pragma once

// How the companion tools speak: "TOOL: message" lines on standard error, and
// for a wrong command line the usage text and exit status 2.

constexpr int EXIT_USAGE = 2;

// Each tool defines these two.
extern const char* const TOOL_NAME;
extern const char* const USAGE_TEXT;

void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void usage_error(const char* format, const char* detail);
