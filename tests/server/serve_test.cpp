// quillmar-serve end to end: trees linked by the real quillmar-link, served
// by the real binary and fetched with a real HTTP client.

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "served_site.h"

namespace {

const site_document& document_at(const std::string& request_path)
{
    for (const site_document& document : site_documents()) {
        if (document.request_path == request_path) {
            return document;
        }
    }
    throw std::runtime_error("no test document at " + request_path);
}

std::string log_line(const std::string& method, const std::string& target, int status, size_t bytes)
{
    return method + " " + target + " " + std::to_string(status) + " " + std::to_string(bytes);
}

TEST_F(served_site, ServesEveryDocumentWithItsBytesAndContentType)
{
    auto connection = client();
    for (const site_document& document : site_documents()) {
        SCOPED_TRACE(document.request_path);
        httplib::Result fetched = connection->Get(document.request_path.c_str());
        ASSERT_TRUE(fetched) << httplib::to_string(fetched.error());
        EXPECT_EQ(fetched->status, 200);
        EXPECT_EQ(fetched->get_header_value("Content-Type"), document.content_type);
        EXPECT_EQ(fetched->get_header_value("Content-Length"), std::to_string(document.bytes.size()));
        EXPECT_TRUE(fetched->body == document.bytes) << "got " << fetched->body.size() << " bytes";
        EXPECT_EQ(next_log_line(), log_line("GET", document.request_path, 200, document.bytes.size()));
    }
}

struct request_case {
    const char* method;
    std::string target;
    int status;
    const char* document; // whose bytes answer a GET and whose length a HEAD; null: none
};

// The table runs in order on one server: every row also checks the line the
// server logs for it.
const std::vector<request_case>& request_cases()
{
    static const std::vector<request_case> cases = {
        // HEAD answers like GET without the body.
        {"HEAD", "/index.html", 200, "/index.html"},
        {"HEAD", "/big.bin", 200, "/big.bin"},
        {"HEAD", "/missing.html", 404, nullptr},
        {"HEAD", "/bad%zz", 400, nullptr},
        // / is /index.html; the query is not part of the path, whatever it holds.
        {"GET", "/", 200, "/index.html"},
        {"GET", "/?lang=en", 200, "/index.html"},
        {"GET", "/css/site.css?v=2&x=%zz", 200, "/css/site.css"},
        {"GET", "/css/site.css?", 200, "/css/site.css"},
        // The path is decoded before the lookup, and only then.
        {"GET", "/index%2Ehtml", 200, "/index.html"},
        {"GET", "/%63ss/site.css", 200, "/css/site.css"},
        {"GET", "/with+space.html", 404, nullptr},
        {"GET", "/why?.html", 404, nullptr},
        // Paths match exactly: no folders, no case folding, no clean-up.
        {"GET", "/missing.html", 404, nullptr},
        {"GET", "/css", 404, nullptr},
        {"GET", "/css/", 404, nullptr},
        {"GET", "/INDEX.HTML", 404, nullptr},
        {"GET", "/index.html/", 404, nullptr},
        {"GET", "//index.html", 404, nullptr},
        {"GET", "/css/../index.html", 404, nullptr},
        {"GET", "/css/%2e%2e/index.html", 404, nullptr},
        {"GET", "/%2E%2E/%2e%2e/etc/passwd", 404, nullptr},
        {"GET", "/" + std::string(60, 'a'), 404, nullptr},
        {"GET", "/" + std::string(60, 'a') + "%zz", 400, nullptr},
        // Malformed escapes and NUL.
        {"GET", "/bad%zz", 400, nullptr},
        {"GET", "/bad%2", 400, nullptr},
        {"GET", "/bad%", 400, nullptr},
        {"GET", "/%G0.html", 400, nullptr},
        {"GET", "/nul%00.html", 400, nullptr},
        {"GET", "/index.html%00", 400, nullptr},
        // Every other method httplib accepts.
        {"POST", "/index.html", 405, nullptr},
        {"PUT", "/index.html", 405, nullptr},
        {"DELETE", "/index.html", 405, nullptr},
        {"OPTIONS", "/index.html", 405, nullptr},
        {"PATCH", "/index.html", 405, nullptr},
        {"TRACE", "/index.html", 405, nullptr},
        {"POST", "/missing.html", 405, nullptr},
    };
    return cases;
}

TEST_F(served_site, AnswersEachRequestAsTheTableSays)
{
    auto connection = client();
    for (const request_case& row : request_cases()) {
        SCOPED_TRACE(std::string(row.method) + " " + row.target);
        httplib::Request request;
        request.method = row.method;
        request.path = row.target;
        httplib::Result answered = connection->send(request);
        ASSERT_TRUE(answered) << httplib::to_string(answered.error());
        EXPECT_EQ(answered->status, row.status);
        size_t body_bytes = 0;
        if (row.document != nullptr) {
            const site_document& document = document_at(row.document);
            EXPECT_EQ(answered->get_header_value("Content-Type"), document.content_type);
            EXPECT_EQ(answered->get_header_value("Content-Length"), std::to_string(document.bytes.size()));
            if (request.method == "GET") {
                EXPECT_TRUE(answered->body == document.bytes) << "got " << answered->body.size() << " bytes";
                body_bytes = document.bytes.size();
            } else {
                EXPECT_EQ(answered->body, "");
            }
        } else {
            EXPECT_EQ(answered->body, "");
        }
        if (row.status == 405) {
            EXPECT_EQ(answered->get_header_value("Allow"), "GET, HEAD");
        }
        EXPECT_EQ(next_log_line(), log_line(row.method, row.target, row.status, body_bytes));
    }
}

// A refused request's body must be read and dropped, or it would be taken for
// the next request on the same connection. It is longer than what a server
// reads along with the header.
TEST_F(served_site, BodyOfARefusedRequestIsNotTakenForTheNextRequest)
{
    auto connection = client();
    connection->set_keep_alive(true);
    const std::string smuggled = std::string(20000, 'x') + "\r\nGET /index.html HTTP/1.1\r\nHost: x\r\n\r\n";
    httplib::Result posted = connection->Post("/css/site.css", smuggled, "text/plain");
    ASSERT_TRUE(posted) << httplib::to_string(posted.error());
    EXPECT_EQ(posted->status, 405);
    httplib::Result fetched = connection->Get("/js/app.js");
    ASSERT_TRUE(fetched) << httplib::to_string(fetched.error());
    EXPECT_EQ(fetched->status, 200);
    EXPECT_EQ(fetched->body, document_at("/js/app.js").bytes);
    EXPECT_EQ(next_log_line(), log_line("POST", "/css/site.css", 405, 0));
    EXPECT_EQ(next_log_line(), log_line("GET", "/js/app.js", 200, document_at("/js/app.js").bytes.size()));
}

// Ranges make the server read at offsets inside a document, across its read
// chunks. A range reaching past the document's end must not carry the bytes
// that follow it in the file: /index.html is followed by /js/app.js.
TEST_F(served_site, ServesRangesInsideADocumentOnly)
{
    const std::string& big = document_at("/big.bin").bytes;
    const std::string& index = document_at("/index.html").bytes;
    struct range_case {
        std::string path;
        std::string range;
        int status;
        std::string bytes; // for 206
    };
    const std::vector<range_case> cases = {
        {"/big.bin", "bytes=0-0", 206, big.substr(0, 1)},
        {"/big.bin", "bytes=65530-65545", 206, big.substr(65530, 16)},
        {"/big.bin", "bytes=131000-300000", 206, big.substr(131000)},
        {"/big.bin", "bytes=299990-", 206, big.substr(299990)},
        {"/big.bin", "bytes=-100", 206, big.substr(big.size() - 100)},
        {"/index.html", "bytes=-100000", 206, index},
        {"/index.html", "bytes=0-" + std::to_string(index.size()), 416, ""},
        {"/index.html", "bytes=0-100000", 416, ""},
        {"/index.html", "bytes=" + std::to_string(index.size()) + "-", 416, ""},
        {"/index.html", "bytes=0-1,5000-5001", 416, ""},
        {"/index.html", "bytes=-0", 416, ""},
        {"/empty.html", "bytes=0-0", 416, ""},
    };
    auto connection = client();
    for (const range_case& row : cases) {
        SCOPED_TRACE(row.path + " " + row.range);
        httplib::Result fetched = connection->Get(row.path.c_str(), {{"Range", row.range}});
        ASSERT_TRUE(fetched) << httplib::to_string(fetched.error());
        EXPECT_EQ(fetched->status, row.status);
        if (row.status == 206) {
            EXPECT_TRUE(fetched->body == row.bytes) << "got " << fetched->body.size() << " bytes";
        } else {
            EXPECT_EQ(fetched->body, "");
            EXPECT_EQ(fetched->get_header_value("Content-Range"),
                      "bytes */" + std::to_string(document_at(row.path).bytes.size()));
        }
    }
}

// Workers read the file at once; each must get its own document's bytes.
TEST_F(served_site, ServesManyClientsAtOnce)
{
    constexpr int CLIENTS = 8;
    constexpr int ROUNDS = 10;
    const std::vector<std::string> paths = {"/big.bin", "/img/old.bmp", "/index.html"};
    std::vector<int> wrong(CLIENTS, 0);
    std::vector<std::thread> clients;
    for (int c = 0; c < CLIENTS; ++c) {
        clients.emplace_back([&, c] {
            auto connection = client();
            connection->set_keep_alive(true);
            for (int round = 0; round < ROUNDS; ++round) {
                const site_document& document = document_at(paths[static_cast<size_t>(c + round) % paths.size()]);
                httplib::Result fetched = connection->Get(document.request_path.c_str());
                if (!fetched || fetched->status != 200 || fetched->body != document.bytes) {
                    ++wrong[static_cast<size_t>(c)];
                }
            }
        });
    }
    for (std::thread& running : clients) {
        running.join();
    }
    for (int c = 0; c < CLIENTS; ++c) {
        EXPECT_EQ(wrong[static_cast<size_t>(c)], 0) << "client " << c;
    }
    for (int i = 0; i < CLIENTS * ROUNDS; ++i) {
        std::string line = next_log_line();
        EXPECT_EQ(line.rfind("GET /", 0), 0u) << line;
        EXPECT_NE(line.find(" 200 "), std::string::npos) << line;
    }
}

TEST_F(served_site, StopsWithStatusZeroWhileAConnectionIsOpen)
{
    auto connection = client();
    connection->set_keep_alive(true);
    httplib::Result fetched = connection->Get("/index.html");
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->status, 200);
    server->send_signal(SIGTERM);
    run_result stopped = server->wait();
    EXPECT_EQ(stopped.signal, 0);
    EXPECT_EQ(stopped.exit_status, 0) << stopped.err;
    EXPECT_EQ(stopped.err, "");
}

