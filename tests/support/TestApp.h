#pragma once

#include "platform/AppFolder.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>
#include <QTemporaryDir>

namespace talvesk::test {

// A throw-away application folder: ldb/Vellaroke.mdb made from the schema, Env/IdPass6.ini for
// ADMIN / 1234. Removed with the object.
class TestApp {
public:
    enum Contents { Everything, NoDatabase, Empty };
    explicit TestApp(Contents contents = Everything);

    const platform::AppFolder &folder() const { return folder_; }
    QString path(const QString &relative) const;

private:
    QTemporaryDir dir_;
    platform::AppFolder folder_;
};

QByteArray readFile(const QString &path);
// Whether the file has the permission bits `mode` (0600, 0444...). On Windows, which keeps only
// whether a file is read-only, that is what is compared: the owner's write bit.
::testing::AssertionResult hasMode(const QString &path, unsigned mode);
void writeFile(const QString &path, const QByteArray &content);
QString schemaSql();

} // namespace talvesk::test
