#pragma once

// Temporary folders and the trees the tests link.

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder below the system's temporary folder, removed with everything in it.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// One row of a tree: a path ending in "/" is a folder, anything else a file
// holding content.
struct tree_entry {
    std::string path;
    std::string content;
};

void make_tree(const std::string& root, const std::vector<tree_entry>& entries);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);

// content_size bytes of a repeating, position-dependent pattern, so a
// shifted or repeated chunk does not compare equal.
std::string pattern(size_t size, uint8_t seed = 0);
