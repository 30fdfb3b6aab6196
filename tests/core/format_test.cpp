#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "core/format.h"

// The C runtime itself, as the build sets it up: Windows conventions, not C99 ones. The setup
// formats numbers through it, so a switch to MinGW's C99 stdio would show here first.
TEST(ToolchainStdio, FollowsWindowsConventions)
{
    wchar_t wide[32];
    _snwprintf(wide, 32, L"%s|%hs|%ls", L"wide", "narrow", L"long");
    EXPECT_STREQ(L"wide|narrow|long", wide);

    char narrow[64];
    _snprintf(narrow, 64, "%s|%ls|%hs|%llu", "narrow", L"wide", "short", 18446744073709551615ull);
    EXPECT_STREQ("narrow|wide|short|18446744073709551615", narrow);
    snprintf(narrow, 32, "%ls", L"wide");
    EXPECT_STREQ("wide", narrow);
}

TEST(FormatWide, ConversionsFollowWindowsConventions)
{
    wchar_t out[128];
    EXPECT_EQ(19, FormatWide(out, 128, L"%s %hs %ls %c%hc", L"wide", "narrow", L"long", L'x', 'y'));
    EXPECT_STREQ(L"wide narrow long xy", out);
    FormatWide(out, 128, L"%d %u %05d %-4s| %x %X %I64u %llu %zu %%", -7, 7u, 42, L"ab", 255, 255,
               18446744073709551615ull, 1ull << 40, (size_t)3);
    EXPECT_STREQ(L"-7 7 00042 ab  | ff FF 18446744073709551615 1099511627776 3 %", out);
    FormatWide(out, 128, L"%*d|%-*d|%.*hs|%hd|%hhu", 4, 1, 3, 2, 2, "abc", 70000, 300);
    EXPECT_STREQ(L"   1|2  |ab|4464|44", out);
}

TEST(FormatWide, CapacityLimits)
{
    wchar_t out[8];
    wmemset(out, L'#', 8);
    EXPECT_EQ(3, FormatWide(out, 4, L"%s", L"abc")); // exactly fills the buffer with its terminator
    EXPECT_STREQ(L"abc", out);
    EXPECT_EQ(-1, FormatWide(out, 4, L"%s", L"abcd")); // one over: cut, terminated, failure
    EXPECT_STREQ(L"abc", out);
    EXPECT_EQ(L'#', out[4]); // nothing written behind the capacity
    EXPECT_EQ(-1, FormatWide(out, 1, L"x"));
    EXPECT_STREQ(L"", out);
    EXPECT_EQ(0, FormatWide(out, 1, L""));
    EXPECT_EQ(-1, FormatWide(nullptr, 4, L"x"));
    EXPECT_EQ(-1, FormatWide(out, 0, L"x"));
}

TEST(FormatWide, NarrowTextIsReadAsUtf8)
{
    wchar_t out[64];
    EXPECT_EQ(5, FormatWide(out, 64, L"%hs", u8"Aydın"));
    EXPECT_STREQ(L"Aydın", out);
    // A precision limits how much is read: the argument need not be terminated.
    const char magic[4] = {'T', 'D', 'B', '1'};
    FormatWide(out, 64, L"[%.4hs]", magic);
    EXPECT_STREQ(L"[TDB1]", out);
}

TEST(FormatWide, RefusesWhatItCannotFormat)
{
    wchar_t out[32] = L"old";
    int count = 0;
    EXPECT_EQ(-1, FormatWide(out, 32, L"ab%n", &count));
    EXPECT_STREQ(L"", out);
    EXPECT_EQ(0, count);
    EXPECT_EQ(-1, FormatWide(out, 32, L"ab%q"));
    EXPECT_EQ(-1, FormatWide(out, 32, L"ab%"));
    EXPECT_EQ(-1, FormatWide(out, 32, L"%999999999d", 1)); // a width no buffer could hold
}

// The same contract as the wide kind: a cut text is kept, terminated, and reported as -1.
TEST(FormatNarrow, CapacityLimits)
{
    char out[8];
    memset(out, '#', sizeof out);
    EXPECT_EQ(4, FormatNarrow(out, 5, "abcd"));
    EXPECT_STREQ("abcd", out);
    EXPECT_EQ(-1, FormatNarrow(out, 5, "abcde")); // reaches the capacity: cut at 4 bytes
    EXPECT_STREQ("abcd", out);
    EXPECT_EQ('#', out[5]);
    EXPECT_EQ(-1, FormatNarrow(out, 5, "%s%d", "abcdef", 12));
    EXPECT_STREQ("abcd", out);
    EXPECT_EQ(-1, FormatNarrow(nullptr, 0, "%06d", 1));
    out[0] = 'z';
    EXPECT_EQ(-1, FormatNarrow(out, 0, "abc"));
    EXPECT_EQ('z', out[0]);
    EXPECT_EQ(-1, FormatNarrow(out, 8, "%n", nullptr));
    EXPECT_STREQ("", out);
}

TEST(FormatNarrow, WideTextBecomesUtf8)
{
    char out[64];
    // ı and ğ lie outside Latin-1: the C runtime alone would fail the whole line on them.
    EXPECT_EQ(12, FormatNarrow(out, 64, "%ls|%S", L"Aydın", L"Doğu"));
    EXPECT_STREQ(u8"Aydın|Doğu", out);
    EXPECT_EQ(2, FormatNarrow(out, 64, "%lc", (wint_t)L'ş'));
    EXPECT_STREQ(u8"ş", out);
    FormatNarrow(out, 64, "[%8ls][%-6ls]", L"ab", L"cd");
    EXPECT_STREQ("[      ab][cd    ]", out);
    // A multi-byte character cut at the capacity: still terminated.
    EXPECT_EQ(-1, FormatNarrow(out, 3, "%ls", L"aşb"));
    EXPECT_EQ(2u, strlen(out));
    FormatNarrow(out, 64, "%s|%ls", (const char *)nullptr, (const wchar_t *)nullptr);
    EXPECT_STREQ("(null)|(null)", out);
}
