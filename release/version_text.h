#pragma once

// A version text is three groups of 1 to 4 decimal digits separated by single dots, e.g.
// "2.1.0", and nothing else. Null and empty texts are not versions.
bool IsValidVersion(const char *text);
