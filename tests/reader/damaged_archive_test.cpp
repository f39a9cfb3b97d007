// Damaged targets: each breaks one rule of the archive layout once. The
// reader must name the rule, and the tool must refuse the file without
// crashing (the asan build turns any stray read into a failure here).

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "reader/reader.h"
#include "test_support.h"

namespace {

const char* const INSPECT = QUILLMAR_INSPECT;

// count at 0, headers at 4 and 84, content at 164 ("hello" then "body{}"),
// archive_length at 175 (value 175), magic at 179; 183 bytes in all.
std::string good_archive()
{
    return archive_bytes({{"/index.html", "text/html", "hello"}, {"/css/main.css", "text/css", "body{}"}});
}
constexpr size_t LENGTH_AT = 175;
constexpr size_t MAGIC_AT = 179;

std::string with_le32(std::string bytes, size_t position, uint32_t value)
{
    put_le32_at(bytes, position, value);
    return bytes;
}

std::string over_the_limit()
{
    std::vector<expected_document> documents(1024, expected_document{"/e", "unknown", ""});
    return archive_bytes(documents);
}

std::string unterminated_type()
{
    std::string bytes = good_archive();
    bytes.replace(header_at(1) + CONTENT_TYPE_FIELD, 22, std::string(22, 'x'));
    return bytes;
}

struct damaged_case {
    const char* name;
    std::string bytes;
    reader_status status;
    const char* message; // a part of the message that names the broken rule
    size_t earlier_end;  // when not 0: the last archive is fine, the one ending here is not
};

std::vector<damaged_case> damaged_cases()
{
    const std::string good = good_archive();
    // A first run's archive whose count was damaged, then a second, good run.
    std::string bad_first = with_le32(good, COUNT_AT, 5) + good;
    return {
        {"empty file", "", reader_status::file_too_short, "too short for an archive: 0 bytes", 0},
        {"eleven bytes", good.substr(good.size() - 11), reader_status::file_too_short,
         "too short for an archive: 11 bytes", 0},
        {"last byte cut", good.substr(0, good.size() - 1), reader_status::no_magic, "no archive magic at the end",
         false},
        {"plain text", "just some text, no archive here\n", reader_status::no_magic, "no archive magic at the end",
         false},
        {"magic changed", with_le32(good, MAGIC_AT, 3323), reader_status::no_magic,
         "no archive magic at the end (found 3323, expected 3322)", 0},
        {"length zero", with_le32(good, LENGTH_AT, 0), reader_status::length_too_small,
         "archive length 0 is smaller than the document count field", 0},
        {"length before the file's start", with_le32(good, LENGTH_AT, 176), reader_status::length_too_large,
         "archive length 176 is larger than the file: only 175 bytes precede the trailer", 0},
        {"first byte cut", good.substr(1), reader_status::length_too_large, "archive length 175 is larger than the file",
         false},
        {"huge length", with_le32(good, LENGTH_AT, 0xffffffff), reader_status::length_too_large,
         "archive length 4294967295 is larger than the file", 0},
        {"huge count", with_le32(good, COUNT_AT, 0xffffffff), reader_status::count_does_not_fit,
         "document count 4294967295 does not fit", 0},
        {"count one too many", with_le32(good, COUNT_AT, 3), reader_status::count_does_not_fit,
         "document count 3 does not fit: its headers take 240 bytes, the archive length 175 leaves 171", 0},
        {"count over the limit", over_the_limit(), reader_status::count_too_large,
         "document count 1024 is larger than the limit of 1023", 0},
        {"content type without terminator", unterminated_type(), reader_status::content_type_unterminated,
         "document 1 (/css/main.css): content type has no terminator", 0},
        {"size past the content area", with_le32(good, header_at(1) + CONTENT_SIZE_FIELD, 7),
         reader_status::document_outside_content,
         "document 1 (/css/main.css): bytes 5 to 12 lie outside the content area of 11 bytes", 0},
        {"offset wrapping around", with_le32(good, header_at(1) + CONTENT_OFFSET_FIELD, 0xffffffff),
         reader_status::document_outside_content, "document 1 (/css/main.css): bytes 4294967295 to 4294967301", 0},
        {"gap between documents", with_le32(good, header_at(0) + CONTENT_SIZE_FIELD, 4),
         reader_status::offsets_not_contiguous,
         "document 1 (/css/main.css): offset 5 is not contiguous, the documents before it end at 4", 0},
        {"overlapping documents", with_le32(good, header_at(1) + CONTENT_OFFSET_FIELD, 0),
         reader_status::offsets_not_contiguous, "document 1 (/css/main.css): offset 0 is not contiguous", 0},
        {"content left over", with_le32(good, header_at(1) + CONTENT_SIZE_FIELD, 5), reader_status::content_not_filled,
         "the documents end at 10, but the content area holds 11 bytes", 0},
        {"count smaller than the headers", with_le32(good, COUNT_AT, 1), reader_status::content_not_filled,
         "the documents end at 5, but the content area holds 91 bytes", 0},
        {"earlier archive damaged", bad_first, reader_status::count_does_not_fit, "document count 5 does not fit",
         183},
        {"bytes before the archive that look like magic", le32(3322) + good, reader_status::file_too_short,
         "too short for an archive: 4 bytes", 4},
    };
}

TEST(DamagedArchiveTest, ReaderAndToolNameTheBrokenRule)
{
    temp_dir temp;
    for (const damaged_case& damaged : damaged_cases()) {
        SCOPED_TRACE(damaged.name);
        const std::string target = temp / "target.bin";
        write_file(target, damaged.bytes);

        byte_source source =
            source_from_memory(reinterpret_cast<const unsigned char*>(damaged.bytes.data()), damaged.bytes.size());
        auto archive = std::make_unique<document_archive>();
        reader_error error;
        bool read = read_last_archive(source, archive.get(), &error);
        std::string expected_prefix = "quillmar-inspect: " + target + ": ";
        if (damaged.earlier_end != 0) {
            ASSERT_TRUE(read) << error.message;
            ASSERT_TRUE(has_earlier_archive(source, *archive));
            EXPECT_EQ(archive->archive_start, damaged.earlier_end);
            read = read_archive_ending_at(source, archive->archive_start, archive.get(), &error);
            expected_prefix += "archive ending at position " + std::to_string(damaged.earlier_end) + ": ";
        }
        EXPECT_FALSE(read);
        EXPECT_EQ(error.status, damaged.status);
        EXPECT_NE(std::string(error.message).find(damaged.message), std::string::npos) << error.message;

        run_result verify_all = run(INSPECT, {"verify", "--all", target});
        EXPECT_EQ(verify_all.exit_status, 1);
        EXPECT_EQ(verify_all.err, expected_prefix + error.message + "\n");
        EXPECT_NE(verify_all.err.find(damaged.message), std::string::npos) << verify_all.err;

        run_result verify = run(INSPECT, {"verify", target});
        run_result list = run(INSPECT, {"list", target});
        run_result extract = run(INSPECT, {"extract", target, temp / "out"});
        if (damaged.earlier_end != 0) {
            EXPECT_EQ(verify.exit_status, 0) << verify.err;
            EXPECT_EQ(list.exit_status, 0) << list.err;
            EXPECT_EQ(extract.exit_status, 0) << extract.err;
            std::filesystem::remove_all(temp / "out");
        } else {
            EXPECT_EQ(verify.exit_status, 1);
            EXPECT_EQ(verify.out, "");
            EXPECT_NE(verify.err.find(damaged.message), std::string::npos) << verify.err;
            EXPECT_EQ(list.exit_status, 1);
            EXPECT_EQ(list.out, "");
            EXPECT_EQ(extract.exit_status, 1);
            EXPECT_FALSE(file_exists(temp / "out"));
        }
    }
}

TEST(DamagedArchiveTest, ListingAllStopsAtTheFirstDamagedArchive)
{
    temp_dir temp;
    const std::string good = good_archive();
    const std::string target = temp / "target.bin";
    write_file(target, with_le32(good, COUNT_AT, 5) + good);

    run_result list = run(INSPECT, {"list", "--all", target});
    EXPECT_EQ(list.exit_status, 1);
    EXPECT_EQ(list.out.rfind("archive at position 183:\n", 0), 0u) << list.out;
    EXPECT_EQ(list.out.find("archive at position 0:"), std::string::npos) << list.out;
    EXPECT_EQ(list.err, "quillmar-inspect: " + target +
                            ": archive ending at position 183: document count 5 does not fit: its headers take 400 "
                            "bytes, the archive length 175 leaves 171\n");
}

} // namespace
