#include "credentials/Cipher.h"

#include "credentials/BlowfishTables.h"

#include <algorithm>
#include <utility>

namespace talvesk::cipher {

// ---- hexadecimal text ----

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

Bytes HexTextToBytes(std::string_view text)
{
    std::string padded(text);
    if (padded.size() % 2 != 0)
        padded.push_back('0');
    Bytes bytes(padded.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(padded[2 * i]);
        const int low = hexDigit(padded[2 * i + 1]);
        if (high < 0)
            bytes[i] = 0;
        else if (low < 0)
            bytes[i] = static_cast<std::uint8_t>(high);
        else
            bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return bytes;
}

std::string BytesToHexText(const Bytes &bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

// ---- Blowfish ----

namespace {

std::uint32_t wordFromBytes(const std::uint8_t *b)
{
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

void bytesFromWord(std::uint32_t w, std::uint8_t *b)
{
    b[0] = static_cast<std::uint8_t>(w >> 24);
    b[1] = static_cast<std::uint8_t>(w >> 16);
    b[2] = static_cast<std::uint8_t>(w >> 8);
    b[3] = static_cast<std::uint8_t>(w);
}

std::uint32_t feistel(const BlowfishState &st, std::uint32_t x)
{
    // Unsigned arithmetic wraps modulo 2^32, which is the cipher's addition.
    return ((st.s[0][x >> 24] + st.s[1][(x >> 16) & 0xFF]) ^ st.s[2][(x >> 8) & 0xFF]) + st.s[3][x & 0xFF];
}

void encryptWords(const BlowfishState &st, std::uint32_t &left, std::uint32_t &right)
{
    std::uint32_t l = left, r = right;
    for (int i = 0; i < 16; ++i) {
        l ^= st.p[i];
        r ^= feistel(st, l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= st.p[16];
    l ^= st.p[17];
    left = l;
    right = r;
}

void decryptWords(const BlowfishState &st, std::uint32_t &left, std::uint32_t &right)
{
    std::uint32_t l = left, r = right;
    for (int i = 17; i > 1; --i) {
        l ^= st.p[i];
        r ^= feistel(st, l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= st.p[1];
    l ^= st.p[0];
    left = l;
    right = r;
}

} // namespace

bool BlowfishSetKey(BlowfishState &state, const Bytes &key)
{
    if (key.empty() || key.size() > 56)
        return false;
    state.p = tables::kInitialP;
    state.s = tables::kInitialS;

    std::size_t k = 0;
    for (auto &word : state.p) {
        std::uint32_t data = 0;
        for (int i = 0; i < 4; ++i) {
            data = (data << 8) | key[k];
            k = (k + 1) % key.size();
        }
        word ^= data;
    }

    std::uint32_t left = 0, right = 0;
    for (std::size_t i = 0; i < state.p.size(); i += 2) {
        encryptWords(state, left, right);
        state.p[i] = left;
        state.p[i + 1] = right;
    }
    for (auto &box : state.s) {
        for (std::size_t i = 0; i < box.size(); i += 2) {
            encryptWords(state, left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
    return true;
}

Block BlowfishEncryptBlock(const BlowfishState &state, const Block &plain)
{
    std::uint32_t l = wordFromBytes(plain.data()), r = wordFromBytes(plain.data() + 4);
    encryptWords(state, l, r);
    Block out;
    bytesFromWord(l, out.data());
    bytesFromWord(r, out.data() + 4);
    return out;
}

Block BlowfishDecryptBlock(const BlowfishState &state, const Block &cipher)
{
    std::uint32_t l = wordFromBytes(cipher.data()), r = wordFromBytes(cipher.data() + 4);
    decryptWords(state, l, r);
    Block out;
    bytesFromWord(l, out.data());
    bytesFromWord(r, out.data() + 4);
    return out;
}

// ---- padding and CBC ----

Bytes AddBlockPadding(Bytes bytes)
{
    const auto n = static_cast<std::uint8_t>(8 - bytes.size() % 8);
    bytes.insert(bytes.end(), n, n);
    return bytes;
}

Bytes StripBlockPadding(Bytes bytes)
{
    if (bytes.empty())
        return bytes;
    const std::size_t n = bytes.back();
    if (n > 8)
        return bytes;
    bytes.resize(n >= bytes.size() ? 0 : bytes.size() - n);
    return bytes;
}

Bytes CbcEncrypt(const BlowfishState &state, const Bytes &plain, const Block &iv)
{
    Bytes out;
    const std::size_t blocks = plain.size() / 8;
    out.reserve(blocks * 8);
    Block previous = iv;
    for (std::size_t b = 0; b < blocks; ++b) {
        Block block;
        for (int i = 0; i < 8; ++i)
            block[i] = plain[b * 8 + i] ^ previous[i];
        previous = BlowfishEncryptBlock(state, block);
        out.insert(out.end(), previous.begin(), previous.end());
    }
    return out;
}

Bytes CbcDecrypt(const BlowfishState &state, const Bytes &cipher, const Block &iv)
{
    Bytes out;
    const std::size_t blocks = cipher.size() / 8;
    out.reserve(blocks * 8);
    Block previous = iv;
    for (std::size_t b = 0; b < blocks; ++b) {
        Block block;
        std::copy_n(cipher.begin() + static_cast<std::ptrdiff_t>(b * 8), 8, block.begin());
        const Block plain = BlowfishDecryptBlock(state, block);
        for (int i = 0; i < 8; ++i)
            out.push_back(plain[i] ^ previous[i]);
        previous = block;
    }
    return out;
}

// ---- the credential front end ----

namespace {

struct KeyAndIv {
    BlowfishState state;
    Block iv{};
};

KeyAndIv buildKeyAndIv()
{
    KeyAndIv k;
    BlowfishSetKey(k.state, HexTextToBytes(CredentialKeyText));
    const Bytes ivBytes = HexTextToBytes(std::string("00") + std::string(CredentialIvText));
    std::copy_n(ivBytes.begin(), 8, k.iv.begin());
    return k;
}

} // namespace

std::string EncryptCredentialBytes(const Bytes &value)
{
    const KeyAndIv k = buildKeyAndIv();
    return BytesToHexText(CbcEncrypt(k.state, AddBlockPadding(value), k.iv));
}

Bytes DecryptCredentialBytes(std::string_view stored)
{
    const KeyAndIv k = buildKeyAndIv();
    return StripBlockPadding(CbcDecrypt(k.state, HexTextToBytes(stored), k.iv));
}

} // namespace talvesk::cipher
