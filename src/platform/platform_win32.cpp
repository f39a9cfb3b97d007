#include "platform/platform.h"
#include "platform/sorted_listing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <io.h>
#include <windows.h>

// The C runtime expands wildcard patterns in the arguments before main sees
// them, as a Windows program's start-up is expected to.
extern "C" {
int _dowildcard = -1;
}

platform_listing* platform_open_listing(const char* path)
{
    // "" + "\*" would name the root of the current drive.
    if (path[0] == '\0') {
        return nullptr;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return nullptr;
    }
    std::string pattern = path;
    char last = pattern.back();
    pattern += (last == '/' || last == '\\' || last == ':') ? "*" : "\\*";

    auto* listing = new platform_listing;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        // A drive's root has no "." or "..": empty, it yields nothing at all.
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return listing;
        }
        delete listing;
        return nullptr;
    }
    // A failing FindNextFileA ends the listing like its end would.
    do {
        add_listed_name(listing, entry.cFileName);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    sort_listed_names(listing);
    return listing;
}

// A volume serial number is 32 bits wide, so this never names a real volume:
// a file whose identity could not be read is never taken for another.
constexpr uint64_t UNKNOWN_VOLUME = UINT64_MAX;

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

static uint64_t join_dwords(DWORD high, DWORD low)
{
    return (static_cast<uint64_t>(high) << 32) | low;
}

static bool status_of_handle(HANDLE handle, platform_file_status* status)
{
    SetLastError(NO_ERROR);
    DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
        return false;
    }
    if (type != FILE_TYPE_DISK) {
        // A console, a pipe or a device such as NUL: nothing with an end to copy up to.
        status->kind = platform_file_kind::special;
        status->size = 0;
        status->identity = {UNKNOWN_VOLUME, 0};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        // A stream opened only for writing may lack the right to read
        // attributes; a second handle on the same file asks for just that.
        HANDLE reader = ReOpenFile(handle, FILE_READ_ATTRIBUTES, SHARE_ALL, 0);
        if (reader == INVALID_HANDLE_VALUE) {
            return false;
        }
        bool read = GetFileInformationByHandle(reader, &info) != 0;
        CloseHandle(reader);
        if (!read) {
            return false;
        }
    }
    bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status->kind = folder ? platform_file_kind::folder : platform_file_kind::regular;
    status->size = folder ? 0 : join_dwords(info.nFileSizeHigh, info.nFileSizeLow);
    status->identity.volume = info.dwVolumeSerialNumber;
    status->identity.index = join_dwords(info.nFileIndexHigh, info.nFileIndexLow);
    return true;
}

// Opening the file (following links) tells devices apart from files and
// gives the identity; FILE_FLAG_BACKUP_SEMANTICS lets the same call open folders.
bool platform_file_status_of(const char* path, platform_file_status* status)
{
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        bool known = status_of_handle(handle, status);
        CloseHandle(handle);
        return known;
    }
    // A file that another program holds open without sharing, or whose
    // rights deny even its attributes, still has a folder entry that tells
    // kind and size, as stat tells them of a file its caller may not read.
    DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
        return false;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        return false;
    }
    bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status->kind = folder ? platform_file_kind::folder : platform_file_kind::regular;
    status->size = folder ? 0 : join_dwords(data.nFileSizeHigh, data.nFileSizeLow);
    status->identity = {UNKNOWN_VOLUME, 0};
    return true;
}

bool platform_stream_status(FILE* stream, platform_file_status* status)
{
    intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) {
        return false;
    }
    return status_of_handle(reinterpret_cast<HANDLE>(handle), status);
}

bool platform_same_file(const platform_file_identity& a, const platform_file_identity& b)
{
    return a.volume != UNKNOWN_VOLUME && a.volume == b.volume && a.index == b.index;
}

bool platform_path_exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool platform_seek(FILE* stream, int64_t position)
{
    return _fseeki64(stream, position, SEEK_SET) == 0;
}

bool platform_seek_end(FILE* stream)
{
    return _fseeki64(stream, 0, SEEK_END) == 0;
}

