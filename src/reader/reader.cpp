#include "reader/reader.h"

#include <cstdarg>
#include <cstring>

#include "reader/reader_file.h"

// Documents are streamed through a buffer of this size.
constexpr size_t COPY_CHUNK = 16384;

bool source_from_file(byte_source* source, FILE* file)
{
    uint64_t length = 0;
    if (!reader_file_length(file, &length)) {
        return false;
    }
    source->file = file;
    source->bytes = nullptr;
    source->length = length;
    return true;
}

byte_source source_from_memory(const unsigned char* bytes, size_t size)
{
    byte_source source;
    source.file = nullptr;
    source.bytes = bytes;
    source.length = size;
    return source;
}

bool source_read_at(const byte_source& source, uint64_t position, void* out, size_t size)
{
    // Written so that neither side can wrap around.
    if (position > source.length || size > source.length - position) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    if (source.file == nullptr) {
        std::memcpy(out, source.bytes + position, size);
        return true;
    }
    // A file that shrank since its length was taken gives a short read here.
    return reader_seek(source.file, position) && std::fread(out, 1, size, source.file) == size;
}

uint32_t get_le32(const unsigned char* in)
{
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

static bool fail(reader_error* error, reader_status status, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

static bool fail(reader_error* error, reader_status status, const char* format, ...)
{
    error->status = status;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(error->message, sizeof error->message, format, arguments);
    va_end(arguments);
    return false;
}

static bool fail_read(reader_error* error, uint64_t position)
{
    return fail(error, reader_status::read_failed, "cannot read the file at position %llu",
                static_cast<unsigned long long>(position));
}

// Paths go into messages; a control character in one must not garble the line.
static void printable_copy(char* out, const char* text)
{
    size_t i = 0;
    for (; text[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out[i] = c < 0x20 || c == 0x7f ? '?' : text[i];
    }
    out[i] = '\0';
}

static bool decode_header(const unsigned char* record, uint32_t index, document_entry* entry, reader_error* error)
{
    // A path of exactly 50 characters fills its field and has no terminator.
    const unsigned char* path = record + READER_HTTP_PATH_OFFSET;
    const void* path_end = std::memchr(path, '\0', READER_HTTP_PATH_SIZE);
    size_t path_length = path_end == nullptr ? READER_HTTP_PATH_SIZE
                                             : static_cast<size_t>(static_cast<const unsigned char*>(path_end) - path);
    std::memcpy(entry->http_path, path, path_length);
    entry->http_path[path_length] = '\0';

    const unsigned char* type = record + READER_CONTENT_TYPE_OFFSET;
    const void* type_end = std::memchr(type, '\0', READER_CONTENT_TYPE_SIZE);
    if (type_end == nullptr) {
        char shown[READER_HTTP_PATH_SIZE + 1];
        printable_copy(shown, entry->http_path);
        return fail(error, reader_status::content_type_unterminated, "document %u (%s): content type has no terminator",
                    index, shown);
    }
    size_t type_length = static_cast<size_t>(static_cast<const unsigned char*>(type_end) - type);
    std::memcpy(entry->content_type, type, type_length);
    entry->content_type[type_length] = '\0';

    entry->content_size = get_le32(record + READER_CONTENT_SIZE_OFFSET);
    entry->content_offset = get_le32(record + READER_CONTENT_OFFSET_OFFSET);
    return true;
}

bool read_archive_ending_at(const byte_source& source, uint64_t end, document_archive* archive, reader_error* error)
{
    error->status = reader_status::ok;
    error->message[0] = '\0';
    archive->document_count = 0;

    if (end > source.length) {
        return fail_read(error, end);
    }
    if (end < READER_SMALLEST_ARCHIVE) {
        return fail(error, reader_status::file_too_short,
                    "too short for an archive: %llu bytes, an archive takes at least %zu",
                    static_cast<unsigned long long>(end), READER_SMALLEST_ARCHIVE);
    }

    unsigned char trailer[READER_TRAILER_SIZE];
    if (!source_read_at(source, end - READER_TRAILER_SIZE, trailer, sizeof trailer)) {
        return fail_read(error, end - READER_TRAILER_SIZE);
    }
    uint32_t archive_length = get_le32(trailer);
    uint32_t magic = get_le32(trailer + 4);
    if (magic != READER_ARCHIVE_MAGIC) {
        return fail(error, reader_status::no_magic, "no archive magic at the end (found %u, expected %u)", magic,
                    READER_ARCHIVE_MAGIC);
    }
    if (archive_length < READER_COUNT_SIZE) {
        return fail(error, reader_status::length_too_small,
                    "archive length %u is smaller than the document count field", archive_length);
    }
    uint64_t before_trailer = end - READER_TRAILER_SIZE;
    if (archive_length > before_trailer) {
        return fail(error, reader_status::length_too_large,
                    "archive length %u is larger than the file: only %llu bytes precede the trailer", archive_length,
                    static_cast<unsigned long long>(before_trailer));
    }
    uint64_t start = before_trailer - archive_length;

    unsigned char count_field[READER_COUNT_SIZE];
    if (!source_read_at(source, start, count_field, sizeof count_field)) {
        return fail_read(error, start);
    }
    uint32_t count = get_le32(count_field);
    uint64_t header_bytes = uint64_t{count} * READER_HEADER_SIZE;
    if (header_bytes > archive_length - READER_COUNT_SIZE) {
        return fail(error, reader_status::count_does_not_fit,
                    "document count %u does not fit: its headers take %llu bytes, the archive length %u leaves %u",
                    count, static_cast<unsigned long long>(header_bytes), archive_length,
                    archive_length - static_cast<uint32_t>(READER_COUNT_SIZE));
    }
    if (count > READER_MAX_DOCUMENTS) {
        return fail(error, reader_status::count_too_large, "document count %u is larger than the limit of %u", count,
                    READER_MAX_DOCUMENTS);
    }

    archive->archive_start = start;
    archive->archive_end = end;
    archive->archive_length = archive_length;
    archive->content_start = start + READER_COUNT_SIZE + header_bytes;
    archive->content_length = before_trailer - archive->content_start;

    // Each document must begin where the one before it ended and stay inside
    // the content area, which together leave no gaps and no overlaps.
    uint64_t running_offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        unsigned char record[READER_HEADER_SIZE];
        uint64_t record_position = start + READER_COUNT_SIZE + uint64_t{i} * READER_HEADER_SIZE;
        if (!source_read_at(source, record_position, record, sizeof record)) {
            return fail_read(error, record_position);
        }
        document_entry* entry = &archive->documents[i];
        if (!decode_header(record, i, entry, error)) {
            return false;
        }
        uint64_t document_end = uint64_t{entry->content_offset} + entry->content_size;
        if (document_end > archive->content_length) {
            char shown[READER_HTTP_PATH_SIZE + 1];
            printable_copy(shown, entry->http_path);
            return fail(error, reader_status::document_outside_content,
                        "document %u (%s): bytes %u to %llu lie outside the content area of %llu bytes", i, shown,
                        entry->content_offset, static_cast<unsigned long long>(document_end),
                        static_cast<unsigned long long>(archive->content_length));
        }
        if (entry->content_offset != running_offset) {
            char shown[READER_HTTP_PATH_SIZE + 1];
            printable_copy(shown, entry->http_path);
            return fail(error, reader_status::offsets_not_contiguous,
                        "document %u (%s): offset %u is not contiguous, the documents before it end at %llu", i, shown,
                        entry->content_offset, static_cast<unsigned long long>(running_offset));
        }
        entry->position = archive->content_start + entry->content_offset;
        running_offset = document_end;
    }
    if (running_offset != archive->content_length) {
        return fail(error, reader_status::content_not_filled,
                    "the documents end at %llu, but the content area holds %llu bytes",
                    static_cast<unsigned long long>(running_offset),
                    static_cast<unsigned long long>(archive->content_length));
    }
    archive->document_count = count;
    return true;
}

bool read_last_archive(const byte_source& source, document_archive* archive, reader_error* error)
{
    return read_archive_ending_at(source, source.length, archive, error);
}

bool has_earlier_archive(const byte_source& source, const document_archive& later)
{
    if (later.archive_start < READER_COUNT_SIZE) {
        return false;
    }
    unsigned char magic[4];
    return source_read_at(source, later.archive_start - sizeof magic, magic, sizeof magic) &&
           get_le32(magic) == READER_ARCHIVE_MAGIC;
}

bool copy_document(const byte_source& source, const document_entry& document, FILE* out, reader_error* error)
{
    unsigned char chunk[COPY_CHUNK];
    uint64_t position = document.position;
    uint64_t remaining = document.content_size;
    while (remaining > 0) {
        size_t wanted = remaining < COPY_CHUNK ? static_cast<size_t>(remaining) : COPY_CHUNK;
        if (!source_read_at(source, position, chunk, wanted)) {
            return fail_read(error, position);
        }
        if (std::fwrite(chunk, 1, wanted, out) != wanted) {
            return fail(error, reader_status::write_failed, "cannot write the document's bytes");
        }
        position += wanted;
        remaining -= wanted;
    }
    return true;
}
