#include "support/test_support.h"

#include <shellapi.h>

#include "core/setup_log.h"
#include "core/object_owner.h"
#include "core/process_values.h"
#include "service/process_end.h"
#include "service/service_control.h"
#include "uninstall/remove_tree.h"

#include <aclapi.h>
#include <winioctl.h>

#include <algorithm>
#include <vector>

#include <string.h>

std::wstring LongPath(const std::wstring &path)
{
    wchar_t long_path[MAX_PATH];
    DWORD length = GetLongPathNameW(path.c_str(), long_path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(long_path, length) : path;
}

std::wstring BuildPath(const wchar_t *relative)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = LongPath(std::wstring(self, length));
    path.erase(path.find_last_of(L'\\')); // the tests folder
    path.erase(path.find_last_of(L'\\')); // the build folder
    return path + L"\\" + relative;
}

std::wstring SourceFile(const std::wstring &relative)
{
    // Drive Z: is Wine's view of the Linux side; on Windows it may be anything, a network drive too.
    std::wstring linux_side = std::wstring(L"Z:" TALVOR_SOURCE_DIR L"/") + relative;
    if (RunningUnderWine() && GetFileAttributesW(linux_side.c_str()) != INVALID_FILE_ATTRIBUTES)
        return linux_side;
    std::wstring kit = L"kaynak\\" + relative;
    for (wchar_t &c : kit)
        if (c == L'/')
            c = L'\\';
    return BuildPath(kit.c_str());
}

std::wstring DevelopmentKeyFile()
{
    return SourceFile(L"keys/dev-release.pem");
}

std::wstring ProductPath(const wchar_t *file)
{
    return BuildPath((std::wstring(L"product\\") + file).c_str());
}

std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    return LongPath(std::wstring(temp, length < MAX_PATH ? length : 0));
}

std::wstring MakeTempFolder(const wchar_t *tag)
{
    static unsigned counter;
    for (;;) {
        std::wstring folder = TempFolder() + L"talvor-test-" + tag + L"-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(folder.c_str(), nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return L"";
    }
}

void RemoveFolder(const std::wstring &folder)
{
    if (folder.empty())
        return;
    std::vector<wchar_t> from(folder.begin(), folder.end());
    from.push_back(0);
    from.push_back(0);
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.data();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool LoadPe(PeImage &pe, const std::wstring &path)
{
    pe.bytes = ReadFileBytes(path);
    if (pe.bytes.size() < sizeof(IMAGE_DOS_HEADER))
        return false;
    auto dos = (const IMAGE_DOS_HEADER *)pe.bytes.data();
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64) > pe.bytes.size())
        return false;
    pe.nt = (const IMAGE_NT_HEADERS64 *)(pe.bytes.data() + dos->e_lfanew);
    return pe.nt->Signature == IMAGE_NT_SIGNATURE;
}

size_t RvaToOffset(const PeImage &pe, DWORD rva)
{
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(pe.nt);
    for (WORD i = 0; i < pe.nt->FileHeader.NumberOfSections; i++, section++) {
        DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size)
            return rva - section->VirtualAddress + section->PointerToRawData;
    }
    return 0;
}

std::string ReadFileBytes(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string bytes;
    char chunk[65536];
    DWORD got;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring &path, const std::string &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string Utf8(const std::wstring &text)
{
    if (text.empty())
        return "";
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out((size_t)length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], length, nullptr, nullptr);
    return out;
}

std::wstring Utf8ToWide(const std::string &text)
{
    if (text.empty())
        return L"";
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out((size_t)length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], length);
    return out;
}

HANDLE StartProgram(const std::wstring &command_line, const std::wstring &folder)
{
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

long RunProgram(const std::wstring &command_line, DWORD timeout_ms, const std::wstring &folder)
{
    HANDLE process = StartProgram(command_line, folder);
    if (process == nullptr)
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, 1);
    CloseHandle(process);
    return (long)code;
}

FileHeldElsewhere::FileHeldElsewhere(const std::wstring &path)
{
    process_ = StartProgram(L"\"" + BuildPath(L"tests\\idle_program.exe") + L"\" \"" + path + L"\"");
    // Held once an exclusive open meets a sharing violation.
    for (int i = 0; i < 100 && process_ != nullptr; i++) {
        HANDLE probe =
            CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
            held_ = true;
            break;
        }
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        Sleep(50);
    }
}

