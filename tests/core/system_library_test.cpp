#include <gtest/gtest.h>

#include "core/system_library.h"
#include "core/win_compat.h"

TEST(LoadSystemProc, HashesThroughTheSha256PseudoHandle)
{
    auto hash = LoadSystemFunction<decltype(&BCryptHash)>(L"bcrypt.dll", "BCryptHash");
    ASSERT_NE(nullptr, hash);
    unsigned char digest[32];
    unsigned char input[] = {'a', 'b', 'c'};
    ASSERT_EQ(0, hash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0, input, 3, digest, 32));
    const unsigned char expected[4] = {0xba, 0x78, 0x16, 0xbf};
    EXPECT_EQ(0, memcmp(expected, digest, 4));
    EXPECT_EQ(0xad, digest[31]);
}

TEST(LoadSystemProc, MissingLibraryOrProcIsNull)
{
    EXPECT_EQ(nullptr, LoadSystemProc(L"talvor-yok.dll", "Anything"));
    EXPECT_EQ(nullptr, LoadSystemProc(L"bcrypt.dll", "NoSuchProcedure"));
}
