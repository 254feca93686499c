#include "credentials/Cipher.h"

#include <gtest/gtest.h>

using namespace talvesk::cipher;

namespace {

Block blockFromHex(std::string_view hex)
{
    const Bytes b = HexTextToBytes(hex);
    Block block{};
    std::copy(b.begin(), b.end(), block.begin());
    return block;
}

std::string hexOf(const Block &b)
{
    return BytesToHexText(Bytes(b.begin(), b.end()));
}

} // namespace

TEST(Blowfish, MatchesPublishedEcbVectors)
{
    struct Vector {
        const char *key, *plain, *cipher;
    };
    const Vector vectors[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        // Keys of other lengths (the variable-key-length set).
        {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
        {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
    };
    for (const Vector &v : vectors) {
        BlowfishState state;
        ASSERT_TRUE(BlowfishSetKey(state, HexTextToBytes(v.key)));
        const Block cipher = BlowfishEncryptBlock(state, blockFromHex(v.plain));
        EXPECT_EQ(hexOf(cipher), v.cipher) << "key " << v.key;
        EXPECT_EQ(hexOf(BlowfishDecryptBlock(state, cipher)), v.plain) << "key " << v.key;
    }
}

TEST(Blowfish, RefusesKeysOver56BytesAndEmptyKeys)
{
    BlowfishState state;
    EXPECT_TRUE(BlowfishSetKey(state, Bytes(56, 0x11)));
    const auto keyed = state.p;
    EXPECT_FALSE(BlowfishSetKey(state, Bytes(57, 0x22)));
    EXPECT_EQ(state.p, keyed) << "a refused key must not run the schedule";
    EXPECT_FALSE(BlowfishSetKey(state, Bytes{}));
}

TEST(HexText, ReadsLeniently)
{
    EXPECT_EQ(HexTextToBytes(""), Bytes{});
    EXPECT_EQ(HexTextToBytes("0aFf"), (Bytes{0x0A, 0xFF}));
    EXPECT_EQ(HexTextToBytes("abc"), (Bytes{0xAB, 0xC0})) << "odd length reads as if 0 were appended";
    EXPECT_EQ(HexTextToBytes("7z"), Bytes{0x07}) << "second character not a digit: first digit alone";
    EXPECT_EQ(HexTextToBytes("z7"), Bytes{0x00}) << "first character not a digit: 0";
    EXPECT_EQ(HexTextToBytes("*"), Bytes{0x00});
    EXPECT_EQ(BytesToHexText(Bytes{0x00, 0x0F, 0xA0, 0xFF}), "000FA0FF");
}

TEST(Padding, AddsOneToEightBytesAndStripsByTheLastByte)
{
    EXPECT_EQ(AddBlockPadding(Bytes{}), Bytes(8, 8));
    EXPECT_EQ(AddBlockPadding(Bytes(7, 1)).size(), 8u);
    EXPECT_EQ(AddBlockPadding(Bytes(8, 1)).size(), 16u) << "a full block gets a whole block of padding";
    EXPECT_EQ(AddBlockPadding(Bytes{'A', 'B', 'C'}), (Bytes{'A', 'B', 'C', 5, 5, 5, 5, 5}));

    EXPECT_EQ(StripBlockPadding(Bytes{'A', 'B', 9, 9, 2}), (Bytes{'A', 'B', 9}))
        << "the removed bytes are not examined";
    EXPECT_EQ(StripBlockPadding(Bytes{'A', 'B', 0}), (Bytes{'A', 'B', 0})) << "0 removes nothing";
    EXPECT_EQ(StripBlockPadding(Bytes{'A', 'B', 9}), (Bytes{'A', 'B', 9})) << "above 8 removes nothing";
    EXPECT_EQ(StripBlockPadding(Bytes{'A', 8}), Bytes{}) << "n past the length empties it";
    EXPECT_EQ(StripBlockPadding(Bytes{}), Bytes{});
}

TEST(Cbc, ChainsBlocksAndIgnoresATrailingPartialBlock)
{
    BlowfishState state;
    ASSERT_TRUE(BlowfishSetKey(state, HexTextToBytes("0123456789ABCDEF")));
    const Block iv = blockFromHex("FEDCBA9876543210");
    Bytes plain(16, 0x41); // two equal blocks must encipher differently in CBC
    const Bytes cipher = CbcEncrypt(state, plain, iv);
    ASSERT_EQ(cipher.size(), 16u);
    EXPECT_NE(Bytes(cipher.begin(), cipher.begin() + 8), Bytes(cipher.begin() + 8, cipher.end()));
    EXPECT_EQ(CbcDecrypt(state, cipher, iv), plain);

    Bytes withTail = cipher;
    withTail.push_back(0x99);
    EXPECT_EQ(CbcDecrypt(state, withTail, iv), plain);
    EXPECT_EQ(CbcDecrypt(state, Bytes(7, 1), iv), Bytes{});
}
