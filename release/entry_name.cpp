#include "release/entry_name.h"

#include <string.h>

#include "release/package_format.h"

namespace {

bool SameLetters(const char *text, const char *upper, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        char c = text[i] >= 'a' && text[i] <= 'z' ? (char)(text[i] - 'a' + 'A') : text[i];
        if (c != upper[i])
            return false;
    }
    return true;
}

// CON, NUL, COM1 and the like name devices in every folder on Windows, with any extension and
// with spaces before it: "nul .txt" is the null device, and what is written to it is lost.
bool IsDeviceName(const char *component, size_t length)
{
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t base = 0;
    while (base < length && component[base] != '.')
        base++;
    while (base > 0 && component[base - 1] == ' ')
        base--;
    for (const char *device : kDevices) {
        if (base == strlen(device) && SameLetters(component, device, base))
            return true;
    }
    return base == 4 && (SameLetters(component, "COM", 3) || SameLetters(component, "LPT", 3)) &&
           component[3] >= '0' && component[3] <= '9';
}

// Windows strips a trailing dot or space from a path component, so "a." would open "a"; the
// other characters are path syntax or wildcards there.
bool IsSafeComponent(const char *component, size_t length)
{
    if (length == 0)
        return false;
    if ((length == 1 && component[0] == '.') || (length == 2 && component[0] == '.' && component[1] == '.'))
        return false;
    char last = component[length - 1];
    return last != '.' && last != ' ' && !IsDeviceName(component, length);
}

} // namespace

bool IsSafeEntryName(const char *name, size_t length)
{
    if (name == nullptr || length < kEntryNameMinLength || length > kEntryNameMaxLength || name[0] == '/' ||
        name[length - 1] == '/')
        return false;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c < 0x20 || (c < 0x80 && strchr("\\:*?<>|\"", c) != nullptr))
            return false;
    }
    size_t start = 0;
    for (size_t i = 0; i <= length; i++) {
        if (i == length || name[i] == '/') {
            if (!IsSafeComponent(name + start, i - start))
                return false;
            start = i + 1;
        }
    }
    return true;
}
