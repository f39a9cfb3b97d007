// quillmar-inspect: lists, checks and unpacks the document archives at the
// end of a target file.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "output.h"
#include "reader/reader.h"
#include "tool_messages.h"


// An HTTP path of at most 50 characters has at most 25 parts.
constexpr size_t MAX_PATH_PARTS = READER_HTTP_PATH_SIZE / 2;

const char* const TOOL_NAME = "quillmar-inspect";
const char* const USAGE_TEXT =
    "usage: quillmar-inspect list [--all] FILE\n"
    "       quillmar-inspect verify [--all] FILE\n"
    "       quillmar-inspect extract [--force] FILE DIR\n"
    "       quillmar-inspect --help\n";

static const char* const HELP_TEXT =
    "Reads the document archives that quillmar-link appends to a target file.\n"
    "\n"
    "  list FILE           the documents of the last archive: HTTP path, content\n"
    "                      type, size and offset in the content area\n"
    "  list --all FILE     every archive, newest first, each with its position\n"
    "  verify FILE         exit 0 when FILE ends in a well-formed archive\n"
    "  verify --all FILE   and every earlier archive before it is well-formed\n"
    "  extract FILE DIR    write the last archive's documents under DIR at their\n"
    "                      HTTP paths; existing files are kept unless --force\n"
    "\n"
    "Exit status: 0 success, 1 a damaged archive or a failed extraction,\n"
    "2 a wrong command line.\n";

// Large enough to sit in static storage rather than on the stack.
static document_archive current_archive;
// list --all separates archives by a blank line.
static bool listed_before;

static const char* plural(uint64_t count)
{
    return count == 1 ? "" : "s";
}

static unsigned char display_width_unit(unsigned char c)
{
    // UTF-8 continuation bytes take no column of their own.
    return (c & 0xc0) == 0x80 ? 0 : 1;
}

// A name may hold control characters: shown as \xNN so that one document
// stays one line.
static size_t display_text(char* out, size_t out_size, const char* text)
{
    size_t used = 0;
    size_t width = 0;
    for (const char* p = text; *p != '\0' && used + 5 < out_size; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7f) {
            used += static_cast<size_t>(std::snprintf(out + used, out_size - used, "\\x%02x", c));
            width += 4;
        } else {
            out[used++] = *p;
            width += display_width_unit(c);
        }
    }
    out[used] = '\0';
    return width;
}

static int digits(uint64_t value)
{
    int count = 1;
    while (value >= 10) {
        value /= 10;
        ++count;
    }
    return count;
}

static void print_padded(const char* text, size_t width, size_t column)
{
    std::fputs(text, stdout);
    for (size_t i = width; i < column; ++i) {
        std::fputc(' ', stdout);
    }
}

static void print_archive(const document_archive& archive)
{
    char shown[READER_HTTP_PATH_SIZE * 4 + 1];
    size_t path_column = 4;
    size_t type_column = 4;
    uint64_t widest_size = 0;
    uint64_t widest_offset = 0;
    for (uint32_t i = 0; i < archive.document_count; ++i) {
        const document_entry& document = archive.documents[i];
        size_t width = display_text(shown, sizeof shown, document.http_path);
        path_column = width > path_column ? width : path_column;
        width = display_text(shown, sizeof shown, document.content_type);
        type_column = width > type_column ? width : type_column;
        widest_size = document.content_size > widest_size ? document.content_size : widest_size;
        widest_offset = document.content_offset > widest_offset ? document.content_offset : widest_offset;
    }
    int size_column = digits(widest_size) > 4 ? digits(widest_size) : 4;
    int offset_column = digits(widest_offset) > 6 ? digits(widest_offset) : 6;

    print_padded("path", 4, path_column + 2);
    print_padded("type", 4, type_column + 2);
    std::printf("%*s  %*s\n", size_column, "size", offset_column, "offset");
    for (uint32_t i = 0; i < archive.document_count; ++i) {
        const document_entry& document = archive.documents[i];
        size_t width = display_text(shown, sizeof shown, document.http_path);
        print_padded(shown, width, path_column + 2);
        width = display_text(shown, sizeof shown, document.content_type);
        print_padded(shown, width, type_column + 2);
        std::printf("%*u  %*u\n", size_column, document.content_size, offset_column, document.content_offset);
    }
    std::printf("total: %u document%s, %llu byte%s\n", archive.document_count, plural(archive.document_count),
                static_cast<unsigned long long>(archive.content_length), plural(archive.content_length));
}

