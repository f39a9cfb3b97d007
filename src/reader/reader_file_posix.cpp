// fseeko/ftello take 64-bit positions once _FILE_OFFSET_BITS is 64, which the
// build sets for this file.

#include "reader/reader_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#include <cstdio>
#include <limits>

static_assert(sizeof(off_t) == 8, "the reader needs 64-bit file positions");

bool reader_seek(FILE* file, uint64_t position)
{
    if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
        return false;
    }
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool reader_file_length(FILE* file, uint64_t* length)
{
    // A folder opens and even seeks on some systems, then fails every read.
    struct stat status;
    if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (fseeko(file, 0, SEEK_END) != 0) {
        return false;
    }
    off_t end = ftello(file);
    if (end < 0) {
        return false;
    }
    *length = static_cast<uint64_t>(end);
    return true;
}
