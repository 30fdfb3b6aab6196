#include "core/format.h"

#include <windows.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// Numbers are formatted one at a time by the C runtime into this much room; larger widths
// and precisions are refused rather than cut.
const int kMaxFieldWidth = 500;
const size_t kNumberRoom = 1024;

template <typename Ch>
struct Output {
    Ch *buffer;
    size_t capacity;
    size_t length; // the length the whole text has so far, written or not
};

template <typename Ch>
void Append(Output<Ch> &out, const Ch *text, size_t count)
{
    if (out.length + 1 < out.capacity) {
        size_t room = out.capacity - 1 - out.length;
        memcpy(out.buffer + out.length, text, (count < room ? count : room) * sizeof(Ch));
    }
    out.length += count;
}

template <typename Ch>
void AppendPadding(Output<Ch> &out, size_t count)
{
    const Ch space = ' ';
    for (size_t i = 0; i < count; i++)
        Append(out, &space, 1);
}

// Length in the output's kind of `count` units of text of the other kind, or -1.
int ConvertedLength(const wchar_t *text, int count, char *)
{
    return count == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
}
int ConvertedLength(const char *text, int count, wchar_t *)
{
    return count == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, text, count, nullptr, 0);
}
int Convert(const wchar_t *text, int count, char *to, int room)
{
    return WideCharToMultiByte(CP_UTF8, 0, text, count, to, room, nullptr, nullptr);
}
int Convert(const char *text, int count, wchar_t *to, int room)
{
    return MultiByteToWideChar(CP_UTF8, 0, text, count, to, room);
}

size_t TextLength(const char *text, int precision)
{
    return precision < 0 ? strlen(text) : strnlen(text, (size_t)precision);
}
size_t TextLength(const wchar_t *text, int precision)
{
    return precision < 0 ? wcslen(text) : wcsnlen(text, (size_t)precision);
}

// Appends `count` units of `text` padded to `width`; text of the other kind is converted.
template <typename Ch>
bool AppendField(Output<Ch> &out, const Ch *text, size_t count, int width, bool left)
{
    size_t pad = width > 0 && (size_t)width > count ? (size_t)width - count : 0;
    if (!left)
        AppendPadding(out, pad);
    Append(out, text, count);
    if (left)
        AppendPadding(out, pad);
    return true;
}

template <typename Ch, typename Other>
bool AppendField(Output<Ch> &out, const Other *text, size_t count, int width, bool left)
{
    if (count > INT_MAX)
        return false;
    int converted = ConvertedLength(text, (int)count, (Ch *)nullptr);
    if (count > 0 && converted <= 0)
        return false;
    Ch *copy = (Ch *)malloc(((size_t)converted + 1) * sizeof(Ch));
    if (copy == nullptr)
        return false;
    bool ok = count == 0 || Convert(text, (int)count, copy, converted) == converted;
    if (ok)
        AppendField(out, (const Ch *)copy, (size_t)converted, width, left);
    free(copy);
    return ok;
}

enum Length { LengthNone, LengthChar, LengthShort, LengthLong, LengthWide, LengthLongLong };

struct Directive {
    char flags[8];
    int width;     // -1: none
    int precision; // -1: none
    Length length;
    char conversion;
};

template <typename Ch>
bool IsFlag(Ch c)
{
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

// Reads a decimal field or "*"; -1 when absent. False when it is too large.
template <typename Ch>
bool ReadNumber(const Ch *&p, va_list &args, int &value)
{
    value = -1;
    if (*p == '*') {
        p++;
        value = va_arg(args, int);
        return true;
    }
    if (*p < '0' || *p > '9')
        return true;
    value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > kMaxFieldWidth)
            return false;
    }
    return true;
}

template <typename Ch>
void ReadLength(const Ch *&p, Length &length)
{
    length = LengthNone;
    if (p[0] == 'h' && p[1] == 'h') { p += 2; length = LengthChar; }
    else if (p[0] == 'h') { p += 1; length = LengthShort; }
    else if (p[0] == 'l' && p[1] == 'l') { p += 2; length = LengthLongLong; }
    else if (p[0] == 'l') { p += 1; length = LengthLong; }
    else if (p[0] == 'w') { p += 1; length = LengthWide; }
    else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') { p += 3; length = LengthLongLong; }
    else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') { p += 3; }
    else if (p[0] == 'z' || p[0] == 'j' || p[0] == 'I') { p += 1; length = LengthLongLong; }
}

// Parses the directive behind '%'; `p` is left after its conversion character.
template <typename Ch>
bool ParseDirective(const Ch *&p, va_list &args, Directive &d)
{
    size_t flags = 0;
    while (IsFlag(*p)) {
        if (flags + 1 < sizeof d.flags)
            d.flags[flags++] = (char)*p;
        p++;
    }
    d.flags[flags] = 0;
    if (!ReadNumber(p, args, d.width))
        return false;
    if (d.width < -kMaxFieldWidth || d.width > kMaxFieldWidth)
        return false;
    if (d.width < 0 && d.width != -1) { // a negative "*" width means left-justified
        d.width = -d.width;
        if (flags + 1 < sizeof d.flags) {
            d.flags[flags++] = '-';
            d.flags[flags] = 0;
        }
    }
    d.precision = -1;
    if (*p == '.') {
        p++;
        if (!ReadNumber(p, args, d.precision))
            return false;
        if (d.precision == -1 && p[-1] == '.')
            d.precision = 0; // "%.s": precision zero
        if (d.precision > kMaxFieldWidth)
            return false;
        if (d.precision < -1)
            d.precision = -1;
    }
    ReadLength(p, d.length);
    if (*p == 0 || (unsigned)*p > 0x7f)
        return false;
    d.conversion = (char)*p++;
    return true;
}

