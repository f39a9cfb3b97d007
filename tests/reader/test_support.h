#pragma once

// What the reader's tests add to the shared test support: where the fields of
// an archive made by archive_bytes() lie, for damaging them one at a time.

#include <cstddef>
#include <string>
#include <vector>

#include "support/archive_bytes.h"
#include "support/run_linker.h"
#include "support/temp_tree.h"

constexpr size_t COUNT_AT = 0;
constexpr size_t header_at(size_t index)
{
    return 4 + 80 * index;
}
constexpr size_t CONTENT_TYPE_FIELD = 50;
constexpr size_t CONTENT_SIZE_FIELD = 72;
constexpr size_t CONTENT_OFFSET_FIELD = 76;

inline run_result run(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_program(argv);
}
