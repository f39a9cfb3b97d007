#pragma once

// Runs the linker as a separate process, as a user would.

#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

struct run_options {
    std::string working_dir;                       // empty: the test's own
    rlim_t file_size_limit = RLIM_INFINITY;        // RLIMIT_FSIZE, with SIGXFSZ ignored
};

struct run_result {
    int exit_status = -1; // -1 when ended by a signal
    int signal = 0;       // the signal that ended it, if any
    std::string out;
    std::string err;

    // Standard output as lines, without line ends (CR LF or LF).
    std::vector<std::string> lines() const;
    std::string last_line() const;
};

// The command that starts the linker: the built binary, or the words of
// QUILLMAR_LINK when it is set (for instance an emulator and the binary).
std::vector<std::string> linker_command();
bool linker_is_native();

class linker_process {
public:
    linker_process(const std::vector<std::string>& args, const run_options& options = {});
    ~linker_process();
    linker_process(const linker_process&) = delete;
    linker_process& operator=(const linker_process&) = delete;

    void send_signal(int signal_number);
    run_result wait();

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
};

run_result run_linker(const std::vector<std::string>& args, const run_options& options = {});
