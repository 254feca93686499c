#pragma once

// The credential cipher: Blowfish (16 rounds, the published initial values and key schedule) in
// CBC mode with PKCS #5 padding, and the lenient hexadecimal text the stored values are kept in.
// Self-contained: only the standard library.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvesk::cipher {

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, 8>;

// Hexadecimal text to bytes, never failing: an odd length is read as if "0" were appended; a pair
// whose first character is not a hex digit gives 0, a pair whose second is not gives the first
// digit's value alone. Either letter case.
Bytes HexTextToBytes(std::string_view text);
// Upper-case hexadecimal, two digits a byte, nothing between.
std::string BytesToHexText(const Bytes &bytes);

// The P-array and the four S-boxes of one keyed cipher.
struct BlowfishState {
    std::array<std::uint32_t, 18> p{};
    std::array<std::array<std::uint32_t, 256>, 4> s{};
};

// Resets `state` to the initial values and runs the key schedule. Refuses (returns false, the
// schedule not run) a key longer than 56 bytes, and an empty key, which has no words to cycle.
bool BlowfishSetKey(BlowfishState &state, const Bytes &key);
// Bytes 0-3 are the left word and 4-7 the right word, most significant byte first.
Block BlowfishEncryptBlock(const BlowfishState &state, const Block &plain);
Block BlowfishDecryptBlock(const BlowfishState &state, const Block &cipher);

// Appends n bytes of value n, n = 8 - (length mod 8): always 1 to 8 bytes.
Bytes AddBlockPadding(Bytes bytes);
// Removes as many bytes as the last byte says when it says 1 to 8 (all of them when that is the
// whole length or more); a last byte of 0 or above 8 removes nothing. The removed bytes are not
// examined.
Bytes StripBlockPadding(Bytes bytes);

// CBC over whole 8-byte blocks; bytes past the last whole block are ignored.
Bytes CbcEncrypt(const BlowfishState &state, const Bytes &plain, const Block &iv);
Bytes CbcDecrypt(const BlowfishState &state, const Bytes &cipher, const Block &iv);

// The fixed texts the credential key and IV are built from at run time.
inline constexpr std::string_view CredentialKeyText = "#^!%&*~%^&(*qwpzk81247mx9063";
inline constexpr std::string_view CredentialIvText = "kq472ze8t9031r58mh6wx";

// Byte-level credential cipher: the key and IV are built afresh from the texts on every call.
std::string EncryptCredentialBytes(const Bytes &value);
Bytes DecryptCredentialBytes(std::string_view stored);

} // namespace talvesk::cipher
