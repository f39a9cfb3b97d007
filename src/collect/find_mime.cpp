#include <cstring>

#include "collect/collect.h"
#include "command/command.h"

const mime_entry mime_table[] = {
    {".", "unknown"},
    {".html", "text/html"},
    {".htm", "text/html"},
    {".js", "text/javascript"},
    {".css", "text/css"},
    {".bmp", "image/bmp"},
    {".gif", "image/gif"},
    {".xml", "application/xml"},
    {"", ""},
};

static_assert(sizeof(mime_entry::mime_type) < CONTENT_TYPE_SIZE, "every content type fits a header with its NUL");

// The extension runs from the last dot to the end of the path, even when
// that dot lies in a folder's name; the match is exact and case-sensitive.
const mime_entry* find_mime(const char* http_path)
{
    if (http_path == nullptr) {
        exit_with_message("impossible to apply find_mime with an empty filename");
    }
    const char* extension = std::strrchr(http_path, '.');
    if (extension == nullptr) {
        return &mime_table[0];
    }
    for (const mime_entry* row = mime_table; row->extension[0] != '\0'; ++row) {
        if (std::strcmp(row->extension, extension) == 0) {
            return row;
        }
    }
    return &mime_table[0];
}
