// End-to-end runs of quillmar-link on real folder trees: what it prints,
// how it ends and exactly which bytes it appends.

#include <string>
#include <vector>

#include "support/link_fixture.h"

namespace {

const std::string BEFORE = "program bytes that must stay untouched";

TEST_F(link_fixture, links_a_folder_with_a_subfolder_into_a_new_target)
{
    make_tree(dir.path(), {{"site/index.html", std::string(100, 'i')}, {"site/css/main.css", std::string(20, 'c')}});

    run_result result = link({"site", "app.bin"});

    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.lines(), with_banner({"item: site/css /css", "item: site/css/main.css /css/main.css",
                                           "item: site/index.html /index.html"}));
    std::string expected = le32(2)                                    // document_count
                           + header_record("/css/main.css", "text/css", // http_path, content_type
                                           20, 0)                      // content_size, content_offset
                           + header_record("/index.html", "text/html", 100, 20) //
                           + std::string(20, 'c') + std::string(100, 'i')       // content area
                           + le32(284)                                          // archive_length
                           + le32(3322);                                        // archive_magic
    EXPECT_EQ(expected.size(), 292u);
    EXPECT_EQ(bytes_of("app.bin"), expected);
}

TEST_F(link_fixture, empty_folder_appends_twelve_bytes)
{
    make_tree(dir.path(), {{"site/", ""}});

    run_result result = link({"site", "app.bin"});

    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.lines(), with_banner({}));
    EXPECT_EQ(bytes_of("app.bin"), std::string("\0\0\0\0\x04\0\0\0\xfa\x0c\0\0", 12));
}

struct archive_case {
    const char* name;
    std::vector<tree_entry> tree;
    std::string scan_folder;
    std::vector<std::string> progress;
    std::vector<expected_document> documents;
};

void PrintTo(const archive_case& c, std::ostream* out)
{
    *out << c.name;
}

class archive_layout : public link_fixture, public testing::WithParamInterface<archive_case> {};

TEST_P(archive_layout, appends_headers_and_contents_in_walk_order)
{
    const archive_case& c = GetParam();
    make_tree(dir.path(), c.tree);
    write_file(dir / "app.bin", BEFORE);

    run_result result = link({c.scan_folder, "app.bin"});

    EXPECT_EQ(result.exit_status, 0) << result.out;
    EXPECT_EQ(result.lines(), with_banner(c.progress));
    EXPECT_EQ(bytes_of("app.bin"), BEFORE + archive_bytes(c.documents));
}

const std::string NAME_49(49, 'n'); // with its slash, an HTTP path of exactly 50 characters

INSTANTIATE_TEST_SUITE_P(
    cases, archive_layout,
    testing::Values(
        archive_case{"only_empty_subfolders",
                     {{"site/a/", ""}, {"site/b/c/", ""}},
                     "site",
                     {"item: site/a /a", "item: site/b /b", "item: site/b/c /b/c"},
                     {}},
        archive_case{"one_small_document", {{"site/note", "hello"}}, "site", {"item: site/note /note"},
                     {{"/note", "unknown", "hello"}}},
        archive_case{"sizes_ten_zero_five_take_offsets_zero_ten_ten",
                     {{"site/a.html", "0123456789"}, {"site/b.css", ""}, {"site/c.js", "abcde"}},
                     "site",
                     {"item: site/a.html /a.html", "item: site/b.css /b.css", "item: site/c.js /c.js"},
                     {{"/a.html", "text/html", "0123456789"}, {"/b.css", "text/css", ""},
                      {"/c.js", "text/javascript", "abcde"}}},
        archive_case{"subfolder_documents_stand_in_its_place",
                     {{"site/a.html", "A"}, {"site/img/logo.gif", "GIF"}, {"site/z.js", "Z"}},
                     "site",
                     {"item: site/a.html /a.html", "item: site/img /img", "item: site/img/logo.gif /img/logo.gif",
                      "item: site/z.js /z.js"},
                     {{"/a.html", "text/html", "A"}, {"/img/logo.gif", "image/gif", "GIF"},
                      {"/z.js", "text/javascript", "Z"}}},
        archive_case{"trailing_separator_doubles_only_the_file_path",
                     {{"site/index.html", "x"}},
                     "site/",
                     {"item: site//index.html /index.html"},
                     {{"/index.html", "text/html", "x"}}},
        archive_case{"http_path_of_fifty_characters_fills_its_field",
                     {{"site/" + NAME_49, "full"}},
                     "site",
                     {"item: site/" + NAME_49 + " /" + NAME_49},
                     {{"/" + NAME_49, "unknown", "full"}}},
        archive_case{"space_in_a_name_stays_a_space",
                     {{"site/my page.htm", "p"}},
                     "site",
                     {"item: site/my page.htm /my page.htm"},
                     {{"/my page.htm", "text/html", "p"}}},
        archive_case{"copy_chunk_edges",
                     {{"site/a", pattern(1024, 1)}, {"site/b", pattern(1025, 2)}, {"site/c", pattern(3000, 3)}},
                     "site",
                     {"item: site/a /a", "item: site/b /b", "item: site/c /c"},
                     {{"/a", "unknown", pattern(1024, 1)},
                      {"/b", "unknown", pattern(1025, 2)},
                      {"/c", "unknown", pattern(3000, 3)}}}),
    [](const testing::TestParamInfo<archive_case>& info) { return std::string(info.param.name); });

