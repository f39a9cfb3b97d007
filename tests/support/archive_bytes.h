#pragma once

// The bytes a run is expected to append, built independently of the linker.

#include <cstdint>
#include <string>
#include <vector>

struct expected_document {
    std::string http_path;
    std::string content_type;
    std::string content;
};

std::string le32(uint32_t value);

// http_path (50 bytes), content_type (22 bytes), content_size,
// content_offset. A text shorter than its field gets a NUL, and the rest of
// the field is fill (zero, as the linker writes it, unless a test shows that
// readers ignore it).
std::string header_record(const std::string& http_path, const std::string& content_type, uint32_t content_size,
                          uint32_t content_offset, char fill = '\0');

// Overwrites the 32-bit little-endian value at position.
void put_le32_at(std::string& bytes, size_t position, uint32_t value);

// Count, headers, contents back to back, archive_length, magic 3322.
std::string archive_bytes(const std::vector<expected_document>& documents);
