#include "support/archive_bytes.h"

#include <stdexcept>

std::string le32(uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xff);
    }
    return bytes;
}

void put_le32_at(std::string& bytes, size_t position, uint32_t value)
{
    bytes.replace(position, 4, le32(value));
}

static std::string field(const std::string& text, size_t size, char fill)
{
    if (text.size() > size) {
        throw std::logic_error("text does not fit its field: " + text);
    }
    if (text.size() == size) {
        return text;
    }
    return text + '\0' + std::string(size - text.size() - 1, fill);
}

std::string header_record(const std::string& http_path, const std::string& content_type, uint32_t content_size,
                          uint32_t content_offset, char fill)
{
    return field(http_path, 50, fill) + field(content_type, 22, fill) + le32(content_size) + le32(content_offset);
}

std::string archive_bytes(const std::vector<expected_document>& documents)
{
    std::string headers;
    std::string contents;
    for (const expected_document& document : documents) {
        headers += header_record(document.http_path, document.content_type,
                                 static_cast<uint32_t>(document.content.size()),
                                 static_cast<uint32_t>(contents.size()));
        contents += document.content;
    }
    std::string body = le32(static_cast<uint32_t>(documents.size())) + headers + contents;
    return body + le32(static_cast<uint32_t>(body.size())) + le32(3322);
}
