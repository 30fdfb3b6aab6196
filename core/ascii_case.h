#pragma once

#include <stddef.h>

// Letter case is ignored for the ASCII letters only, never by a locale's rules: the names
// compared this way (options, image names, device names, the product's own file names) are
// ASCII, and a Turkish dotted capital I must not pass for an i. Portable, for the release tool
// too.

template <typename Char>
Char AsciiLower(Char c)
{
    return c >= 'A' && c <= 'Z' ? (Char)(c - 'A' + 'a') : c;
}

// True when `a` and `b` agree ignoring ASCII case in their first `count` characters, or up to
// where both end if that is sooner. The default count compares whole strings.
template <typename Char>
bool SameIgnoringAsciiCase(const Char *a, const Char *b, size_t count = (size_t)-1)
{
    for (size_t i = 0; i < count; i++) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
        if (a[i] == 0)
            break;
    }
    return true;
}
