#pragma once

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

// A file of the repository, e.g. RepositoryPath("keys/dev-release.pem").
std::string RepositoryPath(const char *relative);

// The whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string &path);
bool WriteFileBytes(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);

// `count` bytes at `offset`, little-endian.
uint64_t LittleEndianAt(const std::string &bytes, size_t offset, int count);

struct ToolRun {
    int exit_code; // -1 when the tool could not be run or did not exit normally
    std::string out;
    std::string err;
};

// Runs the built talvor-yayin with `args` and captures its output, stderr through a pipe. With
// `stderr_unread` that pipe has no reader from the start, as when a script's reader went away.
ToolRun RunTool(const std::vector<std::string> &args, bool stderr_unread = false);

// Runs the tool with a command line it must refuse as a mistake: exit code 2, nothing on
// stdout, one line on stderr.
void ExpectUsageError(const std::vector<std::string> &args);

// Gives each test an empty folder of its own, removed afterwards.
class ToolTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string &name) const;
    // The names in the folder, sorted.
    std::vector<std::string> Entries() const;

    std::string folder_;
};
