#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// The long form of a path that exists: Windows hands out folders by their short 8.3 names too
// (%TEMP% on a hosted runner is C:\Users\RUNNER~1\...), where the setup sees and logs the long
// names. The path as it was when it has none.
std::wstring LongPath(const std::wstring &path);

// Path of a file of the build: `relative` is taken from the build folder (the parent of the
// folder that holds the test programs), e.g. L"bin\\Talvor-Kurulum.exe".
std::wstring BuildPath(const wchar_t *relative);
// A file of the project's sources that a test reads, `relative` with forward slashes: from the
// source folder (through Wine's drive Z:) where that is there, else from the folder "kaynak" that
// the Windows test kit holds in place of the build folder.
std::wstring SourceFile(const std::wstring &relative);
// The development release key, which the setup built for the tests trusts.
std::wstring DevelopmentKeyFile();
// Path of a stand-in product program in the build's product folder (target product_programs),
// e.g. L"talvor_svc.exe".
std::wstring ProductPath(const wchar_t *file);

// The temporary folder, long names, with a backslash at its end.
std::wstring TempFolder();
// A fresh empty folder under the temporary folder, removed with its files by RemoveFolder.
std::wstring MakeTempFolder(const wchar_t *tag);
void RemoveFolder(const std::wstring &folder);

bool FileExists(const std::wstring &path);
// The whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring &path);
bool WriteFileBytes(const std::wstring &path, const std::string &bytes);

// A 64-bit program read as a file.
struct PeImage {
    std::string bytes;
    const IMAGE_NT_HEADERS64 *nt = nullptr;
};
bool LoadPe(PeImage &pe, const std::wstring &path);
// File offset of a relative virtual address, or 0 when no section holds it.
size_t RvaToOffset(const PeImage &pe, DWORD rva);

std::string Utf8(const std::wstring &text);
std::wstring Utf8ToWide(const std::string &text);

// Starts `command_line` (in `folder`, or the current folder when empty) and returns its process
// handle, or null. The caller closes it.
HANDLE StartProgram(const std::wstring &command_line, const std::wstring &folder = L"");

// Runs `command_line` and waits at most `timeout_ms`; returns its exit code, or -1 when it could
// not be started or had to be ended after the time-out.
long RunProgram(const std::wstring &command_line, DWORD timeout_ms = 60000, const std::wstring &folder = L"");

// A file or folder held open without delete sharing by another process (idle_program.exe) for
// as long as the object lives: a file in use, a folder that cannot be renamed.
class FileHeldElsewhere {
public:
    explicit FileHeldElsewhere(const std::wstring &path);
    ~FileHeldElsewhere();
    bool held() const { return held_; }

private:
    HANDLE process_ = nullptr;
    bool held_ = false;
};

// Makes `link` a symbolic link to the folder `target`. Wine cannot make junctions, so there it is
// a Unix symbolic link made from the Linux side, which Wine lists as a reparse point; on Windows
// it is a directory symbolic link. False when neither can be made.
bool MakeFolderLink(const std::wstring &target, const std::wstring &link);
// Makes `link` a hard link or a symbolic link to the file `target` (under Wine a Unix one, which
// Windows programs there open as the target). False when it cannot be made.
bool MakeFileLink(const std::wstring &target, const std::wstring &link, bool symbolic);
// Makes the empty folder `folder` a mount point (a junction) to the folder `target`, as any user
// may on Windows, even while another program holds the folder open with read and write sharing.
// False when it cannot: Wine cannot make one (FSCTL_SET_REPARSE_POINT gives ERROR_NOT_SUPPORTED).
bool MakeMountPoint(const std::wstring &folder, const std::wstring &target);
// Removes a symbolic link made by MakeFolderLink or MakeFileLink as a link, never touching its
// target. (Under Wine, DeleteFileW through a Unix symbolic link deletes the target.)
void RemoveLink(const std::wstring &link);
bool RunningUnderWine();

// Under Wine: runs `commands` with the Linux shell (Wine starts a Linux program from its Z: path,
// but hands back no process to wait for) and waits up to `timeout_ms` for them to end. Their exit
// status, or -1 when they did not end in time. `background` starts them and returns 0 at once.
int RunLinuxCommands(const std::string &commands, DWORD timeout_ms = 20000, bool background = false);
// The Linux path of a path of the prefix, as the Linux shell takes it, quoted.
std::string QuotedUnixPath(const std::wstring &path);

// Under Wine: a Linux shell loop swaps `folder` for a symbolic link to `target` and back, over
// and over, from the moment the object exists until Stop. The Linux side passes the sharing with
// which a Windows program holds the folder, as a mount point made of the emptied folder passes it
// on Windows (../shared/notes/wine.md).
class FolderSwapper {
public:
    FolderSwapper(const std::wstring &folder, const std::wstring &target);
    ~FolderSwapper();
    // Ends the loop, the folder itself back in place where it still was; the number of swaps,
    // or -1 when the loop never ran or did not end.
    long Stop();

private:
    std::wstring control_;
    bool stopped_ = false;
};

// Whether the folder is owned by LocalSystem or the Administrators group (or, with `or_own_user`,
// by the user the test runs as), as the setup's owner checks see it.
bool FolderOwnerIsTrusted(const std::wstring &path, bool or_own_user = false);
// Gives the folder the owner `sid_type` or `owner`, with a DACL (a descriptor without one may not
// be kept). Wine reports success but keeps no owner: check with FolderOwnerIsTrusted.
bool SetFolderOwner(const std::wstring &path, WELL_KNOWN_SID_TYPE sid_type);
bool SetFolderOwner(const std::wstring &path, PSID owner);

// The product's service "Talvor" as the service control manager reports it.
struct ServiceState {
    DWORD state;
    DWORD pid;
};
bool QueryServiceState(SC_HANDLE service, ServiceState &out);
// Polls until the service reports `state`, at most `timeout_ms`; returns what it saw last.
ServiceState WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeout_ms);
// Opens "Talvor", keeping the open's error as the last error.
SC_HANDLE OpenProductService(DWORD access);
// Lets a stand-in service held in a slow start or stop go on (tests/product/README.md).
void ReleaseHeldService();
// Releases "Talvor", stops it (ending its process when it does not stop soon), waits for the
// process to end, deletes the service and waits until the name is free: no test leaves it behind.
void RemoveProductService();

// Registers a driver service that is never started, for the service checks, with the given
// image path; false when it cannot. DeleteTestService removes it again.
bool CreateTestService(const wchar_t *name,
                       const wchar_t *image = L"C:\\windows\\system32\\drivers\\talvor-test.sys");
void DeleteTestService(const wchar_t *name);

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t *name, const wchar_t *value);
    ~ScopedEnvironment();

private:
    std::wstring name_;
    std::wstring old_;
    bool had_old_;
};

// A string value (REG_SZ or REG_EXPAND_SZ, kept so) set to `value` for the life of the object, then
// put back; processes started meanwhile see the new value. Nothing changes when there is no
// such value.
class ScopedRegistryString {
public:
    ScopedRegistryString(HKEY root, const wchar_t *key, const wchar_t *name, const std::wstring &value);
    ~ScopedRegistryString();
    bool replaced() const { return replaced_; }

private:
    bool Set(const std::wstring &value) const;
    HKEY root_;
    std::wstring key_, name_, old_;
    DWORD type_ = REG_NONE;
    bool replaced_ = false;
};

// A test with a fresh temporary folder of its own that also receives the setup's log.
class LoggedFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring LogFile() const { return folder_ + L"\\kurulum.log"; }
    std::string Log() const { return ReadFileBytes(LogFile()); }
    std::wstring folder_;
};
