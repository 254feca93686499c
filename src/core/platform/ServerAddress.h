#pragma once

#include <QString>

namespace talvesk::platform::pg {

// Where a libpq connection string (key=value pairs or a postgresql:// URI) leads, read as libpq
// reads it, to tell the clerk which database is in use. Holds no user and no password.
struct ServerAddress {
    QString host;     // host names or socket folders as given (a,b for several); empty: libpq's default
    QString port;     // empty when the string and the environment name none
    QString database; // the database's name; libpq takes the user's name when none is given
    // host/database, host:port/database when a port other than the usual 5432 is named.
    QString text() const;
};

// What `connectionString` names, each part the environment's (PGHOST, PGPORT, PGDATABASE, PGUSER)
// where the string leaves it out, as on connecting. Throws Error when libpq cannot read the string;
// the message never repeats the string, which may hold a password.
ServerAddress serverAddress(const QString &connectionString);

} // namespace talvesk::platform::pg
