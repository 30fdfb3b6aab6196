#include "release/entry_name.h"

#include <string.h>

#include "release/package_format.h"

namespace {

// Windows strips a trailing dot or space from a path component, so "a." would open "a"; the
// other characters are path syntax or wildcards there.
bool IsSafeComponent(const char *component, size_t length)
{
    if (length == 0)
        return false;
    if ((length == 1 && component[0] == '.') || (length == 2 && component[0] == '.' && component[1] == '.'))
        return false;
    char last = component[length - 1];
    return last != '.' && last != ' ';
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
