#pragma once

// A tree linked by the real quillmar-link and served by the real
// quillmar-serve on a free loopback port.

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "support/run_linker.h"
#include "support/temp_tree.h"

// One file of the served tree, and how a client asks for it.
struct site_document {
    std::string file;         // below the linked folder
    std::string request_path; // percent-encoded where the name needs it
    std::string content_type; // as served
    std::string bytes;
};

// Every content type, a document spanning several read chunks, one of 0
// bytes, and names that only reach the server percent-encoded.
const std::vector<site_document>& site_documents();

class served_site : public testing::Test {
protected:
    temp_dir dir;
    std::unique_ptr<child_process> server;
    int port = 0;

    void SetUp() override;

    // A client that sends targets exactly as given.
    std::unique_ptr<httplib::Client> client() const;

    // The server's next request line (it writes one per answered request).
    std::string next_log_line() { return server->read_line(); }
};

std::string serve_program();

// Links folder into target; fails the test when the linker does.
void link_tree(const std::string& folder, const std::string& target);

// The port named by a first line "listening on http://127.0.0.1:PORT/", or 0.
int listening_port(const std::string& line);
