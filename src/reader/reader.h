#pragma once

// Reading document archives back out of a target file.
//
// A target ends in the archive its last link run appended; earlier runs left
// their archives directly before it, each one's magic ending where the next
// one's document_count begins. The reader finds the last archive from the
// file's end, checks every rule of the layout before it trusts a field, and
// can walk back through the earlier ones.
//
// The reader never reads outside the byte source and allocates nothing: an
// archive's headers go into a fixed table whose size is the format's own
// limit on the document count. Document bytes are never loaded whole; callers
// stream them from their absolute position (copy_document, or
// source_read_at in chunks).
//
// This is an independent reading of the format, deliberately sharing no code
// with the linker, so that the one can be used to check the other.

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint32_t READER_ARCHIVE_MAGIC = 3322;

constexpr size_t READER_COUNT_SIZE = 4;
constexpr size_t READER_TRAILER_SIZE = 8; // archive_length, archive_magic
constexpr size_t READER_SMALLEST_ARCHIVE = READER_COUNT_SIZE + READER_TRAILER_SIZE;

// document_header, field by field.
constexpr size_t READER_HTTP_PATH_OFFSET = 0;
constexpr size_t READER_HTTP_PATH_SIZE = 50;
constexpr size_t READER_CONTENT_TYPE_OFFSET = 50;
constexpr size_t READER_CONTENT_TYPE_SIZE = 22;
constexpr size_t READER_CONTENT_SIZE_OFFSET = 72;
constexpr size_t READER_CONTENT_OFFSET_OFFSET = 76;
constexpr size_t READER_HEADER_SIZE = 80;

static_assert(READER_CONTENT_TYPE_OFFSET == READER_HTTP_PATH_OFFSET + READER_HTTP_PATH_SIZE,
              "content_type follows http_path");
static_assert(READER_CONTENT_SIZE_OFFSET == READER_CONTENT_TYPE_OFFSET + READER_CONTENT_TYPE_SIZE,
              "content_size follows content_type");
static_assert(READER_CONTENT_OFFSET_OFFSET == READER_CONTENT_SIZE_OFFSET + 4, "content_offset follows content_size");
static_assert(READER_HEADER_SIZE == READER_CONTENT_OFFSET_OFFSET + 4, "a header is 80 bytes");

// The most documents one archive may hold.
constexpr uint32_t READER_MAX_DOCUMENTS = 1023;

// Where archive bytes come from: an open file or a buffer in memory. The
// length is taken once, when the source is made; nothing past it is read.
struct byte_source {
    FILE* file;                 // null for a memory source
    const unsigned char* bytes; // null for a file source
    uint64_t length;
};

// Takes the file's length by seeking to its end. False when the stream cannot
// seek (a pipe, a terminal), is a folder, or its length cannot be known;
// errno then tells why.
bool source_from_file(byte_source* source, FILE* file);
byte_source source_from_memory(const unsigned char* bytes, size_t size);

// Reads exactly size bytes at position. False, with nothing promised about
// out, when any of them lies past the source's length or the read fails.
bool source_read_at(const byte_source& source, uint64_t position, void* out, size_t size);

uint32_t get_le32(const unsigned char* in);

enum class reader_status {
    ok,
    read_failed,
    write_failed,
    file_too_short,
    no_magic,
    length_too_small,
    length_too_large,
    count_does_not_fit,
    count_too_large,
    content_type_unterminated,
    document_outside_content,
    offsets_not_contiguous,
    content_not_filled,
};

// The first broken rule: a status for programs and a line for people.
struct reader_error {
    reader_status status;
    char message[200];
};

// One document_header, decoded, plus where its bytes lie in the source.
struct document_entry {
    char http_path[READER_HTTP_PATH_SIZE + 1]; // always NUL-terminated
    char content_type[READER_CONTENT_TYPE_SIZE];
    uint32_t content_size;
    uint32_t content_offset;
    uint64_t position; // absolute: content_start + content_offset
};

struct document_archive {
    uint64_t archive_start;  // absolute position of document_count
    uint64_t archive_end;    // absolute position just past archive_magic
    uint32_t archive_length; // the trailer's value
    uint64_t content_start;  // absolute
    uint64_t content_length; // the content area's size
    uint32_t document_count;
    document_entry documents[READER_MAX_DOCUMENTS]; // the first document_count are valid
};

// Finds and checks the archive whose magic ends at end. On failure archive
// holds nothing useful and error names the first rule broken.
bool read_archive_ending_at(const byte_source& source, uint64_t end, document_archive* archive, reader_error* error);

// The archive the last link run appended: the one ending at the source's end.
bool read_last_archive(const byte_source& source, document_archive* archive, reader_error* error);

// Whether the magic stands directly before archive_start, that is whether an
// earlier run's archive should end there. Read it with
// read_archive_ending_at(source, later.archive_start, ...).
bool has_earlier_archive(const byte_source& source, const document_archive& later);

// Streams the document's bytes to out in fixed chunks. On failure error says
// whether reading the source or writing out went wrong; out is not flushed.
bool copy_document(const byte_source& source, const document_entry& document, FILE* out, reader_error* error);
