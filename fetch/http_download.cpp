#include "fetch/http_download.h"

#include <windows.h>
#include <winhttp.h>
#include <stdlib.h>

#include "core/setup_log.h"
#include "core/system_library.h"

namespace {

// The WinHTTP calls of one download, looked up in the system's winhttp.dll.
struct WinHttp {
    decltype(&WinHttpCrackUrl) crack_url;
    decltype(&WinHttpOpen) open;
    decltype(&WinHttpSetTimeouts) set_timeouts;
    decltype(&WinHttpConnect) connect;
    decltype(&WinHttpOpenRequest) open_request;
    decltype(&WinHttpSetOption) set_option;
    decltype(&WinHttpSendRequest) send_request;
    decltype(&WinHttpReceiveResponse) receive_response;
    decltype(&WinHttpQueryHeaders) query_headers;
    decltype(&WinHttpReadData) read_data;
    decltype(&WinHttpCloseHandle) close_handle;
};

template <typename Fn>
bool Find(Fn *slot, const char *name, DWORD *error)
{
    *slot = LoadSystemFunction<Fn>(L"winhttp.dll", name, error);
    return *slot != nullptr;
}

// False at the first lookup that fails, with its error in *error.
bool LoadWinHttp(WinHttp *api, DWORD *error)
{
    return Find(&api->crack_url, "WinHttpCrackUrl", error) && Find(&api->open, "WinHttpOpen", error) &&
           Find(&api->set_timeouts, "WinHttpSetTimeouts", error) && Find(&api->connect, "WinHttpConnect", error) &&
           Find(&api->open_request, "WinHttpOpenRequest", error) && Find(&api->set_option, "WinHttpSetOption", error) &&
           Find(&api->send_request, "WinHttpSendRequest", error) &&
           Find(&api->receive_response, "WinHttpReceiveResponse", error) &&
           Find(&api->query_headers, "WinHttpQueryHeaders", error) && Find(&api->read_data, "WinHttpReadData", error) &&
           Find(&api->close_handle, "WinHttpCloseHandle", error);
}

// The kinds of network failure a support engineer must tell apart, by WinHTTP's error; null for
// the rest, whose code says enough.
const char *FailureKind(DWORD code)
{
    switch (code) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "baglanti kurulamadi";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "ad cozulemedi";
    case ERROR_WINHTTP_TIMEOUT:
        return "zaman asimi";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
        return "sertifika hatasi";
    }
    return nullptr;
}

// Logs a failed WinHTTP call with its error, by the file the URL names.
void LogWinHttpFailure(const char *call, const wchar_t *file, DWORD code)
{
    LogFailedCall(call, file, code, FailureKind(code));
}

// ERROR_SUCCESS, or the query's error.
DWORD QueryNumber(const WinHttp &api, HINTERNET request, DWORD header, DWORD *value)
{
    DWORD length = sizeof *value;
    if (api.query_headers(request, header | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, value, &length,
                          WINHTTP_NO_HEADER_INDEX))
        return ERROR_SUCCESS;
    return GetLastError();
}

// Reads the body of an answered request into a new buffer of max_size + 1 bytes; the spare byte
// tells a body of exactly max_size from a longer one. The size is computed in 64 bits so that
// no maximum wraps it around.
Status ReadBody(const WinHttp &api, HINTERNET request, const wchar_t *file, uint32_t max_size, DWORD announced,
                DownloadProgressFn progress, uintptr_t context, uint8_t **body, uint32_t *size)
{
    uint64_t room = (uint64_t)max_size + 1;
    if (room > SIZE_MAX)
        return StatusNoMemory;
    uint8_t *buffer = (uint8_t *)malloc((size_t)room);
    if (buffer == nullptr)
        return StatusNoMemory;
    uint64_t received = 0;
    Status status = StatusOk;
    for (;;) {
        uint64_t want = room - received;
        DWORD got = 0;
        if (!api.read_data(request, buffer + received, want > MAXDWORD ? MAXDWORD : (DWORD)want, &got)) {
            LogWinHttpFailure("WinHttpReadData", file, GetLastError());
            status = StatusIoError;
            break;
        }
        if (got == 0)
            break;
        received += got;
        if (received > max_size) {
            status = StatusBufferTooSmall;
            break;
        }
        if (progress != nullptr && progress(context, (uint32_t)received, announced) == 0) {
            status = StatusCancelled;
            break;
        }
    }
    if (status != StatusOk) {
        free(buffer);
        return status;
    }
    *body = buffer;
    *size = (uint32_t)received;
    return StatusOk;
}

