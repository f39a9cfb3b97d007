// quillmar-inspect end to end: trees linked by the real quillmar-link, read
// back, listed and unpacked again.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const char* const LINK = QUILLMAR_LINK;
const char* const INSPECT = QUILLMAR_INSPECT;

const std::string FIFTY_CHARACTER_NAME = std::string(45, 'p') + ".css"; // with its "/": 50

const std::string USAGE = "usage: quillmar-inspect list [--all] FILE\n"
                          "       quillmar-inspect verify [--all] FILE\n"
                          "       quillmar-inspect extract [--force] FILE DIR\n"
                          "       quillmar-inspect --help\n";

// Bytes that are neither text nor repetitive, so a shifted copy shows.
std::string varied_bytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

void link(const std::string& folder, const std::string& target)
{
    run_result linked = run(LINK, {folder, target});
    ASSERT_EQ(linked.exit_status, 0) << linked.out;
}

// Every regular file below root, by its path relative to root.
std::map<std::string, std::string> files_below(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), root).string()] = read_file(entry.path().string());
        }
    }
    return files;
}

struct tree_case {
    const char* name;
    std::vector<tree_entry> files;
};

std::vector<tree_case> tree_cases()
{
    std::vector<tree_entry> sizes;
    unsigned seed = 0;
    for (size_t size : {0, 1, 1023, 1024, 1025, 16383, 16384, 16385, 100000}) {
        sizes.push_back({"size-" + std::to_string(size) + ".bin", varied_bytes(size, ++seed)});
    }
    return {
        {"small site", {{"index.html", "<p>hello</p>\n"}, {"css/main.css", "body { margin: 0 }\n"}}},
        {"sizes around the copy chunks", sizes},
        {"deep and odd names",
         {{FIFTY_CHARACTER_NAME, "p { }"},
          {"a space.htm", "space"},
          {"caf\xc3\xa9.html", "utf-8"},
          {".hidden", "dot"},
          {"dots..x", "dots"},
          {"a/b/c/d/e/f/g/h/i/j/k.txt", varied_bytes(300, 99)},
          {"a/b/empty.gif", ""},
          {"empty/", ""}}},
        {"no documents at all", {{"only/empty/folders/", ""}}},
    };
}

void expect_round_trip(const std::string& site)
{
    temp_dir temp;
    const std::string target = temp / "target.bin";
    // An earlier archive of another tree must not leak into the extraction.
    write_file(target, "a program comes first");
    make_tree(temp / "earlier", {{"old.html", "old"}});
    link(temp / "earlier", target);
    link(site, target);

    run_result verify = run(INSPECT, {"verify", "--all", target});
    EXPECT_EQ(verify.exit_status, 0) << verify.err;

    const std::string out = temp / "out";
    run_result extract = run(INSPECT, {"extract", target, out});
    ASSERT_EQ(extract.exit_status, 0) << extract.err;
    EXPECT_EQ(extract.err, "");
    EXPECT_EQ(files_below(out), files_below(site));
}

TEST(InspectTest, ExtractGivesBackEveryLinkedFileByteForByte)
{
    for (const tree_case& tree : tree_cases()) {
        SCOPED_TRACE(tree.name);
        temp_dir temp;
        make_tree(temp / "site", tree.files);
        expect_round_trip(temp / "site");
    }
}

TEST(InspectTest, ExtractGivesBackTheExampleSite)
{
    const std::string site = std::string(QUILLMAR_SOURCE_DIR) + "/examples/site";
    if (!std::filesystem::is_directory(site)) {
        GTEST_SKIP() << "no example site in this tree";
    }
    expect_round_trip(site);
}

