#pragma once

#include "platform/AppFolder.h"

#include <QByteArray>
#include <QString>
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
void writeFile(const QString &path, const QByteArray &content);
QString schemaSql();

} // namespace talvesk::test
