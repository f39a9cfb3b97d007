#pragma once

// Helpers shared by the reader's tests: archives spelled out byte by byte,
// temporary folder trees, and running the real binaries.

#include <cstdint>
#include <string>
#include <vector>

// Little-endian 32-bit value, as the archive stores every integer.
std::string le32(uint32_t value);

// One 80-byte document_header. Texts are copied as given (a 50-byte path has
// no terminator) and the rest of each field is filled with fill.
std::string header_record(const std::string& http_path, const std::string& content_type, uint32_t content_size,
                          uint32_t content_offset, char fill = '\0');

struct test_document {
    std::string http_path;
    std::string content_type;
    std::string bytes;
};

// A well-formed archive: count, headers with contiguous offsets, content,
// archive_length, magic.
std::string build_archive(const std::vector<test_document>& documents);

// Byte positions inside an archive built by build_archive, for damaging it.
constexpr size_t COUNT_AT = 0;
constexpr size_t header_at(size_t index)
{
    return 4 + 80 * index;
}
constexpr size_t CONTENT_TYPE_FIELD = 50;
constexpr size_t CONTENT_SIZE_FIELD = 72;
constexpr size_t CONTENT_OFFSET_FIELD = 76;

void put_le32_at(std::string& bytes, size_t position, uint32_t value);

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class scoped_temp_dir {
public:
    scoped_temp_dir();
    ~scoped_temp_dir();
    scoped_temp_dir(const scoped_temp_dir&) = delete;
    scoped_temp_dir& operator=(const scoped_temp_dir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct tree_file {
    std::string path; // relative, "/" between parts; a trailing "/" makes an empty folder
    std::string bytes;
};

void make_tree(const std::string& root, const std::vector<tree_file>& files);
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool path_exists(const std::string& path); // without following a final link

struct run_result {
    int status; // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs program with arguments, standard input empty, capturing both outputs.
run_result run(const std::string& program, const std::vector<std::string>& arguments);