TEST_F(link_fixture, second_run_appends_a_second_archive_after_the_first)
{
    make_tree(dir.path(), {{"site/index.html", "<p>hi</p>"}, {"site/app.css", "p{}"}});
    write_file(dir / "app.bin", BEFORE);

    EXPECT_EQ(link({"site", "app.bin"}).exit_status, 0);
    EXPECT_EQ(link({"site", "app.bin"}).exit_status, 0);

    std::string archive = archive_bytes({{"/app.css", "text/css", "p{}"}, {"/index.html", "text/html", "<p>hi</p>"}});
    EXPECT_EQ(bytes_of("app.bin"), BEFORE + archive + archive);
}

std::vector<tree_entry> numbered_documents(int count)
{
    std::vector<tree_entry> tree{{"site/", ""}};
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "site/d%04d", i);
        tree.push_back({name, ""});
    }
    return tree;
}

TEST_F(link_fixture, accepts_the_largest_number_of_documents)
{
    make_tree(dir.path(), numbered_documents(1023));

    run_result result = link({"site", "app.bin"});

    EXPECT_EQ(result.exit_status, 0);
    std::string target = bytes_of("app.bin");
    ASSERT_EQ(target.size(), 12u + 80u * 1023u);
    EXPECT_EQ(target.substr(0, 4), le32(1023));
    EXPECT_EQ(target.substr(4 + 80 * 1022, 80), header_record("/d1022", "unknown", 0, 0));
}

TEST_F(link_fixture, wrong_argument_counts_print_usage_and_touch_nothing)
{
    make_tree(dir.path(), {{"site/index.html", "x"}});
    const std::vector<std::vector<std::string>> calls = {{}, {"site"}, {"site", "app.bin", "extra"}};
    for (const std::vector<std::string>& args : calls) {
        run_result result = link(args);

        EXPECT_EQ(result.exit_status, 0);
        ASSERT_EQ(result.lines().size(), 2u) << result.out;
        EXPECT_EQ(result.lines()[0], "Quillmar Linker");
        std::string expected_usage = "usage: " + linker_command().back() + " [scan folder] [target file]";
        if (linker_is_native()) {
            EXPECT_EQ(result.lines()[1], expected_usage);
        } else if (linker_is_windows()) {
            // Windows hands over the program's full path in its own spelling,
            // such as Z:\work\build\quillmar-link.exe under Wine.
            const std::string usage = result.lines()[1];
            const std::string tail = "\\quillmar-link.exe [scan folder] [target file]";
            EXPECT_EQ(usage.rfind("usage: ", 0), 0u) << usage;
            ASSERT_GE(usage.size(), tail.size()) << usage;
            EXPECT_EQ(usage.substr(usage.size() - tail.size()), tail) << usage;
            EXPECT_EQ(usage.find('/'), std::string::npos) << usage;
        } else {
            // Another platform hands over its own spelling of the program's name.
            EXPECT_EQ(result.lines()[1].rfind("usage: ", 0), 0u);
            EXPECT_NE(result.lines()[1].find(" [scan folder] [target file]"), std::string::npos);
        }
        EXPECT_FALSE(file_exists(dir / "app.bin"));
    }
}

struct failure_case {
    const char* name;
    std::vector<tree_entry> tree;
    std::string scan_folder;
    std::vector<std::string> output; // after the banner
};

