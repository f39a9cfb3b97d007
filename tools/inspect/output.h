#pragma once

// Creating the extracted tree without ever leaving the output folder: every
// folder is opened relative to the one above it, never through a symbolic
// link, and files are only ever created new. Handles are folder descriptors.
// Each function that fails puts the reason into reason and returns -1 or null.

#include <cstddef>
#include <cstdio>

// The output folder itself, made when it is missing. The user chose it, so it
// may be reached through a symbolic link.
int output_open_root(const char* path, char* reason, size_t reason_size);

// The folder name inside parent, made when it is missing.
int output_enter_folder(int parent, const char* name, char* reason, size_t reason_size);

// A new file name inside parent, open for writing. An existing regular file
// is replaced only when replace is set, and then by a new file, so nothing
// that shares the old one's bytes (a hard link) is touched.
FILE* output_create_file(int parent, const char* name, bool replace, char* reason, size_t reason_size);

void output_close_folder(int folder);
