// Bytes no HTTP client would send, written straight to the server's socket:
// it must answer or close, and go on serving the next connection.

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "served_site.h"

namespace {

// Generous: a server that neither answers nor closes fails the test instead
// of hanging it.
constexpr int GIVE_UP_SECONDS = 60;

struct raw_exchange {
    std::string answer;
    bool ended = false; // a whole header came back or the server closed, before the wait ran out
};

// Sends bytes on a new connection and collects what comes back, until the
// end of an answer's header or until the server closes. Every answer expected
// here has an empty body. The server may close while bytes are still being
// sent, which is fine. The sending side stays open: httplib does not answer
// a client that has ended its side.
raw_exchange exchange_raw(int port, const std::string& bytes)
{
    raw_exchange result;
    int connection = socket(AF_INET, SOCK_STREAM, 0);
    if (connection < 0) {
        ADD_FAILURE() << "cannot make a socket";
        return result;
    }
    timeval give_up = {GIVE_UP_SECONDS, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &give_up, sizeof give_up);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot connect to port " << port;
        close(connection);
        return result;
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t wrote = send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break;
        }
        sent += static_cast<size_t>(wrote);
    }
    while (result.answer.find("\r\n\r\n") == std::string::npos) {
        char buffer[4096];
        ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            result.ended = got == 0 || errno == ECONNRESET;
            break;
        }
        result.answer.append(buffer, static_cast<size_t>(got));
    }
    if (!result.answer.empty()) {
        result.ended = true;
    }
    close(connection);
    return result;
}

std::string binary_garbage(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

struct bad_input {
    const char* name;
    std::string bytes;
    const char* answer; // the status line it must get; null: any 4xx answer, or none
};

std::vector<bad_input> bad_inputs()
{
    const std::string host = " HTTP/1.1\r\nHost: x\r\n\r\n";
    return {
        {"dot-dot", "GET /../index.html" + host, "HTTP/1.1 404 Not Found"},
        {"dot-dot below a folder", "GET /css/../../etc/passwd" + host, "HTTP/1.1 404 Not Found"},
        {"encoded dot-dot", "GET /%2e%2e/%2E%2E/etc/passwd" + host, "HTTP/1.1 404 Not Found"},
        {"encoded slash and dot-dot", "GET /css%2f..%2fsite.css" + host, "HTTP/1.1 404 Not Found"},
        {"very long request line", "GET /" + std::string(100000, 'a') + host, nullptr},
        {"very long header", "GET /index.html HTTP/1.1\r\nX-Long: " + std::string(100000, 'b') + "\r\n\r\n", nullptr},
        {"binary garbage", binary_garbage(8192), nullptr},
        {"TLS greeting", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + binary_garbage(500), nullptr},
        {"NUL inside the target", std::string("GET /index\0.html", 16) + host, nullptr},
        {"no HTTP version", "GET /index.html\r\n\r\n", nullptr},
        {"unknown HTTP version", "GET /index.html HTTP/7.0\r\nHost: x\r\n\r\n", nullptr},
        {"unknown method", "BREW /index.html" + host, nullptr},
        {"request line cut short", "GET /index.ht", nullptr},
        {"blank lines only", "\r\n\r\n\r\n", nullptr},
    };
}

TEST_F(served_site, AnswersOrClosesOnBadInputAndKeepsServing)
{
    const std::string& index = site_documents().front().bytes;
    for (const bad_input& input : bad_inputs()) {
        SCOPED_TRACE(input.name);
        raw_exchange exchange = exchange_raw(port, input.bytes);
        EXPECT_TRUE(exchange.ended) << "neither answered nor closed within " << GIVE_UP_SECONDS << " s";
        std::string status_line = exchange.answer.substr(0, exchange.answer.find("\r\n"));
        if (input.answer != nullptr) {
            EXPECT_EQ(status_line, input.answer);
        } else if (!exchange.answer.empty()) {
            EXPECT_EQ(status_line.rfind("HTTP/1.1 4", 0), 0u) << status_line;
        }

        auto connection = client();
        httplib::Result fetched = connection->Get("/index.html");
        ASSERT_TRUE(fetched) << httplib::to_string(fetched.error());
        EXPECT_EQ(fetched->status, 200);
        EXPECT_EQ(fetched->body, index);
    }
}

} // namespace
