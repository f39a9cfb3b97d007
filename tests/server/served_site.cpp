#include "served_site.h"

#include <csignal>
#include <cstdlib>

const std::vector<site_document>& site_documents()
{
    static const std::vector<site_document> documents = {
        {"index.html", "/index.html", "text/html", "<!DOCTYPE html>\n<p>home</p>\n"},
        {"css/site.css", "/css/site.css", "text/css", "h1 { color: rgb(45, 91, 138) }\n"},
        {"js/app.js", "/js/app.js", "text/javascript", "document.title = 'app';\n"},
        {"img/logo.gif", "/img/logo.gif", "image/gif", "GIF89a" + pattern(488, 3)},
        {"img/old.bmp", "/img/old.bmp", "image/bmp", "BM" + pattern(1078, 4)},
        {"docs/about.htm", "/docs/about.htm", "text/html", "<p>about</p>\n"},
        {"feed.xml", "/feed.xml", "application/xml", "<feed/>\n"},
        {"notes.txt", "/notes.txt", "application/octet-stream", "not a known type\n"},
        // Not a whole number of 64 KiB read chunks.
        {"big.bin", "/big.bin", "application/octet-stream", pattern(300001, 5)},
        {"empty.html", "/empty.html", "text/html", ""},
        {"with space.html", "/with%20space.html", "text/html", "<p>space</p>\n"},
        {"100%.css", "/100%25.css", "text/css", "p { }\n"},
        {"why?.html", "/why%3F.html", "text/html", "<p>question</p>\n"},
        {"caf\xc3\xa9.html", "/caf%C3%A9.html", "text/html", "<p>utf-8</p>\n"},
    };
    return documents;
}

std::string serve_program()
{
    return QUILLMAR_SERVE_PATH;
}

void link_tree(const std::string& folder, const std::string& target)
{
    run_result linked = run_linker({folder, target});
    ASSERT_EQ(linked.exit_status, 0) << linked.out << linked.err;
}

int listening_port(const std::string& line)
{
    const std::string prefix = "listening on http://127.0.0.1:";
    if (line.compare(0, prefix.size(), prefix) != 0 || line.size() < prefix.size() + 2 || line.back() != '/') {
        return 0;
    }
    std::string digits = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return std::atoi(digits.c_str());
}

void served_site::SetUp()
{
    std::vector<tree_entry> tree;
    for (const site_document& document : site_documents()) {
        tree.push_back({"site/" + document.file, document.bytes});
    }
    make_tree(dir.path(), tree);
    ASSERT_NO_FATAL_FAILURE(link_tree(dir / "site", dir / "site.bin"));

    server = std::make_unique<child_process>(std::vector<std::string>{serve_program(), dir / "site.bin", "--port", "0"});
    std::string first_line = server->read_line();
    port = listening_port(first_line);
    if (port == 0) {
        server->send_signal(SIGKILL);
        FAIL() << "first line: " << first_line << "\n" << server->wait().err;
    }
}

std::unique_ptr<httplib::Client> served_site::client() const
{
    auto connection = std::make_unique<httplib::Client>("127.0.0.1", port);
    connection->set_url_encode(false);
    return connection;
}
