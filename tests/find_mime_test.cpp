#include <gtest/gtest.h>

#include <string>

#include <unistd.h>

#include "collect/collect.h"

namespace {

struct mime_case {
    const char* http_path;
    const char* mime_type;
};

TEST(find_mime, maps_the_last_extension_exactly)
{
    const mime_case cases[] = {
        {"/index.html", "text/html"},
        {"/page.htm", "text/html"},
        {"/app.js", "text/javascript"},
        {"/main.css", "text/css"},
        {"/logo.bmp", "image/bmp"},
        {"/logo.gif", "image/gif"},
        {"/feed.xml", "application/xml"},
        {"/INDEX.HTML", "unknown"},       // the match is case-sensitive
        {"/readme", "unknown"},           // no dot at all
        {"/site.old/readme", "unknown"},  // the last dot may lie in a folder's name
        {"/archive.tar.gz", "unknown"},   // only the last extension counts
        {"/.css", "text/css"},            // a name that is only an extension
        {"/name.", "unknown"},            // "." is the fallback row itself
        {"/a.b/c.js", "text/javascript"}, // a dot in a folder before the file's own
        {"/photo.png", "unknown"},
        {"", "unknown"},
    };
    for (const mime_case& c : cases) {
        EXPECT_STREQ(find_mime(c.http_path)->mime_type, c.mime_type) << c.http_path;
    }
}

TEST(find_mime, falls_back_to_the_first_row)
{
    EXPECT_EQ(find_mime("/readme"), &mime_table[0]);
    EXPECT_EQ(find_mime("/photo.png"), &mime_table[0]);
}

TEST(find_mime, ends_the_run_without_a_name)
{
    // The message goes to standard output; send that where the death test looks.
    EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), find_mime(nullptr)), testing::ExitedWithCode(1),
                "impossible to apply find_mime with an empty filename");
}

} // namespace
