// quillmar-link: appends one document archive, made from every file below a
// scan folder, to the end of a target file.

#include <cstdio>

#include "collect/collect.h"
#include "command/command.h"
#include "platform/platform.h"

static int64_t archive_start;
static unsigned char copy_buffer[COPY_CHUNK];

// The streams' own buffers. Large ones turn the 1024-byte copy steps into few
// system calls, and a buffer given up front spares the C library the status
// query it would make to size one of its own.
constexpr size_t TARGET_STREAM_BUFFER = 256 * 1024;
constexpr size_t DOCUMENT_STREAM_BUFFER = 1024 * 1024;
static char target_stream_buffer[TARGET_STREAM_BUFFER];
static char document_stream_buffer[DOCUMENT_STREAM_BUFFER];

static void fail_to_write()
{
    exit_with_message("cannot write target file.");
}

// Copies exactly the size the scan recorded, so no header can disagree with
// its bytes; a document that ends early or grows ends the run.
static void copy_document(FILE* document, FILE* target, uint32_t size)
{
    uint32_t remaining = size;
    while (remaining > 0) {
        size_t wanted = remaining < COPY_CHUNK ? remaining : COPY_CHUNK;
        if (std::fread(copy_buffer, 1, wanted, document) != wanted) {
            exit_with_message("document changed while linking.");
        }
        write_target(target, copy_buffer, wanted);
        remaining -= static_cast<uint32_t>(wanted);
    }
    if (std::fread(copy_buffer, 1, COPY_CHUNK, document) != 0 || std::ferror(document)) {
        exit_with_message("document changed while linking.");
    }
}

// The flush is checked on its own: not every C runtime's fclose reports a
// failure to write out the buffer it still held.
static void close_target()
{
    FILE* stream = target_stream;
    target_stream = nullptr;
    bool flushed = std::fflush(stream) == 0;
    if (std::fclose(stream) != 0 || !flushed) {
        fail_to_write();
    }
}

int main(int argc, char** argv)
{
    std::printf("Quillmar Linker\n");
    if (argc != 3) {
        std::printf("usage: %s [scan folder] [target file]\n", argc > 0 ? argv[0] : "");
        return 0;
    }
    const char* scan_path = argv[1];
    const char* target_path = argv[2];

    bool target_existed = platform_path_exists(target_path);
    FILE* target = std::fopen(target_path, "ab");
    if (target == nullptr) {
        platform_message_box("cannot open target file.", "error");
        return 1;
    }
    target_stream = target;
    std::setvbuf(target, target_stream_buffer, _IOFBF, sizeof target_stream_buffer);

    if (!platform_seek_end(target) || (archive_start = platform_tell(target)) < 0) {
        fail_to_write();
    }
    // Only a regular file can be put back; a device or a pipe keeps what it got.
    platform_file_status target_status;
    if (platform_stream_status(target, &target_status) && target_status.kind == platform_file_kind::regular) {
        platform_arm_rollback(target_path, archive_start, !target_existed);
    }

    unsigned char placeholder[DOCUMENT_COUNT_SIZE] = {};
    write_target(target, placeholder, sizeof placeholder);

    scan_folder(target, scan_path, "");

    for (uint32_t i = 0; i < document_count; ++i) {
        FILE* document = std::fopen(document_list[i], "rb");
        if (document == nullptr) {
            exit_with_message("cannot open file for reading.");
        }
        std::setvbuf(document, document_stream_buffer, _IOFBF, sizeof document_stream_buffer);
        copy_document(document, target, document_size[i]);
        std::fclose(document);
    }

    int64_t end = platform_tell(target);
    if (end < 0) {
        fail_to_write();
    }
    unsigned char trailer[ARCHIVE_TRAILER_SIZE];
    put_le32(trailer, static_cast<uint32_t>(end - archive_start));
    put_le32(trailer + 4, DOCUMENT_ARCHIVE_MAGIC);
    write_target(target, trailer, sizeof trailer);
    close_target();

    // The count is known only now that the scan is over: patch it in place.
    target = std::fopen(target_path, "rb+");
    if (target == nullptr) {
        fail_to_write();
    }
    target_stream = target;
    unsigned char count[DOCUMENT_COUNT_SIZE];
    put_le32(count, document_count);
    if (!platform_seek(target, archive_start)) {
        fail_to_write();
    }
    write_target(target, count, sizeof count);
    close_target();

    platform_disarm_rollback();
    return 0;
}