TEST(InspectTest, ListShowsAlignedColumnsAndATotal)
{
    temp_dir temp;
    make_tree(temp / "site",
              {{"index.html", "hello"}, {"css/main.css", "body{}"}, {"big page.htm", std::string(1234, 'b')}});
    make_tree(temp / "later", {{"a.js", "x"}});
    const std::string target = temp / "target.bin";
    write_file(target, "PROGRAM");
    link(temp / "site", target);

    run_result list = run(INSPECT, {"list", target});
    EXPECT_EQ(list.exit_status, 0) << list.err;
    EXPECT_EQ(list.out, "path           type       size  offset\n"
                        "/big page.htm  text/html  1234       0\n"
                        "/css/main.css  text/css      6    1234\n"
                        "/index.html    text/html     5    1240\n"
                        "total: 3 documents, 1245 bytes\n");

    // 7 bytes of program, then 12 + 3 x 80 + 1245 bytes of the first archive.
    link(temp / "later", target);
    run_result all = run(INSPECT, {"list", "--all", target});
    EXPECT_EQ(all.exit_status, 0) << all.err;
    EXPECT_EQ(all.out, "archive at position 1504:\n"
                       "path   type             size  offset\n"
                       "/a.js  text/javascript     1       0\n"
                       "total: 1 document, 1 byte\n"
                       "\n"
                       "archive at position 7:\n"
                       "path           type       size  offset\n"
                       "/big page.htm  text/html  1234       0\n"
                       "/css/main.css  text/css      6    1234\n"
                       "/index.html    text/html     5    1240\n"
                       "total: 3 documents, 1245 bytes\n");

    run_result verify = run(INSPECT, {"verify", "--all", target});
    EXPECT_EQ(verify.exit_status, 0) << verify.err;
    EXPECT_EQ(verify.out, "well-formed archive at position 1504: 1 document, 1 byte\n"
                          "well-formed archive at position 7: 3 documents, 1245 bytes\n");
}

TEST(InspectTest, ExtractRefusesPathsThatLeaveTheFolder)
{
    struct refused_case {
        std::string http_path;
        const char* reason;
    };
    const std::vector<refused_case> cases = {
        {"/../evil", "path has a . or .. part"},
        {"/a/../../evil", "path has a . or .. part"},
        {"/..", "path has a . or .. part"},
        {"/./evil", "path has a . or .. part"},
        {"/a\\..\\..\\evil", "path holds a backslash"},
        {"evil", "path does not start with /"},
        {"", "empty path"},
        {"//evil", "path has an empty part"},
        {"/a/", "path has an empty part"},
    };
    for (const refused_case& refused : cases) {
        SCOPED_TRACE(refused.http_path);
        temp_dir temp;
        const std::string target = temp / "target.bin";
        write_file(target, archive_bytes({{"/fine.html", "text/html", "fine"}, {refused.http_path, "unknown", "bad"}}));
        const std::string out = temp / "deep/out";
        std::filesystem::create_directories(temp / "deep");

        run_result extract = run(INSPECT, {"extract", target, out});
        EXPECT_EQ(extract.exit_status, 1);
        EXPECT_EQ(extract.err, "quillmar-inspect: " + target + ": document 1 (" + refused.http_path +
                                   "): refused: " + refused.reason + "\n");
        // Refused before anything is written, the folder itself included.
        EXPECT_FALSE(file_exists(out));
        EXPECT_FALSE(file_exists(temp / "evil"));
        EXPECT_FALSE(file_exists(temp / "deep/evil"));
    }
}

TEST(InspectTest, ExtractEndsAPathAtItsTerminator)
{
    temp_dir temp;
    const std::string target = temp / "target.bin";
    std::string archive = archive_bytes({{"/a", "unknown", "bytes"}});
    // Whatever follows the terminator means nothing, even if it looks like a way out.
    archive.replace(header_at(0), 15, std::string("/a\0/../../evil", 15));
    write_file(target, archive);

    run_result extract = run(INSPECT, {"extract", target, temp / "out"});
    EXPECT_EQ(extract.exit_status, 0) << extract.err;
    EXPECT_EQ(files_below(temp / "out"), (std::map<std::string, std::string>{{"a", "bytes"}}));
    EXPECT_FALSE(file_exists(temp / "evil"));
}

