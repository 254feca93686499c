#include "support/CompoundFiles.h"

#include <QFile>
#include <QtEndian>

#include <stdexcept>

namespace talvesk::test {

namespace {

void put32(QByteArray &b, qsizetype at, quint32 v)
{
    qToLittleEndian<quint32>(v, b.data() + at);
}
void put16(QByteArray &b, qsizetype at, quint16 v)
{
    qToLittleEndian<quint16>(v, b.data() + at);
}

constexpr quint32 kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSector = 0xFFFFFFFD;

} // namespace

QByteArray biffRecord(quint16 id, const QByteArray &data)
{
    QByteArray r(4, '\0');
    put16(r, 0, id);
    put16(r, 2, static_cast<quint16>(data.size()));
    return r + data;
}

void writeCompoundFile(const QString &path, const std::vector<std::pair<QString, QByteArray>> &streams)
{
    std::vector<QByteArray> padded;
    qint64 streamSectors = 0;
    for (const auto &[name, data] : streams) {
        QByteArray d = data;
        if (d.size() < 4096)
            d.append(4096 - d.size(), '\0');
        padded.push_back(d);
        streamSectors += (d.size() + 511) / 512;
    }
    const qint64 dirSectors = (static_cast<qint64>(streams.size()) + 1 + 3) / 4;
    qint64 fatSectors = 1;
    while (fatSectors * 128 < fatSectors + dirSectors + streamSectors)
        ++fatSectors;
    if (fatSectors > 109)
        throw std::runtime_error("compound file too large for the test writer");

    std::vector<quint32> fat(static_cast<std::size_t>(fatSectors * 128), kFree);
    quint32 next = 0;
    for (qint64 i = 0; i < fatSectors; ++i)
        fat[next++] = kFatSector;
    const quint32 firstDir = next;
    for (qint64 i = 0; i < dirSectors; ++i, ++next)
        fat[next] = i + 1 < dirSectors ? next + 1 : kEnd;
    std::vector<quint32> starts;
    for (const QByteArray &d : padded) {
        starts.push_back(next);
        const qint64 n = (d.size() + 511) / 512;
        for (qint64 i = 0; i < n; ++i, ++next)
            fat[next] = i + 1 < n ? next + 1 : kEnd;
    }

    QByteArray header(512, '\0');
    header.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    put16(header, 0x18, 0x3E);
    put16(header, 0x1A, 3);
    put16(header, 0x1C, 0xFFFE);
    put16(header, 0x1E, 9);
    put16(header, 0x20, 6);
    put32(header, 0x2C, static_cast<quint32>(fatSectors));
    put32(header, 0x30, firstDir);
    put32(header, 0x38, 4096);
    put32(header, 0x3C, kEnd);
    put32(header, 0x44, kEnd);
    for (int i = 0; i < 109; ++i)
        put32(header, 0x4C + 4 * i, i < fatSectors ? static_cast<quint32>(i) : kFree);

    QByteArray fatBytes(static_cast<qsizetype>(fat.size() * 4), '\0');
    for (std::size_t i = 0; i < fat.size(); ++i)
        put32(fatBytes, static_cast<qsizetype>(i * 4), fat[i]);

    QByteArray dir(dirSectors * 512, '\0');
    auto entry = [&](int index, const QString &name, int type, quint32 start, quint32 size, quint32 right, quint32 child) {
        const qsizetype at = index * 128;
        const QString n = name.left(31);
        for (qsizetype i = 0; i < n.size(); ++i)
            put16(dir, at + 2 * i, n.at(i).unicode());
        put16(dir, at + 0x40, static_cast<quint16>((n.size() + 1) * 2));
        dir[at + 0x42] = static_cast<char>(type);
        dir[at + 0x43] = 1; // black
        put32(dir, at + 0x44, kFree);
        put32(dir, at + 0x48, right);
        put32(dir, at + 0x4C, child);
        put32(dir, at + 0x74, start);
        put32(dir, at + 0x78, size);
    };
    entry(0, QStringLiteral("Root Entry"), 5, kEnd, 0, kFree, streams.empty() ? kFree : 1);
    for (std::size_t i = 0; i < streams.size(); ++i)
        entry(static_cast<int>(i + 1), streams[i].first, 2, starts[i], static_cast<quint32>(padded[i].size()),
              i + 1 < streams.size() ? static_cast<quint32>(i + 2) : kFree, kFree);
    for (qsizetype i = static_cast<qsizetype>(streams.size()) + 1; i < dirSectors * 4; ++i) {
        put32(dir, i * 128 + 0x44, kFree);
        put32(dir, i * 128 + 0x48, kFree);
        put32(dir, i * 128 + 0x4C, kFree);
    }

    QByteArray file = header + fatBytes + dir;
    for (const QByteArray &d : padded) {
        file += d;
        if (d.size() % 512)
            file.append(512 - d.size() % 512, '\0');
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.flush())
        throw std::runtime_error("cannot write the compound file");
    out.close();
}

} // namespace talvesk::test
