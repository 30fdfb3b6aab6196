#pragma once

#include <stdlib.h>
#include <string.h>

#include <string>

// The loopback servers that tests/servers/with_servers.sh (or the Windows test kit's runner)
// starts around this program, by the environment variable that names each base URL (ending in
// "/"); empty when not running. Read wide: the kit may sit in a folder with Turkish letters.
inline std::wstring ServerUrl(const char *variable, const char *path = "")
{
    const wchar_t *base = _wgetenv(std::wstring(variable, variable + strlen(variable)).c_str());
    if (base == nullptr || base[0] == 0)
        return L"";
    return base + std::wstring(path, path + strlen(path));
}

// A file in the folder that the loopback servers serve: written here, it is on the update server
// (under /dosyalar/ and the other file routes).
inline std::wstring ServedFile(const char *name)
{
    return ServerUrl("TALVOR_TEST_SERVE_DIR") + L"\\" + std::wstring(name, name + strlen(name));
}

// Why the servers are not running, as the kit's runner tells it.
inline std::string MissingServers()
{
    const char *reason = getenv("TALVOR_TEST_SERVERS_MISSING");
    return reason != nullptr ? reason : "needs the loopback servers: run through tests/servers/with_servers.sh";
}

#define REQUIRE_SERVERS()                          \
    do {                                           \
        if (ServerUrl("TALVOR_TEST_HTTP").empty()) \
            GTEST_SKIP() << MissingServers();      \
    } while (0)
