#pragma once

// The part of a directory listing that every platform shares: the names are
// gathered first, then handed out in byte order, whatever order the
// operating system keeps them in.

#include <string>
#include <vector>

#include "platform/platform.h"

struct platform_listing {
    std::vector<std::string> names;
    size_t next = 0;
};

// Adds a name as the operating system gave it; "." and ".." are left out.
void add_listed_name(platform_listing* listing, const char* name);
// Puts the gathered names in byte order (strcmp); call once, after the last.
void sort_listed_names(platform_listing* listing);