template <typename Ch>
bool AppendText(Output<Ch> &out, const Directive &d, va_list &args)
{
    bool upper = d.conversion == 'S' || d.conversion == 'C';
    bool wide = sizeof(Ch) == sizeof(wchar_t) ? !upper : upper;
    if (d.length == LengthShort)
        wide = false;
    else if (d.length == LengthLong || d.length == LengthWide)
        wide = true;
    bool left = strchr(d.flags, '-') != nullptr;

    if (d.conversion == 'c' || d.conversion == 'C') {
        int c = va_arg(args, int);
        if (wide) {
            wchar_t one = (wchar_t)c;
            return AppendField(out, &one, 1, d.width, left);
        }
        char one = (char)c;
        return AppendField(out, &one, 1, d.width, left);
    }
    if (wide) {
        const wchar_t *text = va_arg(args, const wchar_t *);
        if (text == nullptr)
            text = L"(null)";
        return AppendField(out, text, TextLength(text, d.precision), d.width, left);
    }
    const char *text = va_arg(args, const char *);
    if (text == nullptr)
        text = "(null)";
    return AppendField(out, text, TextLength(text, d.precision), d.width, left);
}

// Numbers go through the C runtime one at a time, with the argument read at its own width.
template <typename Ch>
bool AppendNumber(Output<Ch> &out, const Directive &d, va_list &args)
{
    char width[16] = "";
    char precision[16] = "";
    if (d.width >= 0)
        _snprintf(width, sizeof width, "%d", d.width);
    if (d.precision >= 0)
        _snprintf(precision, sizeof precision, ".%d", d.precision);
    char c = d.conversion;
    char format[48];
    char digits[kNumberRoom];
    int n;
    if (c == 'd' || c == 'i' || c == 'u' || c == 'o' || c == 'x' || c == 'X') {
        bool is_signed = c == 'd' || c == 'i';
        unsigned long long value;
        if (d.length == LengthLongLong)
            value = va_arg(args, unsigned long long);
        else if (is_signed)
            value = (unsigned long long)(long long)va_arg(args, int);
        else
            value = va_arg(args, unsigned int);
        if (d.length == LengthShort)
            value = is_signed ? (unsigned long long)(long long)(short)value : (unsigned short)value;
        else if (d.length == LengthChar)
            value = is_signed ? (unsigned long long)(long long)(signed char)value : (unsigned char)value;
        _snprintf(format, sizeof format, "%%%s%s%sI64%c", d.flags, width, precision, c);
        n = _snprintf(digits, sizeof digits, format, value);
    } else if (c == 'p') {
        _snprintf(format, sizeof format, "%%%s%sp", d.flags, width);
        n = _snprintf(digits, sizeof digits, format, va_arg(args, void *));
    } else if (c == 'e' || c == 'E' || c == 'f' || c == 'g' || c == 'G') {
        _snprintf(format, sizeof format, "%%%s%s%s%c", d.flags, width, precision, c);
        n = _snprintf(digits, sizeof digits, format, va_arg(args, double));
    } else {
        return false; // includes %n, which is never honoured
    }
    if (n < 0 || (size_t)n >= sizeof digits)
        return false;
    for (int i = 0; i < n; i++) {
        Ch one = (Ch)(unsigned char)digits[i];
        Append(out, &one, 1);
    }
    return true;
}

// Formats into `out`, which has room for at least the terminator, and returns the whole length,
// or -1 for a formatting error.
template <typename Ch>
int FormatCore(Output<Ch> &out, const Ch *format, va_list args)
{
    va_list ap;
    va_copy(ap, args);
    bool ok = format != nullptr;
    const Ch *p = format;
    while (ok && *p != 0) {
        const Ch *run = p;
        while (*p != 0 && *p != '%')
            p++;
        Append(out, run, (size_t)(p - run));
        if (*p == 0)
            break;
        p++;
        if (*p == '%') {
            Append(out, p++, 1);
            continue;
        }
        Directive d;
        ok = ParseDirective(p, ap, d);
        if (ok && (d.conversion == 's' || d.conversion == 'S' || d.conversion == 'c' || d.conversion == 'C'))
            ok = AppendText(out, d, ap);
        else if (ok)
            ok = AppendNumber(out, d, ap);
    }
    va_end(ap);
    if (!ok || out.length > INT_MAX) {
        out.buffer[0] = 0;
        return -1;
    }
    out.buffer[out.length < out.capacity ? out.length : out.capacity - 1] = 0;
    return (int)out.length;
}

// The length when the whole text fits, otherwise -1.
template <typename Ch>
int FormatBounded(Ch *buffer, size_t capacity, const Ch *format, va_list args)
{
    if (buffer == nullptr || capacity == 0)
        return -1;
    Output<Ch> out = {buffer, capacity, 0};
    int length = FormatCore(out, format, args);
    return length >= 0 && (size_t)length < capacity ? length : -1;
}

} // namespace

int FormatWideV(wchar_t *buffer, size_t capacity, const wchar_t *format, va_list args)
{
    return FormatBounded(buffer, capacity, format, args);
}

int FormatWide(wchar_t *buffer, size_t capacity, const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = FormatWideV(buffer, capacity, format, args);
    va_end(args);
    return length;
}

int FormatNarrowV(char *buffer, size_t capacity, const char *format, va_list args)
{
    return FormatBounded(buffer, capacity, format, args);
}

int FormatNarrow(char *buffer, size_t capacity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = FormatNarrowV(buffer, capacity, format, args);
    va_end(args);
    return length;
}
