// quillmar-serve: serves the documents of a target's last archive over HTTP,
// each at its HTTP path, so a linked site can be tried in a browser.

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "reader/reader.h"
#include "tool_messages.h"
#include "serve_platform.h"


constexpr const char* DEFAULT_ADDRESS = "127.0.0.1";
constexpr int DEFAULT_PORT = 8080;
constexpr int HIGHEST_PORT = 65535;

// Documents leave in pieces of this size, read at their place in the file,
// so a large one never sits in memory whole.
constexpr size_t CHUNK_SIZE = 64 * 1024;

// A kept-alive connection holds its worker until it closes or idles out, and
// a browser opens six per host; a few dozen workers keep new visitors from
// queueing behind idle connections.
constexpr size_t WORKER_COUNT = 32;
constexpr size_t KEEP_ALIVE_REQUESTS = 100;
// The workers end only when their connections do, so an idle connection
// delays a stop by up to this long.
constexpr time_t KEEP_ALIVE_SECONDS = 2;

// Request bodies are read only to be dropped; larger ones are refused (413)
// rather than held in memory.
constexpr size_t MAX_REQUEST_BODY = 64 * 1024;

// Logged methods and targets are cut after this many bytes.
constexpr size_t LOGGED_METHOD_SIZE = 16;
constexpr size_t LOGGED_TARGET_SIZE = 200;

const char* const TOOL_NAME = "quillmar-serve";
const char* const USAGE_TEXT =
    "usage: quillmar-serve FILE [--bind ADDR] [--port N]\n"
    "       quillmar-serve --help\n";

static const char* const HELP_TEXT =
    "Serves the documents of the last archive in FILE over HTTP, each at its\n"
    "HTTP path; / serves /index.html.\n"
    "\n"
    "  --bind ADDR   address to listen on (default 127.0.0.1)\n"
    "  --port N      port to listen on (default 8080); 0 picks a free one\n"
    "\n"
    "The first line of output is \"listening on http://ADDR:PORT/\", then one\n"
    "line per request: method, target, status, body bytes. SIGINT or SIGTERM\n"
    "stops the server.\n"
    "\n"
    "Exit status: 0 stopped by a signal, 1 FILE does not end in a well-formed\n"
    "archive or the address cannot be used, 2 a wrong command line.\n";

// Large enough to sit in static storage rather than on the stack; read once
// before the first request and never changed afterwards.
static document_archive served_archive;
// Request lines come from many workers; each goes out whole.
static std::mutex log_mutex;
static std::atomic<bool> stop_requested{false};
static std::atomic<bool> listening_ended{false};

static bool parse_port(const char* text, int* port)
{
    if (*text == '\0') {
        return false;
    }
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        value = value * 10 + (*p - '0');
        if (value > HIGHEST_PORT) {
            return false;
        }
    }
    *port = static_cast<int>(value);
    return true;
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

enum class request_path { usable, too_long, malformed };

// The path part of the raw request target (before any '?'), percent-decoded
// into out. httplib decodes the path itself but lets bad escapes through and
// lets %00 cut the name short, so the raw target is decoded here, strictly.
// A path that does not fit out names no document; the rest is still checked,
// so a malformed target is reported as such whatever its length.
static request_path decode_request_path(const std::string& target, char* out, size_t out_size)
{
    size_t end = target.find('?');
    if (end == std::string::npos) {
        end = target.size();
    }
    if (end == 0 || target[0] != '/') {
        return request_path::malformed;
    }
    size_t used = 0;
    bool fits = true;
    for (size_t i = 0; i < end; ++i) {
        unsigned char c = static_cast<unsigned char>(target[i]);
        if (c < 0x20 || c == 0x7f) {
            return request_path::malformed;
        }
        if (c == '%') {
            int high = i + 2 < end ? hex_digit(target[i + 1]) : -1;
            int low = i + 2 < end ? hex_digit(target[i + 2]) : -1;
            if (high < 0 || low < 0 || (high == 0 && low == 0)) {
                return request_path::malformed;
            }
            c = static_cast<unsigned char>(high * 16 + low);
            i += 2;
        }
        if (used + 1 < out_size) {
            out[used++] = static_cast<char>(c);
        } else {
            fits = false;
        }
    }
    out[used] = '\0';
    return fits ? request_path::usable : request_path::too_long;
}

// The first document with this path, in header order.
static const document_entry* find_document(const char* path)
{
    for (uint32_t i = 0; i < served_archive.document_count; ++i) {
        if (std::strcmp(served_archive.documents[i].http_path, path) == 0) {
            return &served_archive.documents[i];
        }
    }
    return nullptr;
}

// "unknown" is what the linker writes for extensions it has no type for;
// browsers want a real media type. A field that could not be sent as a header
// value is treated the same way.
static const char* served_content_type(const document_entry& document)
{
    const char* type = document.content_type;
    if (type[0] == '\0' || std::strcmp(type, "unknown") == 0) {
        return "application/octet-stream";
    }
    for (const char* p = type; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c >= 0x7f) {
            return "application/octet-stream";
        }
    }
    return type;
}