FileHeldElsewhere::~FileHeldElsewhere()
{
    if (process_ == nullptr)
        return;
    TerminateProcess(process_, 0);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
}

ScopedRegistryString::ScopedRegistryString(HKEY root, const wchar_t *key, const wchar_t *name,
                                           const std::wstring &value)
    : root_(root), key_(key), name_(name)
{
    wchar_t old[MAX_PATH];
    DWORD size = sizeof old;
    if (RegGetValueW(root, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type_, old, &size) ==
        ERROR_SUCCESS) {
        old_ = old;
        replaced_ = Set(value);
    }
}

ScopedRegistryString::~ScopedRegistryString()
{
    if (replaced_)
        Set(old_);
}

bool ScopedRegistryString::Set(const std::wstring &value) const
{
    return RegSetKeyValueW(root_, key_.c_str(), name_.c_str(), type_, value.c_str(),
                           (DWORD)((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

ScopedEnvironment::ScopedEnvironment(const wchar_t *name, const wchar_t *value) : name_(name), had_old_(false)
{
    wchar_t old[32768];
    DWORD length = GetEnvironmentVariableW(name, old, 32768);
    if (length > 0 && length < 32768) {
        old_.assign(old, length);
        had_old_ = true;
    }
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    SetEnvironmentVariableW(name_.c_str(), had_old_ ? old_.c_str() : nullptr);
}

typedef char *(CDECL *UnixFileNameFn)(const wchar_t *);

static UnixFileNameFn WineUnixFileName()
{
    return (UnixFileNameFn)(void (*)(void))GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
}

bool RunningUnderWine()
{
    return WineUnixFileName() != nullptr;
}

static std::wstring UnixPath(const std::wstring &path)
{
    char *unix_path = WineUnixFileName()(path.c_str());
    if (unix_path == nullptr)
        return L"";
    std::wstring wide(unix_path, unix_path + strlen(unix_path));
    HeapFree(GetProcessHeap(), 0, unix_path);
    return wide;
}

// Wine starts a Linux program given by its Z: path like any other, but hands back no process to
// wait for: the caller waits for the tool's effect instead, at most five seconds.
static bool RunUnixTool(const std::wstring &arguments, const std::wstring &path, bool until_present)
{
    HANDLE process = StartProgram(L"Z:\\bin\\" + arguments);
    if (process != nullptr)
        CloseHandle(process);
    for (int i = 0; i < 100; i++) {
        if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == until_present)
            return true;
        Sleep(50);
    }
    return false;
}

bool MakeFolderLink(const std::wstring &target, const std::wstring &link)
{
    if (!RunningUnderWine())
        return CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;
    return RunUnixTool(L"ln -s \"" + UnixPath(target) + L"\" \"" + UnixPath(link) + L"\"", link, true);
}

bool MakeFileLink(const std::wstring &target, const std::wstring &link, bool symbolic)
{
    if (!symbolic)
        return CreateHardLinkW(link.c_str(), target.c_str(), nullptr) != 0;
    if (!RunningUnderWine())
        return CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) != 0;
    return RunUnixTool(L"ln -s \"" + UnixPath(target) + L"\" \"" + UnixPath(link) + L"\"", link, true);
}

bool MakeMountPoint(const std::wstring &folder, const std::wstring &target)
{
    // The reparse data of a mount point, as the Windows driver kit lays it out: the target in the
    // NT form, then as shown.
    struct {
        DWORD tag;
        WORD data_bytes, reserved, substitute_at, substitute_bytes, print_at, print_bytes;
        wchar_t names[2 * MAX_PATH + 8];
    } data = {IO_REPARSE_TAG_MOUNT_POINT};
    std::wstring names = L"\\??\\" + target + L'\0' + target + L'\0';
    if (names.size() > 2 * MAX_PATH + 8)
        return false;
    memcpy(data.names, names.c_str(), names.size() * sizeof(wchar_t));
    data.substitute_bytes = (WORD)((target.size() + 4) * sizeof(wchar_t));
    data.print_at = (WORD)(data.substitute_bytes + sizeof(wchar_t));
    data.print_bytes = (WORD)(target.size() * sizeof(wchar_t));
    data.data_bytes = (WORD)(4 * sizeof(WORD) + names.size() * sizeof(wchar_t));
    HANDLE handle = CreateFileW(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    bool made = handle != INVALID_HANDLE_VALUE && DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data,
                                                                  8 + data.data_bytes, nullptr, 0, &returned, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return made;
}

void RemoveLink(const std::wstring &link)
{
    if (!RunningUnderWine()) {
        if (!RemoveDirectoryW(link.c_str()))
            DeleteFileW(link.c_str());
    }
    else if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES)
        RunUnixTool(L"rm \"" + UnixPath(link) + L"\"", link, false);
}

std::string QuotedUnixPath(const std::wstring &path)
{
    return "'" + Utf8(UnixPath(path)) + "'";
}

int RunLinuxCommands(const std::string &commands, DWORD timeout_ms, bool background)
{
    std::wstring folder = MakeTempFolder(L"kabuk");
    std::string done = QuotedUnixPath(folder + L"\\bitti");
    // A background run clears its own folder; otherwise the wait reads its status and clears it.
    std::string script = commands + "\n" +
                         (background ? "rm -rf " + QuotedUnixPath(folder)
                                     : "echo $? > " + done + ".tmp; mv " + done + ".tmp " + done) +
                         "\n";
    if (folder.empty() || !WriteFileBytes(folder + L"\\komutlar.sh", script))
        return -1;
    HANDLE process = StartProgram(L"Z:\\bin\\sh \"" + UnixPath(folder + L"\\komutlar.sh") + L"\"");
    if (process != nullptr)
        CloseHandle(process);
    std::string status;
    for (ULONGLONG start = GetTickCount64(); !background && status.empty() && GetTickCount64() - start < timeout_ms;) {
        Sleep(20);
        status = ReadFileBytes(folder + L"\\bitti");
    }
    if (!background)
        RemoveFolder(folder);
    return background ? 0 : status.empty() ? -1 : atoi(status.c_str());
}

FolderSwapper::FolderSwapper(const std::wstring &folder, const std::wstring &target)
    : control_(MakeTempFolder(L"degistirici"))
{
    // Each swap leaves the link in place for a moment, so that whatever the removal does next
    // may meet it; the folder is itself again before the loop looks at its stop file.
    const char script[] = "d=\"$1\"; t=\"$2\"; c=\"$3\"; n=0\n"
                          "touch \"$c/basladi\"\n"
                          "while [ ! -e \"$c/dur\" ]; do\n"
                          "  if mv \"$d\" \"$d.gercek\" 2>/dev/null; then\n"
                          "    ln -s \"$t\" \"$d\"; n=$((n + 1)); sleep 0.002\n"
                          "    rm -f \"$d\"; mv \"$d.gercek\" \"$d\"\n"
                          "  fi\n"
                          "done\n"
                          "echo $n > \"$c/sayi.tmp\"; mv \"$c/sayi.tmp\" \"$c/sayi\"\n";
    if (control_.empty() || !WriteFileBytes(control_ + L"\\degistir.sh", script))
        return;
    RunUnixTool(L"sh \"" + UnixPath(control_ + L"\\degistir.sh") + L"\" \"" + UnixPath(folder) + L"\" \"" +
                    UnixPath(target) + L"\" \"" + UnixPath(control_) + L"\"",
                control_ + L"\\basladi", true);
}

FolderSwapper::~FolderSwapper()
{
    Stop();
    RemoveFolder(control_);
}

long FolderSwapper::Stop()
{
    if (stopped_ || !FileExists(control_ + L"\\basladi"))
        return -1;
    stopped_ = true;
    WriteFileBytes(control_ + L"\\dur", "");
    for (int i = 0; i < 200; i++) {
        std::string count = ReadFileBytes(control_ + L"\\sayi");
        if (!count.empty())
            return atol(count.c_str());
        Sleep(50);
    }
    return -1;
}

bool FolderOwnerIsTrusted(const std::wstring &path, bool or_own_user)
{
    HANDLE folder = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    bool trusted = folder != INVALID_HANDLE_VALUE && IsTrustedOwner(folder, SE_FILE_OBJECT, or_own_user);
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
    return trusted;
}

bool SetFolderOwner(const std::wstring &path, WELL_KNOWN_SID_TYPE sid_type)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    return CreateWellKnownSid(sid_type, nullptr, sid, &size) && SetFolderOwner(path, (PSID)sid);
}

bool SetFolderOwner(const std::wstring &path, PSID sid)
{
    // Windows lets an administrator give an object an owner other than itself only with the
    // restore privilege enabled; the test program keeps it enabled.
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        TOKEN_PRIVILEGES restore = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &restore.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &restore, 0, nullptr, nullptr);
        CloseHandle(token);
    }
    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = (LPWSTR)sid;
    PACL acl = nullptr;
    if (SetEntriesInAclW(1, &access, nullptr, &acl) != ERROR_SUCCESS)
        return false;
    DWORD result = SetNamedSecurityInfoW((LPWSTR)path.c_str(), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sid, nullptr, acl,
                                         nullptr);
    LocalFree(acl);
    return result == ERROR_SUCCESS;
}

