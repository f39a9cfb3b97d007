#include "support/run_linker.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

std::vector<std::string> run_result::lines() const
{
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        result.push_back(line);
    }
    return result;
}

std::string run_result::last_line() const
{
    std::vector<std::string> all = lines();
    return all.empty() ? std::string() : all.back();
}

std::vector<std::string> linker_command()
{
    if (const char* configured = std::getenv("QUILLMAR_LINK"); configured != nullptr && *configured != '\0') {
        std::vector<std::string> words;
        std::istringstream in(configured);
        for (std::string word; in >> word;) {
            words.push_back(word);
        }
        return words;
    }
    return {QUILLMAR_LINK_PATH};
}

bool linker_is_native()
{
    const char* configured = std::getenv("QUILLMAR_LINK");
    return configured == nullptr || *configured == '\0';
}

bool linker_is_windows()
{
    std::vector<std::string> words = linker_command();
    if (words.empty()) {
        return false;
    }
    const std::string& program = words.back();
    return program.size() >= 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

std::string native_linker()
{
    return QUILLMAR_LINK_PATH;
}

static std::vector<std::string> linker_argv(const std::vector<std::string>& args)
{
    std::vector<std::string> words = linker_command();
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

linker_process::linker_process(const std::vector<std::string>& args, const run_options& options)
    : child_process(linker_argv(args), options)
{
}

child_process::child_process(std::vector<std::string> words, const run_options& options)
{
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make pipes");
    }
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("cannot fork");
    }
    if (pid_ == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) {
            _exit(127);
        }
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            signal(signal_number, SIG_DFL);
        }
        if (options.file_size_limit != RLIM_INFINITY) {
            struct rlimit limit = {options.file_size_limit, options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
}

child_process::~child_process()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        wait();
    }
}

std::string child_process::read_line()
{
    for (;;) {
        size_t end = out_so_far_.find('\n', lines_taken_);
        if (end != std::string::npos) {
            std::string line = out_so_far_.substr(lines_taken_, end - lines_taken_);
            lines_taken_ = end + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        char buffer[4096];
        ssize_t got = read(out_fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            std::string rest = out_so_far_.substr(lines_taken_);
            lines_taken_ = out_so_far_.size();
            return rest;
        }
        out_so_far_.append(buffer, static_cast<size_t>(got));
    }
}

void child_process::close_output()
{
    close(out_fd_);
    out_fd_ = -1;
}

void child_process::send_signal(int signal_number)
{
    kill(pid_, signal_number);
}

run_result child_process::wait()
{
    run_result result;
    result.out = out_so_far_;
    // Drain both pipes together, so neither can fill up and stall the child.
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = out_fd_ < 0 ? 1 : 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

run_result run_program(const std::vector<std::string>& argv, const run_options& options)
{
    child_process process(argv, options);
    return process.wait();
}

run_result run_linker(const std::vector<std::string>& args, const run_options& options)
{
    return run_program(linker_argv(args), options);
}
