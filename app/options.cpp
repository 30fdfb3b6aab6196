#include "app/options.h"

#include "core/ascii_case.h"

#include <string.h>
#include <wchar.h>

const wchar_t DefaultBaseUrl[] = L"https://indir.tekvar.com.tr/guncelleme/";

const wchar_t *OptionName(const wchar_t *argument)
{
    if (argument[0] == L'-' && argument[1] == L'-')
        return argument + 2;
    if (argument[0] == L'/' || argument[0] == L'-')
        return argument + 1;
    return nullptr;
}

bool SetBaseUrl(SetupOptions *options, const wchar_t *url)
{
    if (wcsncmp(url, L"https://", 8) != 0 && wcsncmp(url, L"http://", 7) != 0)
        return false;
    size_t length = wcslen(url);
    if (length < 9 || length > 510)
        return false;
    wmemcpy(options->base_url, url, length);
    if (url[length - 1] != L'/')
        options->base_url[length++] = L'/';
    options->base_url[length] = 0;
    return true;
}

namespace {

// An unattended run must never wait on an error box: a refused command line is still silent
// when any of its arguments asks for it, wherever it stands.
bool RefuseCommandLine(int count, wchar_t **arguments, SetupOptions *options)
{
    for (int i = 1; i < count; i++) {
        const wchar_t *name = OptionName(arguments[i]);
        if (name != nullptr && SameIgnoringAsciiCase(name, L"sessiz"))
            options->silent = true;
    }
    return false;
}

} // namespace

bool ParseOptions(int count, wchar_t **arguments, const wchar_t *default_base_url, SetupOptions *options)
{
    memset(options, 0, sizeof *options);
    options->mode = ModeInstall;
    options->desktop_shortcut = true;
    SetBaseUrl(options, default_base_url);

    for (int i = 1; i < count; i++) {
        const wchar_t *name = OptionName(arguments[i]);
        if (name == nullptr)
            return RefuseCommandLine(count, arguments, options);
        if (SameIgnoringAsciiCase(name, L"kaldir")) {
            options->mode = ModeRemoval;
        } else if (SameIgnoringAsciiCase(name, L"sessiz")) {
            options->silent = true;
        } else if (SameIgnoringAsciiCase(name, L"ayarlari-sil")) {
            options->delete_settings = true;
        } else if (SameIgnoringAsciiCase(name, L"masaustu-yok")) {
            options->desktop_shortcut = false;
        } else if (SameIgnoringAsciiCase(name, L"yerel=", 6)) {
            size_t length = wcslen(name + 6);
            if (length == 0 || length >= 260)
                return RefuseCommandLine(count, arguments, options);
            wmemcpy(options->local_folder, name + 6, length + 1);
        } else if (SameIgnoringAsciiCase(name, L"adres=", 6)) {
            if (!SetBaseUrl(options, name + 6))
                return RefuseCommandLine(count, arguments, options);
        } else {
            return RefuseCommandLine(count, arguments, options);
        }
    }
    return true;
}
