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

// http_path (50 bytes, zero-padded), content_type (22 bytes, zero-padded),
// content_size, content_offset.
std::string header_record(const std::string& http_path, const std::string& content_type, uint32_t content_size,
                          uint32_t content_offset);

// Count, headers, contents back to back, archive_length, magic 3322.
std::string archive_bytes(const std::vector<expected_document>& documents);
