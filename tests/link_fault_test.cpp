// Runs that go wrong on the way: full disks, special files, documents that
// change under the linker, sizes beyond the archive's 32-bit fields, the
// target inside its own scan folder, interruptions. The tests make these with
// POSIX mechanisms; a Windows build under Wine meets them through Wine's
// files and must end its runs the same way.

#include <chrono>
#include <csignal>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "support/link_fixture.h"

namespace {

const std::string BEFORE = "program bytes that must stay untouched";

class link_fault : public link_fixture {
protected:
    void SetUp() override
    {
        make_tree(dir.path(), {{"site/index.html", "<h1>home</h1>"}});
        write_file(dir / "app.bin", BEFORE);
    }

    void make_sparse(const std::string& relative, off_t size)
    {
        write_file(dir / relative, "");
        ASSERT_EQ(truncate((dir / relative).c_str(), size), 0);
    }
};

TEST_F(link_fault, write_failures_are_reported_not_ignored)
{
    run_result full = link({"site", "/dev/full"});
    EXPECT_EQ(full.exit_status, 1);
    EXPECT_EQ(full.last_line(), "cannot write target file.");

    // The limit lets the headers through and stops the copy part way.
    write_file(dir / "site/big.html", pattern(200000));
    run_options limited;
    limited.file_size_limit = BEFORE.size() + 100000;
    run_result cut = link({"site", "app.bin"}, limited);
    EXPECT_EQ(cut.exit_status, 1);
    EXPECT_EQ(cut.last_line(), "cannot write target file.");
    EXPECT_EQ(bytes_of("app.bin"), BEFORE);
}

TEST_F(link_fault, special_files_end_the_run)
{
    ASSERT_EQ(mkfifo((dir / "site/pipe").c_str(), 0600), 0);
    run_result fifo = link({"site", "app.bin"});
    EXPECT_EQ(fifo.exit_status, 1);
    EXPECT_EQ(fifo.lines(), with_banner({"item: site/index.html /index.html", "item: site/pipe /pipe",
                                         "cannot link special file"}));
    EXPECT_EQ(bytes_of("app.bin"), BEFORE);

    ASSERT_EQ(unlink((dir / "site/pipe").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir / "site/zero").c_str()), 0);
    run_result device = link({"site", "app.bin"});
    EXPECT_EQ(device.exit_status, 1);
    EXPECT_EQ(device.last_line(), "cannot link special file");
    EXPECT_EQ(bytes_of("app.bin"), BEFORE);
}

TEST_F(link_fault, sizes_beyond_the_archive_fields_are_refused_before_copying)
{
    make_sparse("site/huge.bin", off_t{1} << 31);
    run_result huge = link({"site", "app.bin"});
    EXPECT_EQ(huge.exit_status, 1);
    EXPECT_EQ(huge.last_line(), "document too large.");
    EXPECT_EQ(bytes_of("app.bin"), BEFORE);

    // Each half fits; together they reach 2^31 bytes.
    ASSERT_EQ(unlink((dir / "site/huge.bin").c_str()), 0);
    make_sparse("site/half1.bin", off_t{1} << 30);
    make_sparse("site/half2.bin", (off_t{1} << 30) - 13);
    run_result together = link({"site", "app.bin"});
    EXPECT_EQ(together.exit_status, 1);
    EXPECT_EQ(together.lines(), with_banner({"item: site/half1.bin /half1.bin", "item: site/half2.bin /half2.bin",
                                             "item: site/index.html /index.html", "archive too large."}));
    EXPECT_EQ(bytes_of("app.bin"), BEFORE);
}

TEST_F(link_fault, document_that_changes_after_the_scan_ends_the_run)
{
    // Files under /proc report size 0 and still yield bytes when read.
    ASSERT_EQ(symlink("/proc/self/status", (dir / "site/status").c_str()), 0);
    run_result grown = link({"site", "app.bin"});
    EXPECT_EQ(grown.exit_status, 1);
    EXPECT_EQ(grown.last_line(), "document changed while linking.");
    EXPECT_EQ(bytes_of("app.bin"), BEFORE);
}

