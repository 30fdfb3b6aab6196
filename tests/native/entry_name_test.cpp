#include <string>
#include <vector>

#include "release/entry_name.h"
#include "test_support.h"
#include "tools/yayin/yayin.h"

namespace {

bool Safe(const std::string &name)
{
    return IsSafeEntryName(name.data(), name.size());
}

} // namespace

TEST(IsSafeEntryName, FollowsThePathRule)
{
    const std::string long_component(238, 'x');
    const struct {
        std::string name;
        bool safe;
    } cases[] = {
        {"a", true},
        {"program.exe", true},
        {"a/b/c.dll", true},
        {"a b/c d.txt", true},
        {".gizli", true},
        {"a..b", true},
        {"a/...b", true},
        {"~$!#%&'()+,;=@[]^`{}-_", true},
        {"\xc3\xbc" "ye/\xc4\x9f" "\xc4\xb1.txt", true},
        {"\x80\xff", true}, // not UTF-8, but bytes of 0x80 and above are the rule's to allow
        {std::string(240, 'a'), true},
        {std::string(241, 'a'), false},
        {"a/" + long_component, true},
        {"a/" + long_component + "x", false},
        {"", false},
        {"/", false},
        {"/a", false},
        {"a/", false},
        {"a//b", false},
        {".", false},
        {"..", false},
        {"./a", false},
        {"a/./b", false},
        {"../a", false},
        {"a/../b", false},
        {"a/..", false},
        {"a.", false},
        {"a./b", false},
        {"a ", false},
        {"a /b", false},
        {"a\\b", false},
        {"c:a", false},
        {"a*", false},
        {"a?", false},
        {"a<b", false},
        {"a>b", false},
        {"a|b", false},
        {"a\"b", false},
        {std::string("a\0b", 3), false},
        {"a\x01", false},
        {"a\tb", false},
        {"a\x1f", false},
        {"a\x7f", true},
        // Device names, whose files Windows would write to the device
        {"CON", false},
        {"a/nul.txt", false},
        {"Com1.dll", false},
        {"lpt9", false},
        {"aux .txt", false},
        {"CONSOLE", true},
        {"COM10", true},
        {"nul_/a", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(EscapeText(c.name.data(), c.name.size()));
        EXPECT_EQ(c.safe, Safe(c.name));
    }
    EXPECT_FALSE(IsSafeEntryName(nullptr, 0));
    // Only `length` bytes count: what follows is never looked at.
    EXPECT_TRUE(IsSafeEntryName("ab/", 2));
    EXPECT_FALSE(IsSafeEntryName("a/b", 2));
}

TEST(EntryNameFault, RefusesNamesWindowsCannotCreateAsGiven)
{
    const struct {
        std::string name;
        bool accepted;
    } cases[] = {
        {"\xc3\xbc" "ye/\xc4\x9f" "\xc4\xb1.txt", true},
        {"\xe2\x80\xa6", true},
        {"\xf0\x9f\x98\x80.txt", true},
        {"\xf4\x8f\xbf\xbf", true},
        {"CONSOLE", true},
        {"COM10", true},
        {"NULL.txt", true},
        {"acon", true},
        {"a.con", true},
        {"LPT", true},
        {"COM\xe2\x81\xb4", true}, // superscript four is no port
        {"COM\xc2\xb9" "0", true},
        {"a:b", false}, // IsSafeEntryName's refusals come first
        {"\x80", false},
        {"\xc3", false},
        {"\xc3(", false},
        {"\xc0\xaf", false},
        {"\xe0\x80\xaf", false},
        {"\xed\xa0\x80", false},
        {"\xf4\x90\x80\x80", false},
        {"\xf8\x88\x80\x80\x80", false},
        {"\xff", false},
        {"CON", false},
        {"con", false},
        {"nul.txt", false},
        {"Nul .txt", false},
        {"aux.tar.gz", false},
        {"PRN", false},
        {"a/COM1", false},
        {"lpt9.dll", false},
        {"COM0/a", false},
        {"conin$", false},
        {"CONOUT$.x", false},
        {"COM\xc2\xb9", false}, // Windows takes the superscripts one to three for port numbers
        {"lpt\xc2\xb2.txt", false},
        {"Com\xc2\xb3 .log", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(EscapeText(c.name.data(), c.name.size()));
        EXPECT_EQ(c.accepted, EntryNameFault(c.name) == nullptr);
    }
}

TEST(CheckNameCollisions, RefusesPathsWindowsTakesForOne)
{
    const struct {
        std::vector<std::string> names;
        bool accepted;
    } cases[] = {
        {{"a", "b", "c/d", "c/e/f", "c/e/g"}, true},
        {{"a.txt", "a/b"}, true},
        {{"A/x", "A/y"}, true},
        {{"a", "a"}, false},
        {{"A.txt", "a.txt"}, false},
        {{"\xc3\x84.txt", "\xc3\xa4.txt"}, false}, // Ä and ä
        {{"a", "a/b"}, false},
        {{"A", "a/b"}, false},
        {{"a/b", "a"}, false},
        {{"x/A/b", "x/a"}, false},
        {{"A/x", "a/y"}, false},
        {{"d/A/x", "d/a/y"}, false},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const std::string &name : c.names)
            shown += "[" + name + "]";
        SCOPED_TRACE(shown);
        EXPECT_EQ(c.accepted ? StatusOk : StatusInvalid, CheckNameCollisions(c.names));
    }
}
