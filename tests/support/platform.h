#pragma once
// The few system calls the tests make that POSIX and Windows spell differently.
#include <filesystem>
#include <string>

namespace velmora::test {

// Whether fopen opens a directory: POSIX does (its reads then fail), Windows refuses it. Whether
// reading a file in text mode ("r") turns CR LF into LF, as Windows' C library does.
#ifdef _WIN32
constexpr bool kDirectoriesOpen = false;
constexpr bool kTextModeDropsCr = true;
#else
constexpr bool kDirectoriesOpen = true;
constexpr bool kTextModeDropsCr = false;
#endif

// Creates a new directory from a template ending in XXXXXX, replacing the Xs; false on failure.
bool makeTempDir(std::string& pattern);
// A temporary file's descriptor, opened for reading and writing and removed from view; -1 on failure.
int makeTempFile();
// Makes `to` show the files of the directory `from`, read-only by convention: a link on POSIX;
// on Windows, where links need privileges, hard links to its files or else copies.
void shareDirectory(const std::filesystem::path& from, const std::filesystem::path& to);
void setEnv(const char* name, const char* value);
void unsetEnv(const char* name);

}  // namespace velmora::test
