#pragma once

#include <string>

// Where calyx-cli analyze puts what it writes.

// Writes bytes to the regular file at path, made or emptied. Anything else
// there (a FIFO, a device) is refused without waiting for a reader. Returns
// an empty text, or why the file was not written.
std::string CliWriteRegularFile(const std::string& path, const std::string& bytes);

// Writes text to standard output and flushes it; false when not all of it
// got there (a full disk, a closed pipe, a closed descriptor).
bool CliWriteStdout(const std::string& text);

// Whether standard output is open at all: when it is not, the next file
// opened would take its descriptor, and the report would go into that.
bool CliStdoutOpen();
