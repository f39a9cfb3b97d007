// pread takes a 64-bit position once _FILE_OFFSET_BITS is 64, which the build
// sets for this file.

#include "serve_platform.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <limits>

static_assert(sizeof(off_t) == 8, "the server needs 64-bit file positions");

static int target_descriptor = -1;
static sigset_t stop_signals;

void serve_share_target(FILE* file)
{
    target_descriptor = fileno(file);
}

bool serve_read_at(uint64_t position, void* out, size_t size)
{
    unsigned char* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
            return false;
        }
        ssize_t got = pread(target_descriptor, bytes, size, static_cast<off_t>(position));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
        position += static_cast<uint64_t>(got);
    }
    return true;
}

bool serve_block_stop_signals()
{
    std::signal(SIGPIPE, SIG_IGN);
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    return pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr) == 0;
}

int serve_wait_for_stop_signal()
{
    int number = 0;
    while (sigwait(&stop_signals, &number) != 0) {
    }
    return number;
}

void serve_listening_socket_options(int socket)
{
    int yes = 1;
    // Without the option the bind fails and says so; nothing to add here.
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}