int64_t platform_tell(FILE* stream)
{
    __int64 position = _ftelli64(stream);
    return position < 0 ? -1 : static_cast<int64_t>(position);
}

// Rollback state. A console event is handled on a thread of its own while
// the main thread goes on, so whoever moves the state from armed to taken
// does the rollback, and the other side leaves it alone.
constexpr LONG ROLLBACK_IDLE = 0;
constexpr LONG ROLLBACK_ARMED = 1;
constexpr LONG ROLLBACK_TAKEN = 2;

static char rollback_path[MAX_PATH];
static int64_t rollback_length;
static bool rollback_remove;
static platform_file_identity rollback_identity;
static HANDLE main_thread;
static volatile LONG rollback_state = ROLLBACK_IDLE;

static bool take_rollback()
{
    return InterlockedCompareExchange(&rollback_state, ROLLBACK_TAKEN, ROLLBACK_ARMED) == ROLLBACK_ARMED;
}

static void cut_or_remove_target()
{
    if (rollback_remove) {
        DeleteFileA(rollback_path);
        return;
    }
    HANDLE file = CreateFileA(rollback_path, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    LARGE_INTEGER length;
    length.QuadPart = rollback_length;
    if (SetFilePointerEx(file, length, nullptr, FILE_BEGIN)) {
        SetEndOfFile(file);
    }
    CloseHandle(file);
}

// Lets _get_osfhandle answer -1 for a descriptor that is not open, where
// some runtimes would end the process on the spot.
static void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t)
{
}

// The C runtime opens files without FILE_SHARE_DELETE, so a target that
// is still open cannot be removed. The main thread is stopped by now and
// the process ends next, so its handles on the target are simply closed
// underneath it; the runtime's own locks are never touched, since the
// stopped thread may hold one.
static void close_runtime_handles_on_target()
{
    _set_invalid_parameter_handler(ignore_invalid_parameter);
    int count = _getmaxstdio();
    for (int fd = 0; fd < count; ++fd) {
        intptr_t handle = _get_osfhandle(fd);
        if (handle == -1 || handle == -2) {
            continue;
        }
        platform_file_status status;
        if (status_of_handle(reinterpret_cast<HANDLE>(handle), &status) &&
            platform_same_file(status.identity, rollback_identity)) {
            CloseHandle(reinterpret_cast<HANDLE>(handle));
        }
    }
}

static BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (!take_rollback()) {
        // Idle: nothing to put back, the default handler ends the process.
        // Taken: the main thread is rolling back and ends with its message.
        return rollback_state == ROLLBACK_IDLE ? FALSE : TRUE;
    }
    // Stop the main thread first, so that no write of its lands behind the
    // cut; GetThreadContext returns only once it has really stopped.
    if (SuspendThread(main_thread) != static_cast<DWORD>(-1)) {
        CONTEXT context;
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(main_thread, &context);
    }
    if (rollback_remove) {
        close_runtime_handles_on_target();
    }
    cut_or_remove_target();
    // Ending here, not through ExitProcess, keeps the runtime from flushing
    // the target's buffered bytes behind the cut.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

static void install_console_handler()
{
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void platform_arm_rollback(const char* path, int64_t length, bool remove_file)
{
    // A path we cannot hold whole cannot be rolled back safely.
    if (std::strlen(path) >= sizeof rollback_path) {
        return;
    }
    InterlockedExchange(&rollback_state, ROLLBACK_IDLE);
    std::strcpy(rollback_path, path);
    rollback_length = length;
    rollback_remove = remove_file;
    platform_file_status status;
    rollback_identity = platform_file_status_of(path, &status) ? status.identity
                                                                : platform_file_identity{UNKNOWN_VOLUME, 0};
    install_console_handler();
    InterlockedExchange(&rollback_state, ROLLBACK_ARMED);
}

void platform_disarm_rollback()
{
    InterlockedExchange(&rollback_state, ROLLBACK_IDLE);
}

void platform_rollback()
{
    if (take_rollback()) {
        cut_or_remove_target();
    }
}

void platform_message_box(const char* text, const char* caption)
{
    std::fflush(stdout);
    MessageBoxA(nullptr, text, caption, MB_OK);
}