TEST(serve_command, StopsWithStatusZeroOnSigintAndSigterm)
{
    temp_dir dir;
    make_tree(dir.path(), {{"site/index.html", "<p>hi</p>"}});
    ASSERT_NO_FATAL_FAILURE(link_tree(dir / "site", dir / "site.bin"));
    for (int signal_number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal_number);
        child_process server({serve_program(), dir / "site.bin", "--port", "0"});
        std::string first_line = server.read_line();
        ASSERT_GT(listening_port(first_line), 0) << first_line;
        // At once: the signal may come before the server waits for connections.
        server.send_signal(signal_number);
        run_result stopped = server.wait();
        EXPECT_EQ(stopped.signal, 0);
        EXPECT_EQ(stopped.exit_status, 0) << stopped.err;
        EXPECT_EQ(stopped.out, first_line + "\n");
        EXPECT_EQ(stopped.err, "");
    }
}

TEST(serve_command, RefusesAFileThatDoesNotEndInAnArchiveBeforeListening)
{
    temp_dir dir;
    make_tree(dir.path(), {{"site/index.html", "<p>hi</p>"}, {"folder/", ""}});
    ASSERT_NO_FATAL_FAILURE(link_tree(dir / "site", dir / "linked.bin"));
    std::string linked = read_file(dir / "linked.bin");
    write_file(dir / "cut.bin", linked.substr(0, linked.size() - 1));
    write_file(dir / "empty.bin", "");
    write_file(dir / "text.txt", "just some text, no archive at its end\n");

    struct refusal {
        const char* file;
        const char* message; // after "quillmar-serve: DIR/FILE: "
    };
    for (const refusal& row : {refusal{"missing.bin", "cannot open: No such file or directory"},
                               refusal{"folder", "cannot read: Is a directory"},
                               refusal{"empty.bin", "does not end in a well-formed archive: "},
                               refusal{"text.txt", "does not end in a well-formed archive: no archive magic"},
                               refusal{"cut.bin", "does not end in a well-formed archive: no archive magic"}}) {
        SCOPED_TRACE(row.file);
        run_result refused = run_program({serve_program(), dir / row.file, "--port", "0"});
        EXPECT_EQ(refused.exit_status, 1);
        EXPECT_EQ(refused.out, "");
        std::string expected = "quillmar-serve: " + (dir / row.file) + ": " + row.message;
        EXPECT_EQ(refused.err.compare(0, expected.size(), expected), 0) << refused.err;
    }
}

