#include "test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

std::string le32(uint32_t value)
{
    std::string out(4, '\0');
    put_le32_at(out, 0, value);
    return out;
}

void put_le32_at(std::string& bytes, size_t position, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes.at(position + i) = static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

std::string header_record(const std::string& http_path, const std::string& content_type, uint32_t content_size,
                          uint32_t content_offset, char fill)
{
    std::string path_field = http_path.substr(0, 50);
    if (path_field.size() < 50) {
        path_field += '\0';
        path_field.resize(50, fill);
    }
    std::string type_field = content_type.substr(0, 22);
    if (type_field.size() < 22) {
        type_field += '\0';
        type_field.resize(22, fill);
    }
    return path_field +            // http_path, 50 bytes
           type_field +            // content_type, 22 bytes
           le32(content_size) +    // content_size
           le32(content_offset);   // content_offset
}

std::string build_archive(const std::vector<test_document>& documents)
{
    std::string archive = le32(static_cast<uint32_t>(documents.size())); // document_count
    std::string content;
    for (const test_document& document : documents) {
        archive += header_record(document.http_path, document.content_type,
                                 static_cast<uint32_t>(document.bytes.size()), static_cast<uint32_t>(content.size()));
        content += document.bytes;
    }
    archive += content;
    archive += le32(static_cast<uint32_t>(archive.size())); // archive_length
    archive += le32(3322);                                   // archive_magic
    return archive;
}

scoped_temp_dir::scoped_temp_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quillmar-reader-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = pattern;
}

scoped_temp_dir::~scoped_temp_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void make_tree(const std::string& root, const std::vector<tree_file>& files)
{
    for (const tree_file& file : files) {
        std::filesystem::path path = std::filesystem::path(root) / file.path;
        if (!file.path.empty() && file.path.back() == '/') {
            std::filesystem::create_directories(path);
            continue;
        }
        std::filesystem::create_directories(path.parent_path());
        write_file(path.string(), file.bytes);
    }
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool path_exists(const std::string& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

run_result run(const std::string& program, const std::vector<std::string>& arguments)
{
    scoped_temp_dir capture;
    std::string out_path = capture / "out";
    std::string err_path = capture / "err";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("lost " + program);
        }
    }
    run_result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}
