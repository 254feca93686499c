#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace talvesk::test {

// Writes a compound file (OLE2, 512-byte sectors) whose root storage holds the given streams; each
// is padded to 4096 bytes so that none lives in the mini stream. For .xls files made by hand.
void writeCompoundFile(const QString &path, const std::vector<std::pair<QString, QByteArray>> &streams);

// One BIFF record: its id, length and data.
QByteArray biffRecord(quint16 id, const QByteArray &data);

} // namespace talvesk::test