TEST_F(link_fault, target_inside_the_scan_folder_is_skipped)
{
    // Reached directly, through a link, and as a file that this run creates.
    write_file(dir / "site/app.bin", BEFORE);
    ASSERT_EQ(symlink("app.bin", (dir / "site/via-link").c_str()), 0);
    std::string home = archive_bytes({{"/index.html", "text/html", "<h1>home</h1>"}});

    run_result existing = link({"site", "site/app.bin"});
    EXPECT_EQ(existing.exit_status, 0);
    EXPECT_EQ(existing.lines(), with_banner({"item: site/app.bin /app.bin", "item: site/index.html /index.html",
                                             "item: site/via-link /via-link"}));
    EXPECT_EQ(bytes_of("site/app.bin"), BEFORE + home);

    ASSERT_EQ(unlink((dir / "site/app.bin").c_str()), 0);
    run_result created = link({"site", "site/app.bin"});
    EXPECT_EQ(created.exit_status, 0);
    EXPECT_EQ(bytes_of("site/app.bin"), home);
}

TEST_F(link_fault, interruption_during_the_copy_restores_the_target)
{
    // A sparse document just under 2 GiB takes long enough to copy to be
    // interrupted in the middle.
    make_sparse("site/sparse.bin", (off_t{1} << 31) - 1000);
    // Wine hands SIGINT on to a Windows program as the console's Ctrl-C;
    // termination and hang-up have no console event of their own there.
    const bool windows = linker_is_windows();
    const std::vector<int> signals = windows ? std::vector<int>{SIGINT} : std::vector<int>{SIGINT, SIGTERM, SIGHUP};
    for (int signal_number : signals) {
        for (const std::string target : {"app.bin", "new.bin"}) {
            linker_process process({"site", target}, {dir.path(), RLIM_INFINITY});
            // Wait until the copy is well under way (the deadline only guards
            // against a hang; it is no statement about speed).
            auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
            struct stat info = {};
            while (stat((dir / target).c_str(), &info) != 0 || info.st_size < (off_t{8} << 20)) {
                ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the copy never got going";
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            process.send_signal(signal_number);
            run_result result = process.wait();

            if (windows) {
                // Ctrl-C ends a Windows program with STATUS_CONTROL_C_EXIT
                // (0xC000013A), of which Wine passes on the low byte.
                EXPECT_EQ(result.exit_status, 0x3a);
            } else {
                EXPECT_EQ(result.signal, signal_number);
            }
            if (target == "app.bin") {
                EXPECT_EQ(bytes_of(target), BEFORE);
            } else {
                EXPECT_FALSE(file_exists(dir / target));
            }
        }
    }
}

TEST_F(link_fault, reader_of_the_progress_lines_going_away_leaves_no_half_archive)
{
    // More progress than a pipe holds, so the linker is still writing lines
    // when their reader quits.
    std::vector<expected_document> documents;
    for (int i = 0; i < 1000; ++i) {
        char name[80];
        std::snprintf(name, sizeof name, "/%040d.html", i);
        write_file(dir / ("site" + std::string(name)), "<p>x</p>");
        documents.push_back({name, "text/html", "<p>x</p>"});
    }
    documents.push_back({"/index.html", "text/html", "<h1>home</h1>"});
    linker_process process({"site", "app.bin"}, {dir.path(), RLIM_INFINITY});
    EXPECT_EQ(process.read_line(), "Quillmar Linker");
    process.close_output();
    run_result result = process.wait();

    if (linker_is_windows()) {
        // Windows has no such signal: the progress lines are lost, and the
        // run goes on to append the whole archive.
        EXPECT_EQ(result.exit_status, 0);
        // Compared whole, so a failure does not print 90 kB of archive.
        EXPECT_TRUE(bytes_of("app.bin") == BEFORE + archive_bytes(documents));
    } else {
        EXPECT_EQ(result.signal, SIGPIPE);
        EXPECT_EQ(bytes_of("app.bin"), BEFORE);
    }
}

} // namespace
