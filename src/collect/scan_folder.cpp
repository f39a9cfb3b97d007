#include <cstring>

#include "collect/collect.h"
#include "command/command.h"
#include "platform/platform.h"

char document_list[MAX_DOCUMENTS][MAX_PATH_TEXT];
uint32_t document_size[MAX_DOCUMENTS];
uint32_t document_count;
uint32_t running_offset;

static void print_progress(const char* file_path, const char* http_path)
{
    std::printf("item: %s %s\n", file_path, http_path);
    std::fflush(stdout);
}

// Walks one folder depth first: every file becomes a header in the target and
// an entry in document_list, every subfolder is scanned in its place.
void scan_folder(FILE* target, const char* folder_path, const char* http_prefix)
{
    platform_listing* listing = platform_open_listing(folder_path);
    if (listing == nullptr) {
        exit_with_message("cannopt access folder");
    }
    // The target may lie inside the tree; it must never be copied into itself.
    platform_file_status target_status;
    bool target_known = platform_stream_status(target, &target_status);

    char file_path[MAX_PATH_TEXT];
    char http_path[MAX_PATH_TEXT];
    platform_file_status status;
    document_header header;

    while (const char* name = platform_next_entry(listing)) {
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        // Paths too long for their texts are cut without notice.
        std::snprintf(file_path, sizeof file_path, "%s/%s", folder_path, name);
        std::snprintf(http_path, sizeof http_path, "%s/%s", http_prefix, name);
        print_progress(file_path, http_path);

        size_t http_length = std::strlen(http_path);
        if (http_length > MAX_HTTP_PATH) {
            exit_with_message("this path is longer than MAX_HTTP_PATH");
        }
        std::memset(&header, 0, sizeof header);
        std::memcpy(header.http_path, http_path, http_length);

        if (!platform_file_status_of(file_path, &status)) {
            exit_with_message("cannot stat item");
        }
        if (target_known && platform_same_file(status.identity, target_status.identity)) {
            continue;
        }
        bool is_folder = status.kind == platform_file_kind::folder;
        if (!is_folder) {
            // A pipe or a device has no end to copy up to.
            if (status.kind == platform_file_kind::special) {
                exit_with_message("cannot link special file");
            }
            if (status.size >= MAX_CONTENT_BYTES) {
                exit_with_message("document too large.");
            }
            if (running_offset + status.size >= MAX_CONTENT_BYTES) {
                exit_with_message("archive too large.");
            }
            header.content_size = static_cast<uint32_t>(status.size);
            header.content_offset = running_offset;
            running_offset += header.content_size;
        }
        if (document_count >= MAX_DOCUMENTS) {
            exit_with_message("max amount of documents reached.");
        }
        if (is_folder) {
            scan_folder(target, file_path, http_path);
            continue;
        }
        const mime_entry* mime = find_mime(http_path);
        std::memcpy(header.content_type, mime->mime_type, std::strlen(mime->mime_type));
        write_document_header(target, header);
        std::snprintf(document_list[document_count], MAX_PATH_TEXT, "%s", file_path);
        document_size[document_count] = header.content_size;
        ++document_count;
    }
    platform_close_listing(listing);
}
