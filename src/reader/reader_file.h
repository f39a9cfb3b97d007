#pragma once

// The two things the reader needs from a file beyond standard C streams:
// positions past 2 GiB. Kept apart so the rest of the reader stays portable.

#include <cstdint>
#include <cstdio>

bool reader_seek(FILE* file, uint64_t position);
bool reader_file_length(FILE* file, uint64_t* length);
