#include "platform/Codec950.h"

#include <array>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QStringDecoder>
#include <QStringEncoder>
#endif

namespace talvesk::platform::codec950 {

namespace {

constexpr int kFirstLead = 0x81;
constexpr int kLastLead = 0xFE;
constexpr int kFirstTrail = 0x40;
constexpr int kLastTrail = 0xFE;
constexpr int kTrails = kLastTrail - kFirstTrail + 1;

#ifdef Q_OS_WIN
// Windows has the code page itself (Qt's converters there know no Big5 without ICU).
constexpr UINT kCodePage = 950;

QString systemDecode(QByteArrayView bytes, bool *ok)
{
    if (bytes.isEmpty()) {
        if (ok)
            *ok = true;
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    // Strictly first: an invalid sequence fails the whole call, and is then read leniently.
    int length = ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    const bool valid = length > 0;
    const DWORD flags = valid ? MB_ERR_INVALID_CHARS : 0;
    if (!valid)
        length = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), size, nullptr, 0);
    QString text(length, Qt::Uninitialized);
    ::MultiByteToWideChar(kCodePage, flags, bytes.data(), size, reinterpret_cast<wchar_t *>(text.data()), length);
    if (ok)
        *ok = valid;
    return text;
}

QByteArray systemEncode(QStringView text)
{
    if (text.isEmpty())
        return {};
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(kCodePage, 0, wide, size, nullptr, 0, nullptr, nullptr);
    QByteArray bytes(length, Qt::Uninitialized);
    ::WideCharToMultiByte(kCodePage, 0, wide, size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}
#else
// ICU's table of the code page, which maps the user-defined area as Windows does.
constexpr const char *kCodecName = "windows-950";

QString systemDecode(QByteArrayView bytes, bool *ok)
{
    QStringDecoder decoder(kCodecName, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (ok)
        *ok = !decoder.hasError();
    return text;
}

QByteArray systemEncode(QStringView text)
{
    QStringEncoder encoder(kCodecName, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}
#endif

// What the converter gives for each byte from 0x80 and each two-byte sequence, asked once each;
// 0 where it gives anything but one character without an error. The code page is stateless,
// so a character reads the same alone as within a line.
struct Table {
    std::array<char16_t, 128> single{};
    std::array<char16_t, (kLastLead - kFirstLead + 1) * kTrails> pairs{};

    Table()
    {
        const auto ask = [](const char *bytes, qsizetype size) -> char16_t {
            bool ok = false;
            const QString text = systemDecode(QByteArrayView(bytes, size), &ok);
            return ok && text.size() == 1 ? text.at(0).unicode() : 0;
        };
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char byte = static_cast<char>(b);
            single[static_cast<std::size_t>(b - 0x80)] = ask(&byte, 1);
        }
        for (int lead = kFirstLead; lead <= kLastLead; ++lead) {
            // A byte that is a character alone starts no pair.
            if (single[static_cast<std::size_t>(lead - 0x80)])
                continue;
            for (int trail = kFirstTrail; trail <= kLastTrail; ++trail) {
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                pairs[static_cast<std::size_t>((lead - kFirstLead) * kTrails + trail - kFirstTrail)] = ask(pair, 2);
            }
        }
    }
};

const Table &table()
{
    static const Table instance;
    return instance;
}

} // namespace

QByteArray encode(QStringView text)
{
    return systemEncode(text);
}

QString decode(QByteArrayView bytes, bool *ok)
{
    return systemDecode(bytes, ok);
}

bool decodeValid(QByteArrayView bytes, QString &text)
{
    const Table &t = table();
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    // Never more characters than bytes; the string keeps its buffer from line to line.
    text.resize(size);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    qsizetype n = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char b = in[i];
        if (b < 0x80) {
            out[n++] = b;
            continue;
        }
        if (const char16_t c = t.single[b - 0x80]) {
            out[n++] = c;
            continue;
        }
        if (b < kFirstLead || b > kLastLead || i + 1 == size)
            return false;
        const unsigned char trail = in[i + 1];
        if (trail < kFirstTrail || trail > kLastTrail)
            return false;
        const char16_t c = t.pairs[static_cast<std::size_t>((b - kFirstLead) * kTrails + trail - kFirstTrail)];
        if (!c)
            return false;
        out[n++] = c;
        ++i;
    }
    text.resize(n);
    return true;
}

} // namespace talvesk::platform::codec950
