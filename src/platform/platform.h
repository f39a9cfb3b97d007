#pragma once

// The operating-system services the linker needs, and nothing else. Each
// platform has its own implementation file, chosen by the build; no other
// code in the project talks to the operating system directly.

#include <cstdint>
#include <cstdio>

// Directory listing. Entries come in byte order of their names (strcmp), so
// the same tree gives the same archive everywhere; "." and ".." are never
// listed. A listing that fails part way simply yields no further entries.
struct platform_listing;
platform_listing* platform_open_listing(const char* path); // null on failure
const char* platform_next_entry(platform_listing* listing); // null at the end
void platform_close_listing(platform_listing* listing);

enum class platform_file_kind { folder, regular, special };

// What identifies one file on the machine, however it is reached.
struct platform_file_identity {
    uint64_t volume;
    uint64_t index;
};

struct platform_file_status {
    platform_file_kind kind;
    uint64_t size;
    platform_file_identity identity;
};

// Follows symbolic links, as a reader of the file would.
bool platform_file_status_of(const char* path, platform_file_status* status);
bool platform_stream_status(FILE* stream, platform_file_status* status);
bool platform_same_file(const platform_file_identity& a, const platform_file_identity& b);
bool platform_path_exists(const char* path);

// 64-bit file positions, whatever the width of the C library's own.
bool platform_seek(FILE* stream, int64_t position);
bool platform_seek_end(FILE* stream);
int64_t platform_tell(FILE* stream); // -1 on failure

// Rolling the target back. Once armed, platform_rollback() and an
// interruption (Ctrl-C, termination, hang-up, a reader of the progress lines
// that went away) all cut the file at path back to length, or remove it when
// remove_file is set.
void platform_arm_rollback(const char* path, int64_t length, bool remove_file);
void platform_disarm_rollback();
void platform_rollback();

// One modal message box with an OK button; returns once it is dismissed.
void platform_message_box(const char* text, const char* caption);
