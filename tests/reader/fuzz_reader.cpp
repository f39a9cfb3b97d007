// libFuzzer target: any bytes as a target file, read from memory. Besides
// the sanitizers' own checks, every archive the reader accepts must keep the
// promises a server relies on when it streams documents from the file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reader/reader.h"

static document_archive archive;
static unsigned char chunk[4096];
static FILE* sink;

static void expect(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

static void check_accepted(const byte_source& source, const document_archive& accepted)
{
    expect(accepted.archive_end <= source.length);
    expect(accepted.document_count <= READER_MAX_DOCUMENTS);
    expect(accepted.archive_start + READER_COUNT_SIZE + uint64_t{accepted.document_count} * READER_HEADER_SIZE ==
           accepted.content_start);
    expect(accepted.content_start + accepted.content_length + READER_TRAILER_SIZE == accepted.archive_end);
    expect(accepted.archive_start + READER_TRAILER_SIZE + accepted.archive_length == accepted.archive_end);

    uint64_t next = accepted.content_start;
    for (uint32_t i = 0; i < accepted.document_count; ++i) {
        const document_entry& document = accepted.documents[i];
        expect(std::strlen(document.http_path) <= READER_HTTP_PATH_SIZE);
        expect(std::strlen(document.content_type) < READER_CONTENT_TYPE_SIZE);
        expect(document.position == next);
        // Streaming the bytes must work, chunk by chunk, as a server would.
        uint64_t remaining = document.content_size;
        uint64_t position = document.position;
        while (remaining > 0) {
            size_t wanted = remaining < sizeof chunk ? static_cast<size_t>(remaining) : sizeof chunk;
            expect(source_read_at(source, position, chunk, wanted));
            position += wanted;
            remaining -= wanted;
        }
        reader_error error;
        expect(copy_document(source, document, sink, &error));
        next += document.content_size;
    }
    expect(next == accepted.content_start + accepted.content_length);
}

static void check_refused(const reader_error& error)
{
    expect(error.status != reader_status::ok);
    expect(std::memchr(error.message, '\0', sizeof error.message) != nullptr);
    expect(error.message[0] != '\0');
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (sink == nullptr) {
        sink = std::fopen("/dev/null", "wb");
        expect(sink != nullptr);
    }
    byte_source source = source_from_memory(data, size);
    reader_error error;
    if (!read_last_archive(source, &archive, &error)) {
        check_refused(error);
        return 0;
    }
    check_accepted(source, archive);

    // Every archive takes at least 12 bytes, which bounds the walk.
    size_t walked = 0;
    while (has_earlier_archive(source, archive)) {
        uint64_t end = archive.archive_start;
        if (!read_archive_ending_at(source, end, &archive, &error)) {
            check_refused(error);
            break;
        }
        expect(archive.archive_end == end);
        check_accepted(source, archive);
        expect(++walked <= size / READER_SMALLEST_ARCHIVE);
    }
    return 0;
}
