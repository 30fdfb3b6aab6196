#include "release/entry_name.h"

#include <string.h>

#include "core/ascii_case.h"
#include "release/package_format.h"

namespace {

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
        if (base == strlen(device) && SameIgnoringAsciiCase(component, device, base))
            return true;
    }
    if (base < 4 || !(SameIgnoringAsciiCase(component, "COM", 3) || SameIgnoringAsciiCase(component, "LPT", 3)))
        return false;
    // The port's number is a digit or one of the superscripts one to three, in UTF-8.
    const unsigned char *number = (const unsigned char *)component + 3;
    if (base == 4)
        return number[0] >= '0' && number[0] <= '9';
    return base == 5 && number[0] == 0xC2 && (number[1] == 0xB9 || number[1] == 0xB2 || number[1] == 0xB3);
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
