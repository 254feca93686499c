#include "platform/Process.h"

#include <QCoreApplication>

#include <sqlite3.h>

#include <csignal>

#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef _WIN32
#include <windows.h>
#endif

namespace talvesk::platform {

void prepareProcess()
{
#ifdef SIGXFSZ
    // Past a file-size limit a write fails like any other and is reported; the signal would end
    // the program with no word of why.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
    // The batch tool writes UTF-8, as on Linux; a console shows it as such rather than as code
    // page 950 (a file or pipe it writes to is not touched by this).
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    // Memory statistics cost a global lock on every allocation; the program never reads them.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
#ifdef __GLIBC__
    // Statements that join through scratch tables free them at the end of every run; glibc would
    // hand the top of the heap back to the system each time and fault it in again at the next
    // (most of the time of a bank file that matches nothing). Up to 16 MB of freed memory is kept,
    // and blocks under 4 MB come from the heap: fixing one threshold stops glibc from raising the
    // other by itself, which left every block over 128 KB mapped and unmapped anew.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
}

QString programBeside(const QString &name)
{
#ifdef _WIN32
    return QCoreApplication::applicationDirPath() + u'/' + name + QStringLiteral(".exe");
#else
    return QCoreApplication::applicationDirPath() + u'/' + name;
#endif
}

} // namespace talvesk::platform