bool QueryServiceState(SC_HANDLE service, ServiceState &out)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)&status, sizeof status, &needed))
        return false;
    out = {status.dwCurrentState, status.dwProcessId};
    return true;
}

ServiceState WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeout_ms)
{
    ULONGLONG start = GetTickCount64();
    ServiceState seen = {0, 0};
    while (QueryServiceState(service, seen) && seen.state != state && GetTickCount64() - start < timeout_ms)
        Sleep(50);
    return seen;
}

SC_HANDLE OpenProductService(DWORD access)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return nullptr;
    SC_HANDLE service = OpenServiceW(manager, L"Talvor", access);
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    SetLastError(error);
    return service;
}

void ReleaseHeldService()
{
    HANDLE release = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\talvor_svc_birak");
    if (release == nullptr)
        return;
    SetEvent(release);
    CloseHandle(release);
}

// The service's process, opened to wait for it and end it as the setup opens one: a process of
// LocalSystem only with the debug privilege, which the setup takes only for a program under its
// install folder; here that is the folder of the service's registered program. Null when it
// cannot be opened, or the id has passed to another program.
static HANDLE OpenServiceProcess(DWORD pid)
{
    wchar_t program[MAX_PATH];
    if (!SvcQueryImagePath(kProductServiceName, program, MAX_PATH) || wcsrchr(program, L'\\') == nullptr)
        return nullptr;
    wchar_t install_folder[260];
    wcscpy(install_folder, InstallFolder);
    wcscpy(InstallFolder, program);
    *wcsrchr(InstallFolder, L'\\') = 0;
    HANDLE process = OpenProcessToEnd(pid);
    wcscpy(InstallFolder, install_folder);
    if (process != nullptr && !ProcessRunsProgram(process, program)) {
        CloseHandle(process);
        process = nullptr;
    }
    return process;
}

