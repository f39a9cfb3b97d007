#pragma once

// Document collection: the walk of the scan folder that writes one
// document_header per file into the target and remembers each file's path
// and size for the copy.

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr size_t MAX_HTTP_PATH = 50;   // characters; 50 is accepted, 51 is not
constexpr size_t MAX_DOCUMENTS = 1023; // documents in one archive
constexpr size_t MAX_PATH_TEXT = 255;  // bytes of every path text, terminator included

// The 32-bit fields of the archive cannot describe more than this.
constexpr uint64_t MAX_CONTENT_BYTES = uint64_t{1} << 31;

struct mime_entry {
    char extension[10];
    char mime_type[20];
};

// Ends with a row whose extension is empty; row 0 is the fallback.
extern const mime_entry mime_table[];

// Filled by scan_folder, in header order.
extern char document_list[MAX_DOCUMENTS][MAX_PATH_TEXT];
extern uint32_t document_size[MAX_DOCUMENTS];
extern uint32_t document_count;
extern uint32_t running_offset;

void scan_folder(FILE* target, const char* folder_path, const char* http_prefix);

// Never null: a path without a known extension gets row 0, "unknown".
const mime_entry* find_mime(const char* http_path);
