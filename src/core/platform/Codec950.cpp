#include "platform/Codec950.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace talvesk::platform::codec950 {

namespace {
constexpr const char *kCodecName = "windows-950";
}

QByteArray encode(QStringView text)
{
    QStringEncoder encoder(kCodecName, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

QString decode(QByteArrayView bytes, bool *ok)
{
    QStringDecoder decoder(kCodecName, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (ok)
        *ok = !decoder.hasError();
    return text;
}

} // namespace talvesk::platform::codec950
