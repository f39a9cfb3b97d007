#include "platform/sorted_listing.h"

#include <algorithm>
#include <cstring>

void add_listed_name(platform_listing* listing, const char* name)
{
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
        listing->names.emplace_back(name);
    }
}

void sort_listed_names(platform_listing* listing)
{
    std::sort(listing->names.begin(), listing->names.end(),
              [](const std::string& a, const std::string& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
}

const char* platform_next_entry(platform_listing* listing)
{
    if (listing->next == listing->names.size()) {
        return nullptr;
    }
    return listing->names[listing->next++].c_str();
}

void platform_close_listing(platform_listing* listing)
{
    delete listing;
}
