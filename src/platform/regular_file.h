#pragma once
// Opening documents the user names without ever blocking on them. A path can name a
// FIFO (whose open waits for a writer forever), a device, a socket, a folder or a
// symbolic-link loop; every reader of projects, sessions, sound and video files asks
// here first and refuses anything but a regular file with one clear reason.
//
// Any thread may call these; they keep no state.
#include <cstddef>
#include <string>

namespace morvane {

// Opens `path` for reading when it is a regular file. The open itself does not block
// (O_NONBLOCK, cleared again once fstat has shown a regular file). Returns the
// descriptor (close-on-exec), or -1 with `why` set to a short reason such as
// "is a named pipe, not a file" or "No such file or directory".
int OpenRegularFileForReading(const std::string& path, std::string* why);

// Empty when `path` opens as a regular file, else the reason it cannot be read.
std::string RegularFileProblem(const std::string& path);

// Like RegularFileProblem, but also empty when nothing is at `path` (no such file, or
// a folder on the way is missing): for readers that report a missing document in their
// own words and only need to refuse what is there but is no file.
std::string ProblemWithPresentFile(const std::string& path);

// Reads a whole regular file of at most `maxBytes` bytes into `bytes`. False, with
// `why` set, for anything else (including a file larger than the limit).
bool ReadRegularFile(const std::string& path, std::string& bytes, std::string* why,
                     size_t maxBytes = size_t(1) << 30);

}  // namespace morvane
