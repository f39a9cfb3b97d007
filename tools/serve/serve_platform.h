#pragma once

// What the server needs from the operating system beyond standard C and
// cpp-httplib: reads that many threads can make at once, and a way to turn
// SIGINT and SIGTERM into an orderly stop.

#include <cstddef>
#include <cstdint>
#include <cstdio>

// From now on serve_read_at reads the bytes of file. The stream itself must
// not be read or moved any more.
void serve_share_target(FILE* file);

// Exactly size bytes at position, without a shared file position, so any
// number of threads may call it at once. False when the file has fewer bytes
// or the read fails.
bool serve_read_at(uint64_t position, void* out, size_t size);

// Blocks the stop signals in the calling thread and in every thread it starts
// afterwards, so that only serve_wait_for_stop_signal receives them, and makes
// writes to a closed connection fail instead of ending the process. Call it
// before any thread exists. False when the signal mask cannot be set.
bool serve_block_stop_signals();

// Waits until SIGINT or SIGTERM arrives and returns its number.
int serve_wait_for_stop_signal();

// Options for the listening socket. A port left in TIME_WAIT by a stopped
// server may be taken again, but a port another program listens on may not
// (httplib's default would share it, handing each server some connections).
void serve_listening_socket_options(int socket);
