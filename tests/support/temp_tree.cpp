#include "support/temp_tree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

temp_dir::temp_dir()
{
    std::string pattern = (fs::temp_directory_path() / "quillmar-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = buffer.data();
}

temp_dir::~temp_dir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void make_tree(const std::string& root, const std::vector<tree_entry>& entries)
{
    for (const tree_entry& entry : entries) {
        fs::path full = fs::path(root) / entry.path;
        if (!entry.path.empty() && entry.path.back() == '/') {
            fs::create_directories(full);
        } else {
            fs::create_directories(full.parent_path());
            write_file(full.string(), entry.content);
        }
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

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool file_exists(const std::string& path)
{
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

std::string pattern(size_t size, uint8_t seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xff);
    }
    return bytes;
}
