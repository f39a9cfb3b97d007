// What only a Windows build has to show: it links every tree exactly as the
// Linux build does, and its C runtime expands wildcard patterns in the
// arguments. These run when QUILLMAR_LINK names a Windows build.

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/link_fixture.h"

namespace {

class windows_build : public link_fixture {
protected:
    void SetUp() override
    {
        if (!linker_is_windows()) {
            GTEST_SKIP() << "needs a Windows build of the linker in QUILLMAR_LINK";
        }
    }
};

// A tree of ASCII names that Windows can hold as well: in a folder no two
// names differ only in case, none is a device name such as nul or com1, and
// none ends in a dot or a space. Sizes sit around the copy chunk.
class tree_generator {
public:
    explicit tree_generator(uint32_t seed) : state_(seed) {}

    std::vector<tree_entry> tree()
    {
        std::vector<tree_entry> entries{{"site/", ""}};
        fill("site", 0, entries);
        return entries;
    }

private:
    uint32_t state_;

    uint32_t next(uint32_t bound)
    {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

    static bool is_device_name(std::string base)
    {
        for (char& c : base) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        static const std::set<std::string> devices = {"con", "prn", "aux", "nul", "com1", "com2", "com3",
                                                      "com4", "com5", "com6", "com7", "com8", "com9", "lpt1",
                                                      "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8",
                                                      "lpt9"};
        return devices.count(base) != 0;
    }

    std::string name(bool folder)
    {
        static const std::string LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
        static const char* const EXTENSIONS[] = {".html", ".htm", ".js", ".css", ".gif", ".bmp",
                                                 ".xml",  ".txt", ".HTML", ".tar.gz", ""};
        std::string base;
        size_t length = 1 + next(8);
        for (size_t i = 0; i < length; ++i) {
            // A space inside a name, never at its end.
            base += (i > 0 && i + 1 < length && next(10) == 0) ? ' ' : LETTERS[next(LETTERS.size())];
        }
        if (is_device_name(base)) {
            base += "x";
        }
        return folder ? base : base + EXTENSIONS[next(sizeof EXTENSIONS / sizeof EXTENSIONS[0])];
    }

    void fill(const std::string& folder, int depth, std::vector<tree_entry>& entries)
    {
        static const size_t SIZES[] = {0, 1, 7, 100, 1023, 1024, 1025, 3000};
        std::set<std::string> taken; // lower case
        uint32_t count = depth == 0 ? 4 + next(8) : next(6);
        for (uint32_t i = 0; i < count; ++i) {
            bool is_folder = depth < 3 && next(3) == 0;
            std::string entry = name(is_folder);
            std::string folded = entry;
            for (char& c : folded) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            if (!taken.insert(folded).second) {
                continue;
            }
            std::string path = folder + "/" + entry;
            if (is_folder) {
                entries.push_back({path + "/", ""});
                fill(path, depth + 1, entries);
            } else {
                size_t size = SIZES[next(sizeof SIZES / sizeof SIZES[0])];
                entries.push_back({path, pattern(size, static_cast<uint8_t>(next(256)))});
            }
        }
    }
};

std::string with_crlf(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n') {
            result += '\r';
        }
        result += c;
    }
    return result;
}

// Both builds link site inside root, each onto its own copy of one target.
void expect_builds_agree(const temp_dir& root)
{
    const std::string before = "program bytes that must stay untouched";
    write_file(root / "linux.bin", before);
    write_file(root / "windows.bin", before);

    run_result linux = run_program({native_linker(), "site", "linux.bin"}, {root.path()});
    run_result windows = run_linker({"site", "windows.bin"}, {root.path()});

    EXPECT_EQ(linux.exit_status, 0) << linux.out;
    EXPECT_EQ(windows.exit_status, 0) << windows.out;
    EXPECT_GT(linux.lines().size(), 1u);
    // Standard output is a text stream on Windows: the same lines, ended by CR LF.
    EXPECT_EQ(windows.out, with_crlf(linux.out));
    EXPECT_EQ(read_file(root / "windows.bin"), read_file(root / "linux.bin"));
}

TEST_F(windows_build, prints_the_same_lines_and_appends_the_same_bytes_as_the_linux_build)
{
    {
        SCOPED_TRACE("example site");
        temp_dir root;
        std::filesystem::copy(QUILLMAR_EXAMPLE_SITE, root / "site", std::filesystem::copy_options::recursive);
        expect_builds_agree(root);
    }
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("generated tree " + std::to_string(seed));
        temp_dir root;
        make_tree(root.path(), tree_generator(seed).tree());
        expect_builds_agree(root);
    }
}

TEST_F(windows_build, expands_wildcard_patterns_in_the_arguments)
{
    make_tree(dir.path(), {{"site1/a.html", "a"}, {"site2/b.html", "b"}});

    // Two folders match: three arguments reach main.
    run_result two = link({"site*", "app.bin"});
    EXPECT_EQ(two.exit_status, 0);
    ASSERT_EQ(two.lines().size(), 2u) << two.out;
    EXPECT_EQ(two.lines()[1].rfind("usage: ", 0), 0u);
    EXPECT_FALSE(file_exists(dir / "app.bin"));

    // One folder matches: its name takes the pattern's place.
    run_result one = link({"sit?1", "app.bin"});
    EXPECT_EQ(one.exit_status, 0);
    EXPECT_EQ(one.lines(), with_banner({"item: site1/a.html /a.html"}));

    // Nothing matches: the pattern arrives as written and names no folder.
    run_result none = link({"nothing*", "new.bin"});
    EXPECT_EQ(none.exit_status, 1);
    EXPECT_EQ(none.lines(), with_banner({"cannopt access folder"}));
    EXPECT_FALSE(file_exists(dir / "new.bin"));
}

} // namespace
