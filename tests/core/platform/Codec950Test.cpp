#include "platform/Codec950.h"

#include <gtest/gtest.h>

using namespace talvesk::platform;

TEST(Codec950, ChineseAndUserDefinedCharactersRoundTrip)
{
    // 中文 in Big5, then the first code of the user-defined area (造字).
    const QByteArray bytes("\xA4\xA4\xA4\xE5\xFA\x40" "A1", 8);
    bool ok = false;
    const QString text = codec950::decode(bytes, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(text.size(), 5);
    EXPECT_EQ(text.left(2), QStringLiteral("中文"));
    EXPECT_TRUE(text.at(2).unicode() >= 0xE000 && text.at(2).unicode() <= 0xF8FF) << "private use";
    EXPECT_EQ(codec950::encode(text), bytes);
}

TEST(Codec950, AnIncompleteDoubleByteCharacterIsReported)
{
    bool ok = true;
    codec950::decode(QByteArray("AB\xA4", 3), &ok);
    EXPECT_FALSE(ok);
}
