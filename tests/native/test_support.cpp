#include "test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char **environ;

std::string RepositoryPath(const char *relative)
{
    return std::string(TALVOR_SOURCE_DIR) + "/" + relative;
}

std::string ReadFileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), (std::streamsize)bytes.size());
    return file.good();
}

bool FileExists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

uint64_t LittleEndianAt(const std::string &bytes, size_t offset, int count)
{
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; i--)
        value = value << 8 | (uint8_t)bytes.at(offset + (size_t)i);
    return value;
}

ToolRun RunTool(const std::vector<std::string> &args, bool stderr_unread)
{
    ToolRun run = {-1, "", ""};
    char out_path[] = "/tmp/yayin-out-XXXXXX";
    int out = mkstemp(out_path);
    // stderr through a pipe, as a script or a build log takes it.
    int err[2] = {-1, -1};
    bool piped = pipe2(err, O_CLOEXEC) == 0;
    if (piped && stderr_unread) {
        close(err[0]);
        err[0] = -1;
    }
    std::vector<char *> argv = {(char *)TALVOR_YAYIN_PATH};
    for (const std::string &arg : args)
        argv.push_back((char *)arg.c_str());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t child;
    bool started = out >= 0 && piped && posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    close(err[1]);
    char piece[4096];
    ssize_t got;
    while (started && err[0] >= 0 && (got = read(err[0], piece, sizeof piece)) > 0)
        run.err.append(piece, (size_t)got);
    int status;
    if (started && waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.exit_code = WEXITSTATUS(status);
    posix_spawn_file_actions_destroy(&actions);
    close(out);
    if (err[0] >= 0)
        close(err[0]);
    run.out = ReadFileBytes(out_path);
    unlink(out_path);
    return run;
}

void ExpectUsageError(const std::vector<std::string> &args)
{
    std::string shown;
    for (const auto &arg : args)
        shown += "[" + arg + "]";
    SCOPED_TRACE(shown);
    ToolRun run = RunTool(args);
    EXPECT_EQ(2, run.exit_code);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
}

void ToolTest::SetUp()
{
    char folder[] = "/tmp/yayin-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    folder_ = folder;
}

void ToolTest::TearDown()
{
    std::filesystem::remove_all(folder_);
}

std::string ToolTest::Path(const std::string &name) const
{
    return folder_ + "/" + name;
}

std::vector<std::string> ToolTest::Entries() const
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