TEST(serve_command, RefusesAPortInUse)
{
    temp_dir dir;
    make_tree(dir.path(), {{"site/index.html", "<p>hi</p>"}});
    ASSERT_NO_FATAL_FAILURE(link_tree(dir / "site", dir / "site.bin"));
    child_process first({serve_program(), dir / "site.bin", "--port", "0"});
    int port = listening_port(first.read_line());
    ASSERT_GT(port, 0);
    std::string taken = std::to_string(port);

    run_result second = run_program({serve_program(), dir / "site.bin", "--bind", "127.0.0.1", "--port", taken});
    EXPECT_EQ(second.exit_status, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "quillmar-serve: cannot listen on 127.0.0.1 port " + taken + "\n");
}

TEST(serve_command, WrongCommandLinesGetTheUsageAndStatusTwo)
{
    const std::string usage = "usage: quillmar-serve FILE [--bind ADDR] [--port N]\n"
                              "       quillmar-serve --help\n";
    const std::vector<std::vector<std::string>> command_lines = {
        {},
        {"a.bin", "b.bin"},
        {"a.bin", "--port"},
        {"a.bin", "--port", ""},
        {"a.bin", "--port", "http"},
        {"a.bin", "--port", "65536"},
        {"a.bin", "--port", "-1"},
        {"a.bin", "--bind"},
        {"a.bin", "--verbose"},
        {"--port", "0"},
    };
    for (const std::vector<std::string>& arguments : command_lines) {
        std::vector<std::string> argv = {serve_program()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        SCOPED_TRACE(testing::PrintToString(arguments));
        run_result refused = run_program(argv);
        EXPECT_EQ(refused.exit_status, 2);
        EXPECT_EQ(refused.out, "");
        ASSERT_GE(refused.err.size(), usage.size());
        EXPECT_EQ(refused.err.rfind("quillmar-serve: ", 0), 0u) << refused.err;
        EXPECT_EQ(refused.err.substr(refused.err.size() - usage.size()), usage);
    }

    run_result help = run_program({serve_program(), "--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u) << help.out;
}

} // namespace