TEST(InspectTest, ExtractKeepsExistingFilesUnlessForced)
{
    temp_dir temp;
    make_tree(temp / "site", {{"index.html", "hello"}});
    const std::string target = temp / "target.bin";
    link(temp / "site", target);
    const std::string out = temp / "out";
    make_tree(out, {{"index.html", "old"}});
    ASSERT_EQ(::link((out + "/index.html").c_str(), (temp / "hard").c_str()), 0);

    run_result kept = run(INSPECT, {"extract", target, out});
    EXPECT_EQ(kept.exit_status, 1);
    EXPECT_EQ(kept.err, "quillmar-inspect: " + out + "/index.html: already exists (--force replaces it)\n");
    EXPECT_EQ(read_file(out + "/index.html"), "old");

    run_result forced = run(INSPECT, {"extract", "--force", target, out});
    EXPECT_EQ(forced.exit_status, 0) << forced.err;
    EXPECT_EQ(forced.out, "extracted 1 document, 5 bytes, into " + out + "\n");
    EXPECT_EQ(read_file(out + "/index.html"), "hello");
    // Replaced by a new file: another name for the old one still sees the old bytes.
    EXPECT_EQ(read_file(temp / "hard"), "old");
}

TEST(InspectTest, ExtractNeverWritesThroughASymbolicLink)
{
    struct link_case {
        const char* name;
        const char* link_path; // inside the output folder
        const char* points_to; // inside the temporary folder
        const char* message;
    };
    const std::vector<link_case> cases = {
        {"folder part", "css", "elsewhere", "/css/main.css: folder css is a symbolic link"},
        {"document to an existing file", "index.html", "victim", "/index.html: is a symbolic link"},
        {"dangling document", "index.html", "created", "/index.html: is a symbolic link"},
    };
    for (const link_case& link_case : cases) {
        for (bool force : {false, true}) {
            SCOPED_TRACE(std::string(link_case.name) + (force ? " with --force" : ""));
            temp_dir temp;
            make_tree(temp / "site", {{"css/main.css", "body{}"}, {"index.html", "hello"}});
            const std::string target = temp / "target.bin";
            link(temp / "site", target);
            make_tree(temp.path(), {{"elsewhere/", ""}, {"victim", "precious"}, {"out/", ""}});
            const std::string out = temp / "out";
            ASSERT_EQ(symlink((temp / link_case.points_to).c_str(), (out + "/" + link_case.link_path).c_str()), 0);

            std::vector<std::string> arguments = {"extract", target, out};
            if (force) {
                arguments.insert(arguments.begin() + 1, "--force");
            }
            run_result extract = run(INSPECT, arguments);
            EXPECT_EQ(extract.exit_status, 1);
            EXPECT_EQ(extract.err, "quillmar-inspect: " + out + link_case.message + "\n");
            EXPECT_TRUE(std::filesystem::is_empty(temp / "elsewhere"));
            EXPECT_EQ(read_file(temp / "victim"), "precious");
            EXPECT_FALSE(file_exists(temp / "created"));
        }
    }
}

TEST(InspectTest, WrongCommandLinesGiveTheUsageAndStatusTwo)
{
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate", "file"},
        {"list"},
        {"list", "a", "b"},
        {"verify", "--force", "file"},
        {"extract", "file"},
        {"extract", "--all", "file", "dir"},
        {"extract", "file", "dir", "more"},
    };
    for (const auto& arguments : wrong) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        run_result result = run(INSPECT, arguments);
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(USAGE), std::string::npos) << result.err;
    }

    run_result help = run(INSPECT, {"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.out.rfind(USAGE, 0), 0u) << help.out;
}

TEST(InspectTest, FilesWithoutAnArchiveEndWithStatusOne)
{
    temp_dir temp;
    run_result missing = run(INSPECT, {"list", temp / "missing"});
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_EQ(missing.err, "quillmar-inspect: " + (temp / "missing") + ": cannot open: No such file or directory\n");

    run_result folder = run(INSPECT, {"verify", temp.path()});
    EXPECT_EQ(folder.exit_status, 1);
    EXPECT_EQ(folder.err, "quillmar-inspect: " + temp.path() + ": cannot read: Is a directory\n");
}

} // namespace
