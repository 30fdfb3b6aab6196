#include "release/version_text.h"

bool IsValidVersion(const char *text)
{
    if (text == nullptr || text[0] == 0)
        return false;
    int digits = 0;
    int dots = 0;
    for (const char *p = text; *p != 0; p++) {
        if (*p >= '0' && *p <= '9') {
            if (++digits > 4)
                return false;
        } else if (*p == '.') {
            if (digits == 0 || ++dots > 2)
                return false;
            digits = 0;
        } else {
            return false;
        }
    }
    return dots == 2 && digits >= 1;
}
