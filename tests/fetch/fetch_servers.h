#pragma once

#include <stdlib.h>

#include <string>

// The loopback servers that tests/servers/with_servers.sh starts around this program, by the
// environment variable that names each base URL (ending in "/"); empty when not running.
inline std::wstring ServerUrl(const char *variable, const char *path = "")
{
    const char *base = getenv(variable);
    if (base == nullptr || base[0] == 0)
        return L"";
    std::string url = std::string(base) + path;
    return std::wstring(url.begin(), url.end());
}

// A file in the folder that the loopback servers serve: written here, it is on the update server
// (under /dosyalar/ and the other file routes).
inline std::wstring ServedFile(const char *name)
{
    const char *dir = getenv("TALVOR_TEST_SERVE_DIR");
    std::string path = std::string(dir != nullptr ? dir : "") + "\\" + name;
    return std::wstring(path.begin(), path.end());
}

#define REQUIRE_SERVERS()                                                                        \
    do {                                                                                         \
        if (ServerUrl("TALVOR_TEST_HTTP").empty())                                               \
            GTEST_SKIP() << "needs the loopback servers: run through tests/servers/with_servers.sh"; \
    } while (0)
