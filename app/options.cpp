#include "app/options.h"

#include <string.h>
#include <wchar.h>

const wchar_t DefaultBaseUrl[] = L"https://indir.tekvar.com.tr/guncelleme/";

namespace {

wchar_t AsciiLower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? (wchar_t)(c - L'A' + L'a') : c;
}

// Compares the first `count` characters of `text` with the lower-case `word`, ignoring only the
// case of ASCII letters (a dotted capital I is not an i). A count of -1 compares whole strings.
bool SameWord(const wchar_t *text, const wchar_t *word, int count)
{
    for (int i = 0; count < 0 || i < count; i++) {
        if (AsciiLower(text[i]) != word[i])
            return false;
        if (word[i] == 0)
            return true;
    }
    return true;
}

} // namespace

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
        if (name != nullptr && SameWord(name, L"sessiz", -1))
            options->silent = 1;
    }
    return false;
}

} // namespace

bool ParseOptions(int count, wchar_t **arguments, const wchar_t *default_base_url, SetupOptions *options)
{
    memset(options, 0, sizeof *options);
    options->mode = 0;
    options->desktop_shortcut = 1;
    SetBaseUrl(options, default_base_url);

    for (int i = 1; i < count; i++) {
        const wchar_t *name = OptionName(arguments[i]);
        if (name == nullptr)
            return RefuseCommandLine(count, arguments, options);
        if (SameWord(name, L"kaldir", -1)) {
            options->mode = 1;
        } else if (SameWord(name, L"sessiz", -1)) {
            options->silent = 1;
        } else if (SameWord(name, L"ayarlari-sil", -1)) {
            options->delete_settings = 1;
        } else if (SameWord(name, L"masaustu-yok", -1)) {
            options->desktop_shortcut = 0;
        } else if (SameWord(name, L"yerel=", 6)) {
            size_t length = wcslen(name + 6);
            if (length == 0 || length >= 260)
                return RefuseCommandLine(count, arguments, options);
            wmemcpy(options->local_folder, name + 6, length + 1);
        } else if (SameWord(name, L"adres=", 6)) {
            if (!SetBaseUrl(options, name + 6))
                return RefuseCommandLine(count, arguments, options);
        } else {
            return RefuseCommandLine(count, arguments, options);
        }
    }
    return true;
}
