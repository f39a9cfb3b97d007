#include "command/command.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

FILE* target_stream = nullptr;

void put_le32(unsigned char* out, uint32_t value)
{
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

static size_t bounded_length(const char* text, size_t limit)
{
    const void* end = std::memchr(text, '\0', limit);
    return end == nullptr ? limit : static_cast<size_t>(static_cast<const char*>(end) - text);
}

// Bytes after a text's terminator stay zero, so equal trees give equal bytes.
void encode_document_header(const document_header& header, unsigned char* out)
{
    std::memset(out, 0, DOCUMENT_HEADER_SIZE);
    std::memcpy(out + HTTP_PATH_OFFSET, header.http_path, bounded_length(header.http_path, HTTP_PATH_SIZE));
    std::memcpy(out + CONTENT_TYPE_OFFSET, header.content_type,
                bounded_length(header.content_type, CONTENT_TYPE_SIZE));
    put_le32(out + CONTENT_SIZE_OFFSET, header.content_size);
    put_le32(out + CONTENT_OFFSET_OFFSET, header.content_offset);
}

void write_target(FILE* target, const void* bytes, size_t size)
{
    if (std::fwrite(bytes, 1, size, target) != size) {
        exit_with_message("cannot write target file.");
    }
}

void write_document_header(FILE* target, const document_header& header)
{
    unsigned char record[DOCUMENT_HEADER_SIZE];
    encode_document_header(header, record);
    write_target(target, record, sizeof record);
}

void exit_with_message(const char* text)
{
    // Close first: the buffered bytes must reach the file before it is cut,
    // not at the process's exit after it. A failing close changes nothing here.
    if (target_stream != nullptr) {
        FILE* stream = target_stream;
        target_stream = nullptr;
        std::fclose(stream);
    }
    platform_rollback();
    std::printf("%s\n", text);
    std::exit(1);
}