// Sends the request on an open connection and takes its answer.
Status Exchange(const WinHttp &api, HINTERNET request, const wchar_t *file, uint32_t max_size, uint32_t timeout_ms,
                DownloadProgressFn progress, uintptr_t context, uint8_t **body, uint32_t *size, uint32_t *http_status)
{
    DWORD disable = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    api.set_option(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    // The wait for the answer's headers has a time-out of its own, 90 s on Windows and none under
    // Wine; it gets the caller's time-out like every other phase, so that no wait is unbounded.
    api.set_option(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeout_ms, sizeof timeout_ms);
    if (!api.send_request(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        LogWinHttpFailure("WinHttpSendRequest", file, GetLastError());
        return StatusNotFound;
    }
    if (!api.receive_response(request, nullptr)) {
        LogWinHttpFailure("WinHttpReceiveResponse", file, GetLastError());
        return StatusNotFound;
    }
    DWORD status_code = 0;
    DWORD error = QueryNumber(api, request, WINHTTP_QUERY_STATUS_CODE, &status_code);
    if (error != ERROR_SUCCESS) {
        LogWinHttpFailure("WinHttpQueryHeaders", file, error);
        return StatusIoError;
    }
    if (http_status != nullptr)
        *http_status = status_code;
    if (status_code != 200)
        return StatusNotFound;
    DWORD announced = 0;
    if (QueryNumber(api, request, WINHTTP_QUERY_CONTENT_LENGTH, &announced) != ERROR_SUCCESS)
        announced = 0;
    if (announced > max_size)
        return StatusBufferTooSmall;
    return ReadBody(api, request, file, max_size, announced, progress, context, body, size);
}

} // namespace

Status HttpDownload(const wchar_t *url, uint32_t max_size, uint32_t timeout_ms, DownloadProgressFn progress,
                    uintptr_t context, uint8_t **body, uint32_t *size, uint32_t *http_status)
{
    if (body != nullptr)
        *body = nullptr;
    if (size != nullptr)
        *size = 0;
    if (http_status != nullptr)
        *http_status = 0;
    if (url == nullptr || body == nullptr || size == nullptr || max_size == 0)
        return StatusInvalid;

    WinHttp api;
    DWORD error = ERROR_SUCCESS;
    if (!LoadWinHttp(&api, &error)) {
        LogFailedCall("GetProcAddress", L"winhttp.dll", error);
        return StatusIoError;
    }

    wchar_t host[256];
    wchar_t path[2048];
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!api.crack_url(url, 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || host[0] == 0)
        return StatusInvalid;

    // The log names the file, the last part of the path.
    const wchar_t *file = wcsrchr(path, L'/');
    file = file != nullptr ? file + 1 : path;

    HINTERNET session = api.open(L"Talvor", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        LogWinHttpFailure("WinHttpOpen", file, GetLastError());
        return StatusIoError;
    }
    api.set_timeouts(session, (int)timeout_ms, (int)timeout_ms, (int)timeout_ms, (int)timeout_ms);

    Status status = StatusIoError;
    HINTERNET connection = api.connect(session, host, parts.nPort, 0);
    if (connection == nullptr) {
        LogWinHttpFailure("WinHttpConnect", file, GetLastError());
    } else {
        DWORD flags = WINHTTP_FLAG_REFRESH | (parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
        HINTERNET request = api.open_request(connection, L"GET", path[0] != 0 ? path : L"/", nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        if (request == nullptr) {
            LogWinHttpFailure("WinHttpOpenRequest", file, GetLastError());
        } else {
            status = Exchange(api, request, file, max_size, timeout_ms, progress, context, body, size, http_status);
            api.close_handle(request);
        }
        api.close_handle(connection);
    }
    api.close_handle(session);
    return status;
}