void RemoveProductService()
{
    ReleaseHeldService();
    SC_HANDLE service = OpenProductService(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service == nullptr)
        return;
    ServiceState seen = {SERVICE_STOPPED, 0};
    QueryServiceState(service, seen);
    HANDLE process = seen.pid != 0 ? OpenServiceProcess(seen.pid) : nullptr;
    if (seen.state != SERVICE_STOPPED) {
        SERVICE_STATUS ignored;
        bool asked = ControlService(service, SERVICE_CONTROL_STOP, &ignored);
        if ((!asked || WaitForServiceState(service, SERVICE_STOPPED, 5000).state != SERVICE_STOPPED) && process != nullptr)
            EndProcessAndWait(process, 10000, L"talvor_svc.exe");
    }
    if (process != nullptr) {
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
    DeleteService(service);
    CloseServiceHandle(service);
    // A deleted service stays in the manager, marked for deletion, while anything still holds it
    // (its process, a handle), and a new registration of the name fails meanwhile: the next test
    // starts only once the name is free.
    for (ULONGLONG start = GetTickCount64(); GetTickCount64() - start < 10000; Sleep(20)) {
        SC_HANDLE left = OpenProductService(SERVICE_QUERY_STATUS);
        if (left == nullptr)
            break;
        CloseServiceHandle(left);
    }
}

bool CreateTestService(const wchar_t *name, const wchar_t *image)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, image, nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

void DeleteTestService(const wchar_t *name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return;
    SC_HANDLE service = OpenServiceW(manager, name, DELETE);
    if (service != nullptr) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void LoggedFolderTest::SetUp()
{
    folder_ = MakeTempFolder(L"test");
    ASSERT_FALSE(folder_.empty());
    wcscpy(LogPath, LogFile().c_str());
}

void LoggedFolderTest::TearDown()
{
    LogPath[0] = 0;
    RemoveFolder(folder_);
}
