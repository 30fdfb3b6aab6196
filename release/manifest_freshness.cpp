#include "release/manifest_freshness.h"

#include <string.h>

bool ReadManifestExpiry(const SignedManifest *m, bool *has_expiry, uint64_t *expires_at)
{
    *has_expiry = false;
    *expires_at = 0;
    const char *text = GetManifestRecord(m, kExpiryTag);
    if (text == nullptr)
        return true;
    size_t length = strlen(text);
    if (length == 0 || length > 20 || (text[0] == '0' && length > 1))
        return false;
    uint64_t value = 0;
    for (const char *p = text; *p != 0; p++) {
        if (*p < '0' || *p > '9')
            return false;
        uint64_t digit = (uint64_t)(*p - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *has_expiry = true;
    *expires_at = value;
    return true;
}
