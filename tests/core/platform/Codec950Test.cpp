#include "platform/Codec950.h"

#include <QCryptographicHash>

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

// The table a text file's lines are decoded through must read every character as the converter
// does, and must never take an invalid sequence for a character.
TEST(Codec950, TheTableReadsEveryCharacterAsTheConverterDoes)
{
    QString fast;
    int pairs = 0;
    for (int first = 0x80; first <= 0xFF; ++first) {
        for (int second = -1; second <= 0xFF; ++second) {
            QByteArray bytes(1, static_cast<char>(first));
            if (second >= 0)
                bytes.append(static_cast<char>(second));
            bool ok = false;
            const QString slow = codec950::decode(bytes, &ok);
            const bool tabled = codec950::decodeValid(bytes, fast);
            if (tabled) {
                ASSERT_TRUE(ok) << std::hex << first << ' ' << second;
                ASSERT_EQ(fast, slow) << std::hex << first << ' ' << second;
                pairs += second >= 0x40 ? 1 : 0;
            } else {
                // Only what the converter cannot read as one character is left to it.
                ASSERT_FALSE(ok && slow.size() == 1) << std::hex << first << ' ' << second;
            }
        }
    }
    EXPECT_GT(pairs, 19000) << "the code page's characters, user-defined ones included";
}

TEST(Codec950, ALineDecodesThroughTheTableAsAWhole)
{
    const QString line = QStringLiteral("王小明00001   1130102TWD 00000000501轉帳存入") + codec950::decode(QByteArray("\xFA\x40", 2))
        + QStringLiteral(" 9512000000000001   ");
    const QByteArray bytes = codec950::encode(line);
    QString text = QStringLiteral("a much longer text the buffer held before this line was decoded");
    ASSERT_TRUE(codec950::decodeValid(bytes, text));
    EXPECT_EQ(text, line);
    EXPECT_FALSE(codec950::decodeValid(QByteArray(bytes + "\xA4"), text)) << "a lead byte at the end";
    EXPECT_FALSE(codec950::decodeValid(QByteArray("A\xA4\x20" "B", 4), text)) << "a lead byte before a blank";
    ASSERT_TRUE(codec950::decodeValid(QByteArray(), text));
    EXPECT_TRUE(text.isEmpty());
}

// Linux reads the code page through ICU's table, Windows through its own: a bank file must read
// the same on both, so every byte and every pair is held to one list, the one ICU gives here.
TEST(Codec950, EveryByteAndPairReadsAlikeOnEveryPlatform)
{
    QByteArray listing;
    int characters = 0;
    for (int first = 0x80; first <= 0xFF; ++first) {
        for (int second = -1; second <= 0xFF; ++second) {
            if (second >= 0 && second < 0x40)
                continue;
            QByteArray bytes(1, static_cast<char>(first));
            if (second >= 0)
                bytes.append(static_cast<char>(second));
            bool ok = false;
            const QString text = codec950::decode(bytes, &ok);
            if (!ok || text.size() != 1)
                continue;
            listing += bytes.toHex() + '=' + QByteArray::number(text.at(0).unicode(), 16) + '\n';
            ++characters;
        }
    }
    EXPECT_EQ(characters, 19722);
    EXPECT_EQ(QCryptographicHash::hash(listing, QCryptographicHash::Sha256).toHex().toStdString(), "d2ac3ae4ea9b168b910bec2f3520d548e658604770ede980fec6aec11058a512");
}