static void refuse_method(const httplib::Request&, httplib::Response& response)
{
    response.status = 405;
    response.set_header("Allow", "GET, HEAD");
}

// Runs before httplib routes a request, for every method it accepts.
// httplib reads a request body only for POST, PUT, PATCH and DELETE, and only
// when the request is routed on; a body left unread would be taken for the
// next request on the connection. So those requests, when they declare a
// body, go on to handlers that refuse them after the read. Everything else is
// refused here at once: for a request without a declared length httplib would
// wait for a body until the client closed the connection.
static httplib::Server::HandlerResponse screen_method(const httplib::Request& request, httplib::Response& response)
{
    const std::string& method = request.method;
    if (method == "GET" || method == "HEAD") {
        return httplib::Server::HandlerResponse::Unhandled;
    }
    bool body_is_read = method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
    bool declares_body = request.has_header("Transfer-Encoding") ||
                         (request.has_header("Content-Length") && request.get_header_value("Content-Length") != "0");
    if (body_is_read && declares_body) {
        return httplib::Server::HandlerResponse::Unhandled;
    }
    refuse_method(request, response);
    return httplib::Server::HandlerResponse::Handled;
}

// httplib 0.11.4 serves byte ranges from a content provider as asked, even
// ones reaching past the document's end, and would so send the bytes that
// follow the document in the file. Ranges are served only when every one lies
// inside the document; anything else is unsatisfiable. (-1 marks a bound the
// client left out.)
static bool ranges_inside(const httplib::Ranges& ranges, uint32_t size)
{
    for (const httplib::Range& range : ranges) {
        long long first = range.first;
        long long last = range.second;
        if (size == 0) {
            return false;
        }
        if (first < 0) {
            // The last `last` bytes: httplib cuts a longer suffix to the document.
            if (last <= 0) {
                return false;
            }
        } else if (first >= size || (last >= 0 && (last < first || last >= size))) {
            return false;
        }
    }
    return true;
}

// Sends the next piece of a document of size bytes that starts at position
// in the file: at most CHUNK_SIZE of the length bytes from offset on. httplib
// asks again until the document, or the requested range of it, is out.
static bool send_piece(uint64_t position, uint32_t size, size_t offset, size_t length, httplib::DataSink& sink)
{
    unsigned char chunk[CHUNK_SIZE];
    size_t piece = length < CHUNK_SIZE ? length : CHUNK_SIZE;
    // Never a byte outside the document, whatever httplib asks for. A short
    // read means the file shrank after it was checked. Either way the
    // connection ends rather than carry other bytes.
    if (offset > size || piece > size - offset) {
        return false;
    }
    if (!serve_read_at(position + offset, chunk, piece)) {
        return false;
    }
    return sink.write(reinterpret_cast<const char*>(chunk), piece);
}

// GET and HEAD; httplib leaves out the body of a HEAD answer by itself.
static void serve_document(const httplib::Request& request, httplib::Response& response)
{
    char path[READER_HTTP_PATH_SIZE + 1];
    switch (decode_request_path(request.target, path, sizeof path)) {
    case request_path::malformed:
        response.status = 400;
        return;
    case request_path::too_long:
        response.status = 404;
        return;
    case request_path::usable:
        break;
    }
    const document_entry* document = find_document(std::strcmp(path, "/") == 0 ? "/index.html" : path);
    if (document == nullptr) {
        response.status = 404;
        return;
    }
    uint32_t size = document->content_size;
    if (!request.ranges.empty() && !ranges_inside(request.ranges, size)) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    const char* type = served_content_type(*document);
    if (size == 0) {
        // httplib never finishes a response whose provider has nothing to give.
        response.set_content("", 0, type);
        return;
    }
    uint64_t position = document->position;
    response.set_content_provider(size, type, [position, size](size_t offset, size_t length, httplib::DataSink& sink) {
        return send_piece(position, size, offset, length, sink);
    });
}

// Bytes outside printable ASCII are shown as \xNN, so one request stays one
// line and one field whatever it held.
static void display_escaped(char* out, size_t out_size, const std::string& text, size_t limit)
{
    if (text.empty()) {
        std::snprintf(out, out_size, "-");
        return;
    }
    size_t used = 0;
    size_t shown = 0;
    for (; shown < text.size() && shown < limit && used + 5 < out_size; ++shown) {
        unsigned char c = static_cast<unsigned char>(text[shown]);
        if (c <= 0x20 || c >= 0x7f) {
            used += static_cast<size_t>(std::snprintf(out + used, out_size - used, "\\x%02x", c));
        } else {
            out[used++] = static_cast<char>(c);
        }
    }
    out[used] = '\0';
    if (shown < text.size() && used + 4 <= out_size) {
        std::memcpy(out + used, "...", 4);
    }
}

