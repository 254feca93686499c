#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace talvesk::platform::codec950 {

// Code page 950 (Big5 with Microsoft's extensions). The user-defined area maps to the
// private-use characters, so names written with user-defined characters survive a round trip.

QByteArray encode(QStringView text);

// Decodes `bytes`; `ok` (when given) becomes false when a byte sequence is not valid code page 950.
QString decode(QByteArrayView bytes, bool *ok = nullptr);

// Decodes `bytes` into `text` exactly as decode() does, through a table of every character the
// code page has, without a converter call: the bank and store files hold a million lines. False
// at the first byte sequence the table does not hold (an invalid one); `text` is then unspecified
// and decode() gives the answer.
bool decodeValid(QByteArrayView bytes, QString &text);

} // namespace talvesk::platform::codec950