void PrintTo(const failure_case& c, std::ostream* out)
{
    *out << c.name;
}

class failing_run : public link_fixture, public testing::WithParamInterface<failure_case> {};

// Whatever ends a run early, the target is left exactly as it was, and a
// target that the run created is gone again.
TEST_P(failing_run, reports_and_leaves_the_target_as_it_was)
{
    const failure_case& c = GetParam();
    make_tree(dir.path(), c.tree);
    write_file(dir / "app.bin", BEFORE);

    run_result existing = link({c.scan_folder, "app.bin"});
    run_result created = link({c.scan_folder, "new.bin"});

    EXPECT_EQ(existing.exit_status, 1);
    EXPECT_EQ(existing.lines(), with_banner(c.output));
    EXPECT_EQ(bytes_of("app.bin"), BEFORE);
    EXPECT_EQ(created.exit_status, 1);
    EXPECT_EQ(created.lines(), with_banner(c.output));
    EXPECT_FALSE(file_exists(dir / "new.bin"));
}

const std::string NAME_50(50, 'n');
const std::string LONG_FOLDER = "site/" + std::string(200, 'f') + "/" + std::string(40, 'g');

INSTANTIATE_TEST_SUITE_P(
    cases, failing_run,
    testing::Values(
        failure_case{"missing_scan_folder", {}, "nowhere", {"cannopt access folder"}},
        failure_case{"scan_folder_is_a_file", {{"page.html", "x"}}, "page.html", {"cannopt access folder"}},
        failure_case{"scan_folder_is_empty_text", {}, "", {"cannopt access folder"}},
        failure_case{"http_path_of_fifty_one_characters",
                     {{"site/a.html", "a"}, {"site/" + NAME_50, "b"}},
                     "site",
                     {"item: site/a.html /a.html", "item: site/" + NAME_50 + " /" + NAME_50,
                      "this path is longer than MAX_HTTP_PATH"}},
        failure_case{"empty_folder_with_a_long_http_path",
                     {{"site/" + NAME_50 + "/", ""}},
                     "site",
                     {"item: site/" + NAME_50 + " /" + NAME_50, "this path is longer than MAX_HTTP_PATH"}},
        failure_case{"file_path_cut_at_254_characters_names_nothing",
                     {{LONG_FOLDER + "/index.html", "x"}},
                     LONG_FOLDER,
                     {"item: " + (LONG_FOLDER + "/index.html").substr(0, 254) + " /index.html",
                      "cannot stat item"}}),
    [](const testing::TestParamInfo<failure_case>& info) { return std::string(info.param.name); });

TEST_F(link_fixture, document_past_the_limit_ends_the_run_before_its_header)
{
    std::vector<tree_entry> too_many_documents = numbered_documents(1024);
    std::vector<tree_entry> documents_then_folder = numbered_documents(1023);
    documents_then_folder.push_back({"site/zz/", ""});
    const std::vector<std::pair<std::vector<tree_entry>, std::string>> cases = {
        {too_many_documents, "item: site/d1023 /d1023"}, {documents_then_folder, "item: site/zz /zz"}};

    for (const auto& [tree, last_progress] : cases) {
        temp_dir root;
        make_tree(root.path(), tree);
        write_file(root / "app.bin", BEFORE);

        run_result result = run_linker({"site", "app.bin"}, {root.path()});

        EXPECT_EQ(result.exit_status, 1);
        std::vector<std::string> lines = result.lines();
        ASSERT_EQ(lines.size(), 1u + 1024u + 1u);
        EXPECT_EQ(lines[1024], last_progress);
        EXPECT_EQ(lines.back(), "max amount of documents reached.");
        EXPECT_EQ(read_file(root / "app.bin"), BEFORE);
    }
}

TEST_F(link_fixture, target_that_cannot_be_opened_shows_the_message_box)
{
    make_tree(dir.path(), {{"site/index.html", "x"}, {"folder/", ""}});
    for (const std::string target : {"missing/app.bin", "folder"}) {
        run_result result = link({"site", target});

        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.lines(), with_banner({}));
        if (linker_is_native()) {
            EXPECT_EQ(result.err, "+--------------------------+\n"
                                  "| error                    |\n"
                                  "| cannot open target file. |\n"
                                  "|                   [ OK ] |\n"
                                  "+--------------------------+\n");
        }
    }
    EXPECT_FALSE(file_exists(dir / "missing"));
}

} // namespace
