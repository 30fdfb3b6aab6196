#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

namespace {

bool Parse(std::vector<std::wstring> args, SetupOptions *options)
{
    args.insert(args.begin(), L"Talvor-Kurulum.exe");
    std::vector<wchar_t *> argv;
    for (auto &a : args)
        argv.push_back(&a[0]);
    return ParseOptions((int)argv.size(), argv.data(), DefaultBaseUrl, options);
}

struct GrammarCase {
    std::vector<std::wstring> args;
    bool valid;
    SetupMode mode;
    bool silent, delete_settings, desktop_shortcut;
};

} // namespace

TEST(ParseOptions, Grammar)
{
    const GrammarCase cases[] = {
        {{}, true, ModeInstall, false, false, true},
        {{L"--KALDIR"}, true, ModeRemoval, false, false, true},
        {{L"/kaldir"}, true, ModeRemoval, false, false, true},
        {{L"-Kaldir"}, true, ModeRemoval, false, false, true},
        {{L"/sessiz", L"/ayarlari-sil", L"/masaustu-yok"}, true, ModeInstall, true, true, false},
        {{L"/sessiz", L"-SESSIZ", L"--sessiz"}, true, ModeInstall, true, false, true}, // repeated flags stay set
        {{L"/ayarlari-sil"}, true, ModeInstall, false, true, true},                    // accepted outside its mode
        {{L"kaldir"}, false},                                      // no prefix
        {{L"/kaldir=1"}, false},                                   // names are compared whole
        {{L"/kaldirx"}, false},
        {{L"/kaldır"}, false},
        {{L"/KALDİR"}, false},                                     // only ASCII letters fold
        {{L"---kaldir"}, false},
        {{L"/-kaldir"}, false},
        {{L"/"}, false},
        {{L"-"}, false},
        {{L"--"}, false},
        {{L""}, false},
        {{L"/sessiz", L"/bilinmeyen", L"/kaldir"}, false},
        {{L"yerel=C:\\x"}, false},
        {{L"--yerel="}, false},
        {{L"--adres=ftp://sunucu/"}, false},
    };
    for (const GrammarCase &c : cases) {
        std::wstring shown;
        for (const auto &a : c.args)
            shown += L"[" + a + L"]";
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        SetupOptions options;
        memset(&options, 0x55, sizeof options);
        ASSERT_EQ(c.valid, Parse(c.args, &options));
        if (!c.valid)
            continue;
        EXPECT_EQ(c.mode, options.mode);
        EXPECT_EQ(c.silent, options.silent);
        EXPECT_EQ(c.delete_settings, options.delete_settings);
        EXPECT_EQ(c.desktop_shortcut, options.desktop_shortcut);
        EXPECT_STREQ(L"", options.local_folder);
        EXPECT_STREQ(DefaultBaseUrl, options.base_url);
    }
}

TEST(ParseOptions, RefusedCommandLineStillHonoursSessiz)
{
    SetupOptions options;
    ASSERT_FALSE(Parse({L"kaldir", L"/sessiz"}, &options));
    EXPECT_TRUE(options.silent);
    ASSERT_FALSE(Parse({L"/SESSIZ", L"--yerel="}, &options));
    EXPECT_TRUE(options.silent);
    ASSERT_FALSE(Parse({L"/kaldir", L"/bilinmeyen"}, &options));
    EXPECT_FALSE(options.silent);
}

TEST(ParseOptions, LocalFolderBounds)
{
    SetupOptions options;
    std::wstring folder259 = L"C:\\" + std::wstring(256, L'k');
    ASSERT_EQ(259u, folder259.size());
    ASSERT_TRUE(Parse({L"--yerel=" + folder259}, &options));
    EXPECT_EQ(folder259, options.local_folder);
    EXPECT_FALSE(Parse({L"--yerel=" + folder259 + L"k"}, &options));

    ASSERT_TRUE(Parse({L"/YEREL=D:\\ilk", L"-yerel=D:\\Sürümler"}, &options)); // the last one wins
    EXPECT_STREQ(L"D:\\Sürümler", options.local_folder);
    EXPECT_FALSE(Parse({L"/yerel"}, &options));
}

TEST(ParseOptions, AddressOptionAndTheLastWins)
{
    SetupOptions options;
    ASSERT_TRUE(Parse({L"--adres=http://127.0.0.1:8080/a", L"/ADRES=https://ornek.test/b/"}, &options));
    EXPECT_STREQ(L"https://ornek.test/b/", options.base_url);
    EXPECT_FALSE(Parse({L"--adres=https://"}, &options));
}

TEST(SetBaseUrl, Bounds)
{
    struct UrlCase {
        std::wstring url;
        bool valid;
        std::wstring stored;
    };
    const UrlCase cases[] = {
        {L"https://", false, L""},               // the scheme alone: 8 characters
        {L"http://a", false, L""},               // a host, but 8 characters
        {L"https://a", true, L"https://a/"},     // 9 characters
        {L"https://a/", true, L"https://a/"},    // no second slash
        {L"HTTPS://a.b/", false, L""},           // the scheme is compared case-sensitively
        {L"Http://a.b/", false, L""},
        {L"ftp://a.b/c", false, L""},
        {L"https://a.b" + std::wstring(499, L'c'), true, L""},  // 510 characters
        {L"https://a.b" + std::wstring(500, L'c'), false, L""}, // 511 characters
    };
    for (const UrlCase &c : cases) {
        SCOPED_TRACE(std::string(c.url.begin(), c.url.begin() + (c.url.size() < 40 ? c.url.size() : 40)));
        SetupOptions options = {};
        wcscpy(options.base_url, L"https://onceki/");
        ASSERT_EQ(c.valid, SetBaseUrl(&options, c.url.c_str()));
        if (!c.valid) {
            EXPECT_STREQ(L"https://onceki/", options.base_url); // a refused URL changes nothing
        } else if (!c.stored.empty()) {
            EXPECT_EQ(c.stored, options.base_url);
        } else {
            EXPECT_EQ(c.url + L"/", options.base_url);
            EXPECT_EQ(511u, wcslen(options.base_url));
        }
    }
}

TEST(OptionName, Prefixes)
{
    EXPECT_STREQ(L"kaldir", OptionName(L"--kaldir"));
    EXPECT_STREQ(L"kaldir", OptionName(L"-kaldir"));
    EXPECT_STREQ(L"kaldir", OptionName(L"/kaldir"));
    EXPECT_STREQ(L"-kaldir", OptionName(L"---kaldir"));
    EXPECT_STREQ(L"", OptionName(L"--"));
    EXPECT_EQ(nullptr, OptionName(L"kaldir"));
    EXPECT_EQ(nullptr, OptionName(L""));
    EXPECT_EQ(nullptr, OptionName(L"\\kaldir"));
}