static void log_request(const httplib::Request& request, const httplib::Response& response)
{
    char method[LOGGED_METHOD_SIZE * 4 + 4];
    char target[LOGGED_TARGET_SIZE * 4 + 4];
    display_escaped(method, sizeof method, request.method, LOGGED_METHOD_SIZE);
    display_escaped(target, sizeof target, request.target, LOGGED_TARGET_SIZE);
    unsigned long long bytes = 0;
    if (request.method != "HEAD") {
        bytes = std::strtoull(response.get_header_value("Content-Length").c_str(), nullptr, 10);
    }
    char line[sizeof method + sizeof target + 64];
    int length = std::snprintf(line, sizeof line, "%s %s %d %llu\n", method, target, response.status, bytes);
    std::lock_guard<std::mutex> hold(log_mutex);
    // The log is a courtesy: a reader of it that went away must not take the
    // server down, so a failed write is let go.
    if (std::fwrite(line, 1, static_cast<size_t>(length), stdout) == static_cast<size_t>(length)) {
        std::fflush(stdout);
    }
}

static void stop_on_signal(httplib::Server* server)
{
    serve_wait_for_stop_signal();
    stop_requested = true;
    // stop() does nothing before listen_after_bind has started, and the
    // signal can come that early: the first line is out before it starts.
    while (!server->is_running() && !listening_ended) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server->stop();
}

// Checks the archive once, before any worker exists; the workers then only
// read document bytes at the positions found here.
static bool load_archive(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        complain("%s: cannot open: %s", path, std::strerror(errno));
        return false;
    }
    byte_source source;
    if (!source_from_file(&source, file)) {
        complain("%s: cannot read: %s", path, std::strerror(errno));
        std::fclose(file);
        return false;
    }
    reader_error error;
    if (!read_last_archive(source, &served_archive, &error)) {
        complain("%s: does not end in a well-formed archive: %s", path, error.message);
        std::fclose(file);
        return false;
    }
    // The stream stays open for the life of the process; reads go through
    // its descriptor from now on.
    serve_share_target(file);
    return true;
}

int main(int argc, char** argv)
{
    const char* file_path = nullptr;
    const char* address = DEFAULT_ADDRESS;
    int port = DEFAULT_PORT;
    bool options_over = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!options_over && std::strcmp(argument, "--") == 0) {
            options_over = true;
        } else if (!options_over && (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)) {
            std::fputs(USAGE_TEXT, stdout);
            std::fputs("\n", stdout);
            std::fputs(HELP_TEXT, stdout);
            return 0;
        } else if (!options_over && std::strcmp(argument, "--bind") == 0) {
            if (i + 1 == argc || argv[i + 1][0] == '\0') {
                usage_error("%s needs an address", argument);
            }
            address = argv[++i];
        } else if (!options_over && std::strcmp(argument, "--port") == 0) {
            if (i + 1 == argc || !parse_port(argv[i + 1], &port)) {
                usage_error("%s needs a number from 0 to 65535", argument);
            }
            ++i;
        } else if (!options_over && argument[0] == '-' && argument[1] != '\0') {
            usage_error("unknown option %s", argument);
        } else if (file_path != nullptr) {
            usage_error("too many arguments (%s)", argument);
        } else {
            file_path = argument;
        }
    }
    if (file_path == nullptr) {
        usage_error("%s", "missing FILE");
    }

    if (!load_archive(file_path)) {
        return 1;
    }
    // Before the first thread: every thread httplib starts inherits the mask.
    if (!serve_block_stop_signals()) {
        complain("cannot block SIGINT and SIGTERM");
        return 1;
    }

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(WORKER_COUNT); };
    server.set_socket_options(serve_listening_socket_options);
    // A response goes out as a header write and then body writes; with Nagle's
    // algorithm the first body bytes wait for the client's delayed ACK.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(KEEP_ALIVE_REQUESTS);
    server.set_keep_alive_timeout(KEEP_ALIVE_SECONDS);
    server.set_payload_max_length(MAX_REQUEST_BODY);
    server.set_pre_routing_handler(screen_method);
    server.Get(".*", serve_document);
    server.Post(".*", refuse_method);
    server.Put(".*", refuse_method);
    server.Patch(".*", refuse_method);
    server.Delete(".*", refuse_method);
    server.set_logger(log_request);

    int bound_port = port;
    if (port == 0) {
        bound_port = server.bind_to_any_port(address);
    } else if (!server.bind_to_port(address, port)) {
        bound_port = -1;
    }
    if (bound_port < 0) {
        complain("cannot listen on %s port %d", address, port);
        return 1;
    }

    // An IPv6 address needs brackets in a URL.
    bool bracketed = std::strchr(address, ':') != nullptr;
    if (std::printf("listening on http://%s%s%s:%d/\n", bracketed ? "[" : "", address, bracketed ? "]" : "",
                    bound_port) < 0 ||
        std::fflush(stdout) != 0) {
        complain("cannot write to standard output");
        return 1;
    }

    std::thread stopper(stop_on_signal, &server);
    server.listen_after_bind();
    listening_ended = true;
    if (!stop_requested) {
        // Ends without waiting for a signal that may never come, and without
        // destroying the server the stopper thread may still reach.
        complain("stopped listening on %s port %d", address, bound_port);
        std::exit(1);
    }
    stopper.join();
    return 0;
}