static FILE* open_target(const char* path, byte_source* source)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        complain("%s: cannot open: %s", path, std::strerror(errno));
        return nullptr;
    }
    if (!source_from_file(source, file)) {
        complain("%s: cannot read: %s", path, std::strerror(errno));
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// Reads the last archive, then, when walking is set, every earlier one,
// handing each to visit. False at the first archive that breaks a rule.
static bool walk_archives(const char* path, bool walking, void (*visit)(const document_archive&))
{
    byte_source source;
    FILE* file = open_target(path, &source);
    if (file == nullptr) {
        return false;
    }
    reader_error error;
    bool well_formed = read_last_archive(source, &current_archive, &error);
    if (!well_formed) {
        complain("%s: %s", path, error.message);
    } else {
        visit(current_archive);
        // Each archive is at least 12 bytes long and lies before the last, so
        // the walk ends.
        while (walking && has_earlier_archive(source, current_archive)) {
            uint64_t end = current_archive.archive_start;
            if (!read_archive_ending_at(source, end, &current_archive, &error)) {
                complain("%s: archive ending at position %llu: %s", path, static_cast<unsigned long long>(end),
                         error.message);
                well_formed = false;
                break;
            }
            visit(current_archive);
        }
    }
    std::fclose(file);
    return well_formed;
}

static void list_one(const document_archive& archive)
{
    print_archive(archive);
}

static void list_one_of_chain(const document_archive& archive)
{
    if (listed_before) {
        std::printf("\n");
    }
    listed_before = true;
    std::printf("archive at position %llu:\n", static_cast<unsigned long long>(archive.archive_start));
    print_archive(archive);
}

static void report_well_formed(const document_archive& archive)
{
    std::printf("well-formed archive at position %llu: %u document%s, %llu byte%s\n",
                static_cast<unsigned long long>(archive.archive_start), archive.document_count,
                plural(archive.document_count), static_cast<unsigned long long>(archive.content_length),
                plural(archive.content_length));
}

// Splits an HTTP path into the names of its parts, refusing anything that
// could name a place outside the output folder or a different place on
// another system. The field's bytes after a NUL carry no meaning, so a NUL
// simply ends the path; what remains must still pass these tests.
static const char* split_http_path(const char* http_path, char parts[][READER_HTTP_PATH_SIZE + 1], size_t* count)
{
    if (http_path[0] != '/') {
        return http_path[0] == '\0' ? "empty path" : "path does not start with /";
    }
    if (std::strchr(http_path, '\\') != nullptr) {
        return "path holds a backslash";
    }
    *count = 0;
    const char* part = http_path + 1;
    for (;;) {
        const char* slash = std::strchr(part, '/');
        size_t length = slash == nullptr ? std::strlen(part) : static_cast<size_t>(slash - part);
        if (length == 0) {
            return "path has an empty part";
        }
        if ((length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.')) {
            return "path has a . or .. part";
        }
        // 50 characters leave room for no more than 25 parts.
        if (*count == MAX_PATH_PARTS) {
            return "path has too many parts";
        }
        std::memcpy(parts[*count], part, length);
        parts[*count][length] = '\0';
        ++*count;
        if (slash == nullptr) {
            return nullptr;
        }
        part = slash + 1;
    }
}

// Writes one document under root. False, with the reason told, on failure.
static bool extract_document(const byte_source& source, const document_entry& document, int root,
                             const char* shown_root, bool replace)
{
    char parts[MAX_PATH_PARTS][READER_HTTP_PATH_SIZE + 1];
    size_t count = 0;
    char reason[160];
    if (split_http_path(document.http_path, parts, &count) != nullptr) {
        return false; // checked before anything was written
    }
    int folder = root;
    for (size_t i = 0; i + 1 < count; ++i) {
        int inner = output_enter_folder(folder, parts[i], reason, sizeof reason);
        if (folder != root) {
            output_close_folder(folder);
        }
        if (inner < 0) {
            char shown[READER_HTTP_PATH_SIZE * 4 + 1];
            display_text(shown, sizeof shown, document.http_path);
            complain("%s%s: folder %s %s", shown_root, shown, parts[i], reason);
            return false;
        }
        folder = inner;
    }
    FILE* out = output_create_file(folder, parts[count - 1], replace, reason, sizeof reason);
    if (folder != root) {
        output_close_folder(folder);
    }
    char shown[READER_HTTP_PATH_SIZE * 4 + 1];
    display_text(shown, sizeof shown, document.http_path);
    if (out == nullptr) {
        complain("%s%s: %s", shown_root, shown, reason);
        return false;
    }
    reader_error error;
    bool copied = copy_document(source, document, out, &error);
    if (std::fclose(out) != 0 && copied) {
        copied = false;
        std::snprintf(error.message, sizeof error.message, "cannot write the document's bytes");
    }
    if (!copied) {
        complain("%s%s: %s", shown_root, shown, error.message);
    }
    return copied;
}

static int run_extract(const char* path, const char* folder_path, bool replace)
{
    byte_source source;
    FILE* file = open_target(path, &source);
    if (file == nullptr) {
        return 1;
    }
    reader_error error;
    if (!read_last_archive(source, &current_archive, &error)) {
        complain("%s: %s", path, error.message);
        std::fclose(file);
        return 1;
    }
    // Every path is checked before the first byte is written, so a refused
    // archive leaves nothing behind.
    bool refused = false;
    for (uint32_t i = 0; i < current_archive.document_count; ++i) {
        char parts[MAX_PATH_PARTS][READER_HTTP_PATH_SIZE + 1];
        size_t count = 0;
        const char* reason = split_http_path(current_archive.documents[i].http_path, parts, &count);
        if (reason != nullptr) {
            char shown[READER_HTTP_PATH_SIZE * 4 + 1];
            display_text(shown, sizeof shown, current_archive.documents[i].http_path);
            complain("%s: document %u (%s): refused: %s", path, i, shown, reason);
            refused = true;
        }
    }
    if (refused) {
        std::fclose(file);
        return 1;
    }

    char reason[160];
    int root = output_open_root(folder_path, reason, sizeof reason);
    if (root < 0) {
        complain("%s: %s", folder_path, reason);
        std::fclose(file);
        return 1;
    }
    // Messages name a document as the folder followed by its HTTP path.
    char shown_root[4096];
    std::snprintf(shown_root, sizeof shown_root, "%s", folder_path);
    size_t root_length = std::strlen(shown_root);
    while (root_length > 1 && shown_root[root_length - 1] == '/') {
        shown_root[--root_length] = '\0';
    }
    if (std::strcmp(shown_root, "/") == 0) {
        shown_root[0] = '\0';
    }

    bool extracted = true;
    for (uint32_t i = 0; i < current_archive.document_count && extracted; ++i) {
        extracted = extract_document(source, current_archive.documents[i], root, shown_root, replace);
    }
    output_close_folder(root);
    std::fclose(file);
    if (!extracted) {
        return 1;
    }
    std::printf("extracted %u document%s, %llu byte%s, into %s\n", current_archive.document_count,
                plural(current_archive.document_count), static_cast<unsigned long long>(current_archive.content_length),
                plural(current_archive.content_length), folder_path);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(USAGE_TEXT, stderr);
        return EXIT_USAGE;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
        std::fputs(USAGE_TEXT, stdout);
        std::fputs("\n", stdout);
        std::fputs(HELP_TEXT, stdout);
        return 0;
    }
    bool is_list = std::strcmp(command, "list") == 0;
    bool is_verify = std::strcmp(command, "verify") == 0;
    bool is_extract = std::strcmp(command, "extract") == 0;
    if (!is_list && !is_verify && !is_extract) {
        usage_error("unknown command %s", command);
    }

    bool all = false;
    bool force = false;
    bool options_over = false;
    const char* operands[2] = {nullptr, nullptr};
    int operand_count = 0;
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        if (!options_over && std::strcmp(argument, "--") == 0) {
            options_over = true;
        } else if (!options_over && argument[0] == '-' && argument[1] != '\0') {
            if (std::strcmp(argument, "--all") == 0 && !is_extract) {
                all = true;
            } else if (std::strcmp(argument, "--force") == 0 && is_extract) {
                force = true;
            } else if (std::strcmp(argument, "--help") == 0) {
                std::fputs(USAGE_TEXT, stdout);
                return 0;
            } else {
                usage_error("unknown option %s", argument);
            }
        } else {
            if (operand_count == 2) {
                usage_error("%s: too many arguments", command);
            }
            operands[operand_count++] = argument;
        }
    }
    int wanted = is_extract ? 2 : 1;
    if (operand_count < wanted) {
        usage_error("%s: missing arguments", command);
    }
    if (operand_count > wanted) {
        usage_error("%s: too many arguments", command);
    }

    if (is_extract) {
        return run_extract(operands[0], operands[1], force);
    }
    if (is_verify) {
        return walk_archives(operands[0], all, report_well_formed) ? 0 : 1;
    }
    return walk_archives(operands[0], all, all ? list_one_of_chain : list_one) ? 0 : 1;
}
