#include "platform/platform.h"
#include "platform/sorted_listing.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

platform_listing* platform_open_listing(const char* path)
{
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        return nullptr;
    }
    auto* listing = new platform_listing;
    // A read error ends the listing like its end would: what came so far stays.
    while (const dirent* entry = readdir(dir)) {
        add_listed_name(listing, entry->d_name);
    }
    closedir(dir);
    sort_listed_names(listing);
    return listing;
}

static void fill_status(const struct stat& info, platform_file_status* status)
{
    if (S_ISDIR(info.st_mode)) {
        status->kind = platform_file_kind::folder;
    } else if (S_ISREG(info.st_mode)) {
        status->kind = platform_file_kind::regular;
    } else {
        status->kind = platform_file_kind::special;
    }
    status->size = info.st_size < 0 ? 0 : static_cast<uint64_t>(info.st_size);
    status->identity.volume = static_cast<uint64_t>(info.st_dev);
    status->identity.index = static_cast<uint64_t>(info.st_ino);
}

bool platform_file_status_of(const char* path, platform_file_status* status)
{
    struct stat info;
    if (stat(path, &info) != 0) {
        return false;
    }
    fill_status(info, status);
    return true;
}

bool platform_stream_status(FILE* stream, platform_file_status* status)
{
    struct stat info;
    if (fstat(fileno(stream), &info) != 0) {
        return false;
    }
    fill_status(info, status);
    return true;
}

bool platform_same_file(const platform_file_identity& a, const platform_file_identity& b)
{
    return a.volume == b.volume && a.index == b.index;
}

bool platform_path_exists(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0;
}

bool platform_seek(FILE* stream, int64_t position)
{
    return fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool platform_seek_end(FILE* stream)
{
    return fseeko(stream, 0, SEEK_END) == 0;
}

int64_t platform_tell(FILE* stream)
{
    off_t position = ftello(stream);
    return position < 0 ? -1 : static_cast<int64_t>(position);
}

// Rollback state is read by the signal handler, so it is plain static data
// and the handler uses only async-signal-safe calls on it.
static char rollback_path[4096];
static off_t rollback_length;
static volatile sig_atomic_t rollback_remove;
static volatile sig_atomic_t rollback_armed;

static void roll_back_now()
{
    if (!rollback_armed) {
        return;
    }
    rollback_armed = 0;
    if (rollback_remove) {
        unlink(rollback_path);
        return;
    }
    int fd = open(rollback_path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        (void)ftruncate(fd, rollback_length);
        close(fd);
    }
}

static void on_interrupt(int signal_number)
{
    int saved_errno = errno;
    roll_back_now();
    errno = saved_errno;
    // The handler was reset to the default on entry: end by the same signal.
    raise(signal_number);
}

static void install_interrupt_handlers()
{
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction previous;
        // A signal that the caller chose to ignore stays ignored.
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal_number, &action, nullptr);
    }
}

void platform_arm_rollback(const char* path, int64_t length, bool remove_file)
{
    // A path we cannot hold whole cannot be rolled back safely.
    if (std::strlen(path) >= sizeof rollback_path) {
        return;
    }
    rollback_armed = 0;
    std::strcpy(rollback_path, path);
    rollback_length = static_cast<off_t>(length);
    rollback_remove = remove_file ? 1 : 0;
    install_interrupt_handlers();
    rollback_armed = 1;
}

void platform_disarm_rollback()
{
    rollback_armed = 0;
}

void platform_rollback()
{
    roll_back_now();
}

// There is no window system to count on, so the box is drawn on the
// terminal's error stream. It waits for Enter only when someone can see it
// and answer it; a script gets it at once and never hangs.
void platform_message_box(const char* text, const char* caption)
{
    std::fflush(stdout);
    const int ok_width = 6; // "[ OK ]"
    int width = static_cast<int>(std::max({std::strlen(text), std::strlen(caption), size_t{ok_width}}));
    std::string border = "+" + std::string(static_cast<size_t>(width) + 2, '-') + "+";
    std::fprintf(stderr, "%s\n", border.c_str());
    std::fprintf(stderr, "| %-*s |\n", width, caption);
    std::fprintf(stderr, "| %-*s |\n", width, text);
    std::fprintf(stderr, "| %*s |\n", width, "[ OK ]");
    std::fprintf(stderr, "%s\n", border.c_str());
    std::fflush(stderr);
    if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        int c;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
    }
}
