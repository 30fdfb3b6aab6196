#pragma once

#include <stdarg.h>
#include <stddef.h>

// Bounded formatting for every path, URL and message of the setup.
//
// The conversions follow the Windows C runtime: in a wide format "%s" and "%c" take wide text
// and "%hs" and "%hc" narrow text; in a narrow format "%s" takes narrow text and "%ls", "%ws"
// and "%S" wide text. Text that crosses between the two kinds is converted through UTF-8, so a
// path such as "C:\Users\Aydın" reaches a UTF-8 log intact. A precision limits how much of a
// string argument is read. Flags, width and precision (also as "*"), the length modifiers
// hh h l ll I64 I32 z j and the conversions d i u o x X c s p e E f g G % are understood;
// "%n" and anything else is a formatting error. (The toolchain's own swprintf reads "%s" with
// C99 rules, as narrow text: the setup never calls it.)

// Both kinds keep one contract, so that every caller checks the result the same way: `>= 0`
// means the whole text is there, `< 0` that it is not. When the text fits, it is terminated and
// its length (in characters, or bytes for the narrow kind) is returned. Otherwise the result is
// -1 and the buffer holds the first capacity - 1 units of the text and a terminator; so a caller
// that accepts a cut text may ignore the result. A formatting error also gives -1 and leaves the
// buffer empty; a null buffer or no capacity gives -1 and writes nothing.
int FormatWide(wchar_t *buffer, size_t capacity, const wchar_t *format, ...);
int FormatWideV(wchar_t *buffer, size_t capacity, const wchar_t *format, va_list args);
int FormatNarrow(char *buffer, size_t capacity, const char *format, ...);
int FormatNarrowV(char *buffer, size_t capacity, const char *format, va_list args);
