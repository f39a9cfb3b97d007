#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/archive_bytes.h"
#include "support/run_linker.h"
#include "support/temp_tree.h"

// Each test gets its own folder and runs the linker inside it, so the paths
// in progress lines are the short relative ones a user would type.
class link_fixture : public testing::Test {
protected:
    temp_dir dir;

    run_result link(const std::vector<std::string>& args, run_options options = {})
    {
        options.working_dir = dir.path();
        return run_linker(args, options);
    }

    std::string bytes_of(const std::string& relative) { return read_file(dir / relative); }
};

// Prefixes every progress line expectation with the banner.
inline std::vector<std::string> with_banner(std::vector<std::string> lines)
{
    lines.insert(lines.begin(), "Quillmar Linker");
    return lines;
}
