// The reader library on archives spelled out byte by byte.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "reader/reader.h"
#include "test_support.h"

namespace {

const std::string FIFTY_CHARACTER_PATH = "/" + std::string(45, 'p') + ".css"; // fills http_path

std::unique_ptr<document_archive> new_archive()
{
    return std::make_unique<document_archive>();
}

byte_source memory_source(const std::string& bytes)
{
    return source_from_memory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string read_range(const byte_source& source, uint64_t position, size_t size)
{
    std::string bytes(size, '\0');
    EXPECT_TRUE(source_read_at(source, position, bytes.data(), size));
    return bytes;
}

// A stream on a real file holding bytes, closed when it goes.
struct file_holder {
    explicit file_holder(const std::string& bytes) : file(std::tmpfile())
    {
        EXPECT_NE(file, nullptr);
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        EXPECT_EQ(std::fflush(file), 0);
    }
    ~file_holder() { std::fclose(file); }
    FILE* file;
};

TEST(ReaderTest, DecodesEveryFieldFromMemoryAndFromFile)
{
    const std::string prefix = "a program file comes first";
    std::string archive = archive_bytes({
        {"/index.html", "text/html", "hello"},
        {"/empty", "unknown", ""},
        {FIFTY_CHARACTER_PATH, "text/css", "body{}"},
    });
    // What follows a terminator carries no meaning and must not leak into a text.
    archive.replace(header_at(0), 80, header_record("/index.html", "text/html", 5, 0, 'Z'));
    const std::string target = prefix + archive;

    file_holder holder(target);
    byte_source file_source;
    ASSERT_TRUE(source_from_file(&file_source, holder.file));
    EXPECT_EQ(file_source.length, target.size());

    for (const byte_source& source : {memory_source(target), file_source}) {
        auto read = new_archive();
        reader_error error;
        ASSERT_TRUE(read_last_archive(source, read.get(), &error)) << error.message;
        EXPECT_EQ(error.status, reader_status::ok);
        EXPECT_EQ(read->archive_start, prefix.size());
        EXPECT_EQ(read->archive_end, target.size());
        EXPECT_EQ(read->archive_length, archive.size() - 8);
        EXPECT_EQ(read->content_start, prefix.size() + 4 + 3 * 80);
        EXPECT_EQ(read->content_length, 11u);
        ASSERT_EQ(read->document_count, 3u);

        const document_entry& index = read->documents[0];
        EXPECT_STREQ(index.http_path, "/index.html");
        EXPECT_STREQ(index.content_type, "text/html");
        EXPECT_EQ(index.content_size, 5u);
        EXPECT_EQ(index.content_offset, 0u);
        EXPECT_EQ(read_range(source, index.position, 5), "hello");

        const document_entry& empty = read->documents[1];
        EXPECT_STREQ(empty.http_path, "/empty");
        EXPECT_EQ(empty.content_size, 0u);
        EXPECT_EQ(empty.content_offset, 5u);

        const document_entry& full = read->documents[2];
        EXPECT_EQ(full.http_path, FIFTY_CHARACTER_PATH);
        EXPECT_STREQ(full.content_type, "text/css");
        EXPECT_EQ(full.content_offset, 5u);
        EXPECT_EQ(read_range(source, full.position, 6), "body{}");

        EXPECT_FALSE(has_earlier_archive(source, *read));
    }
}

TEST(ReaderTest, WalksBackThroughArchivesOfEarlierRuns)
{
    const std::string first = archive_bytes({{"/a.html", "text/html", "first"}});
    const std::string second = archive_bytes({});
    const std::string third = archive_bytes({{"/b.js", "text/javascript", "x"}, {"/c.gif", "image/gif", "yz"}});
    for (const std::string& prefix : {std::string(), std::string("MZ\x90\x00", 4)}) {
        const std::string target = prefix + first + second + third;
        byte_source source = memory_source(target);
        auto read = new_archive();
        reader_error error;

        ASSERT_TRUE(read_last_archive(source, read.get(), &error)) << error.message;
        EXPECT_EQ(read->archive_start, prefix.size() + first.size() + second.size());
        EXPECT_EQ(read->document_count, 2u);
        ASSERT_TRUE(has_earlier_archive(source, *read));

        ASSERT_TRUE(read_archive_ending_at(source, read->archive_start, read.get(), &error)) << error.message;
        EXPECT_EQ(read->archive_start, prefix.size() + first.size());
        EXPECT_EQ(read->document_count, 0u);
        ASSERT_TRUE(has_earlier_archive(source, *read));

        ASSERT_TRUE(read_archive_ending_at(source, read->archive_start, read.get(), &error)) << error.message;
        EXPECT_EQ(read->archive_start, prefix.size());
        ASSERT_EQ(read->document_count, 1u);
        EXPECT_EQ(read_range(source, read->documents[0].position, 5), "first");
        EXPECT_FALSE(has_earlier_archive(source, *read));
    }
}

TEST(ReaderTest, CopiesADocumentLargerThanItsChunksToAStream)
{
    std::string big;
    for (size_t i = 0; i < 100000; ++i) {
        big += static_cast<char>(i * 7 % 251);
    }
    const std::string target = archive_bytes({{"/a", "unknown", "before"}, {"/big.bmp", "image/bmp", big}});
    file_holder holder(target);
    byte_source source;
    ASSERT_TRUE(source_from_file(&source, holder.file));
    auto read = new_archive();
    reader_error error;
    ASSERT_TRUE(read_last_archive(source, read.get(), &error)) << error.message;

    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(copy_document(source, read->documents[1], out, &error)) << error.message;
    ASSERT_EQ(std::fflush(out), 0);
    std::rewind(out);
    std::string copied(big.size() + 1, '\0');
    EXPECT_EQ(std::fread(copied.data(), 1, copied.size(), out), big.size());
    copied.resize(big.size());
    EXPECT_EQ(copied, big);
    std::fclose(out);
}

TEST(ReaderTest, ReportsAFailedWriteWhileCopying)
{
    const std::string target = archive_bytes({{"/big", "unknown", std::string(70000, 'b')}});
    byte_source source = memory_source(target);
    auto read = new_archive();
    reader_error error;
    ASSERT_TRUE(read_last_archive(source, read.get(), &error)) << error.message;

    FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(copy_document(source, read->documents[0], full, &error));
    EXPECT_EQ(error.status, reader_status::write_failed);
    std::fclose(full);
}

TEST(ReaderTest, NeverReadsPastTheSource)
{
    const std::string bytes = "0123456789";
    byte_source source = memory_source(bytes);
    char out[16];
    EXPECT_TRUE(source_read_at(source, 10, out, 0));
    EXPECT_TRUE(source_read_at(source, 6, out, 4));
    EXPECT_FALSE(source_read_at(source, 7, out, 4));
    EXPECT_FALSE(source_read_at(source, 11, out, 0));
    EXPECT_FALSE(source_read_at(source, UINT64_MAX - 1, out, 4));
    EXPECT_FALSE(source_read_at(source, 0, out, SIZE_MAX));
}

} // namespace
