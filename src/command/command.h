#pragma once

// The document archive that one run appends to the target file:
//
//   document_count           4 bytes
//   document_header x N     80 bytes each
//   content area             the documents' bytes back to back
//   archive_length           4 bytes: count + headers + content area
//   archive_magic            4 bytes: DOCUMENT_ARCHIVE_MAGIC
//
// Every integer is 32-bit unsigned, little-endian; nothing is aligned.

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint32_t DOCUMENT_ARCHIVE_MAGIC = 3322;

constexpr size_t DOCUMENT_COUNT_SIZE = 4;
constexpr size_t ARCHIVE_TRAILER_SIZE = 8; // archive_length, archive_magic

// document_header, field by field.
constexpr size_t HTTP_PATH_OFFSET = 0;
constexpr size_t HTTP_PATH_SIZE = 50;
constexpr size_t CONTENT_TYPE_OFFSET = 50;
constexpr size_t CONTENT_TYPE_SIZE = 22;
constexpr size_t CONTENT_SIZE_OFFSET = 72;
constexpr size_t CONTENT_OFFSET_OFFSET = 76;
constexpr size_t DOCUMENT_HEADER_SIZE = 80;

static_assert(CONTENT_TYPE_OFFSET == HTTP_PATH_OFFSET + HTTP_PATH_SIZE, "content_type follows http_path");
static_assert(CONTENT_SIZE_OFFSET == CONTENT_TYPE_OFFSET + CONTENT_TYPE_SIZE, "content_size follows content_type");
static_assert(CONTENT_OFFSET_OFFSET == CONTENT_SIZE_OFFSET + 4, "content_offset follows content_size");
static_assert(DOCUMENT_HEADER_SIZE == CONTENT_OFFSET_OFFSET + 4, "a header is 80 bytes");

// Documents are streamed through a buffer of this size.
constexpr size_t COPY_CHUNK = 1024;

// Texts hold a NUL after their last character unless they fill the field.
struct document_header {
    char http_path[HTTP_PATH_SIZE];
    char content_type[CONTENT_TYPE_SIZE];
    uint32_t content_size;
    uint32_t content_offset;
};

// The stream on the target file while it is open; exit_with_message closes it.
extern FILE* target_stream;

void put_le32(unsigned char* out, uint32_t value);
void encode_document_header(const document_header& header, unsigned char* out);

// Writes to the target, ending the run with "cannot write target file." on failure.
void write_target(FILE* target, const void* bytes, size_t size);
void write_document_header(FILE* target, const document_header& header);

// Prints text as a line and ends the process with status 1, after closing
// the target and putting it back as it was before the run.
[[noreturn]] void exit_with_message(const char* text);
