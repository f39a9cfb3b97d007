#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

static void set_reason(char* reason, size_t reason_size, const char* text)
{
    std::snprintf(reason, reason_size, "%s", text);
}

// An open that refused to follow or found the wrong kind of entry says only
// ELOOP or ENOTDIR; tell the user what is actually there.
static void explain_entry(int parent, const char* name, int open_errno, char* reason, size_t reason_size)
{
    struct stat status;
    if (fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode)) {
            set_reason(reason, reason_size, "is a symbolic link");
            return;
        }
        if (open_errno == ENOTDIR && !S_ISDIR(status.st_mode)) {
            set_reason(reason, reason_size, "is not a folder");
            return;
        }
    }
    set_reason(reason, reason_size, std::strerror(open_errno));
}

int output_open_root(const char* path, char* reason, size_t reason_size)
{
    if (mkdir(path, 0777) != 0 && errno != EEXIST) {
        set_reason(reason, reason_size, std::strerror(errno));
        return -1;
    }
    int folder = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        set_reason(reason, reason_size, std::strerror(errno));
    }
    return folder;
}

int output_enter_folder(int parent, const char* name, char* reason, size_t reason_size)
{
    // mkdirat never follows a link at name: it reports EEXIST, and the
    // O_NOFOLLOW open below then refuses the link.
    if (mkdirat(parent, name, 0777) != 0 && errno != EEXIST) {
        set_reason(reason, reason_size, std::strerror(errno));
        return -1;
    }
    int folder = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        explain_entry(parent, name, errno, reason, reason_size);
    }
    return folder;
}

FILE* output_create_file(int parent, const char* name, bool replace, char* reason, size_t reason_size)
{
    // O_EXCL fails on any existing entry, a dangling link included, so the
    // bytes can only ever land in a file made here and now.
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int file = openat(parent, name, flags, 0666);
    if (file < 0 && errno == EEXIST) {
        struct stat status;
        if (fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            set_reason(reason, reason_size, std::strerror(errno));
            return nullptr;
        }
        if (S_ISLNK(status.st_mode)) {
            set_reason(reason, reason_size, "is a symbolic link");
            return nullptr;
        }
        if (!S_ISREG(status.st_mode)) {
            set_reason(reason, reason_size, "exists and is not a regular file");
            return nullptr;
        }
        if (!replace) {
            set_reason(reason, reason_size, "already exists (--force replaces it)");
            return nullptr;
        }
        if (unlinkat(parent, name, 0) != 0) {
            set_reason(reason, reason_size, std::strerror(errno));
            return nullptr;
        }
        file = openat(parent, name, flags, 0666);
    }
    if (file < 0) {
        explain_entry(parent, name, errno, reason, reason_size);
        return nullptr;
    }
    FILE* stream = fdopen(file, "wb");
    if (stream == nullptr) {
        set_reason(reason, reason_size, std::strerror(errno));
        close(file);
    }
    return stream;
}

void output_close_folder(int folder)
{
    close(folder);
}
