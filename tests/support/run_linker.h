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
// The command runs a Windows build (its program ends in ".exe"), under Wine
// or another layer that hands Ctrl-C on as a console event.
bool linker_is_windows();
// The Linux build, whatever QUILLMAR_LINK says.
std::string native_linker();

// Any program, started with standard input empty and both outputs captured.
// A process still running when the object goes is killed.
class child_process {
public:
    child_process(std::vector<std::string> argv, const run_options& options = {});
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // The next line of standard output, without its line end; empty once the
    // output has ended. What it reads stays part of wait()'s result.
    std::string read_line();
    void send_signal(int signal_number);
    // Stops reading standard output, as a pipeline's reader that quits would.
    void close_output();
    run_result wait();

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_so_far_;
    size_t lines_taken_ = 0;
};

// The linker, started through linker_command().
class linker_process : public child_process {
public:
    explicit linker_process(const std::vector<std::string>& args, const run_options& options = {});
};

run_result run_program(const std::vector<std::string>& argv, const run_options& options = {});
run_result run_linker(const std::vector<std::string>& args, const run_options& options = {});
