// The daily report into a PDF file, for talvesk-batch report: the one command that paints, kept
// in a program of its own so that the batch tool starts without QtGui.
//   talvesk-report APPDIR OUT.pdf yyyy-MM-dd
#include "platform/AppFolder.h"
#include "platform/Error.h"
#include "platform/Process.h"
#include "report/DailyReport.h"

#include <QDate>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    talvesk::platform::prepareProcess();
    // A scheduled job has no display: the pages are painted offscreen, with QtGui's fonts.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QDate date = QDate::fromString(args.value(2), QStringLiteral("yyyy-MM-dd"));
    if (args.size() != 3 || !date.isValid()) {
        err << "usage: talvesk-report APPDIR OUT.pdf yyyy-MM-dd (run by talvesk-batch report)" << Qt::endl;
        return 2;
    }
    const talvesk::platform::AppFolder folder(args.at(0));
    const QString pdf = args.at(1);
    try {
        const int pages = talvesk::report::writeDailyReportPdf(talvesk::report::readDailyReport(folder, date), pdf);
        err << QStringLiteral("日報表存檔完畢") << Qt::endl;
        out << "report: " << args.at(2) << ", " << pages << " pages to " << pdf << Qt::endl;
        return 0;
    } catch (const talvesk::platform::Error &error) {
        err << talvesk::platform::errorText(error) << Qt::endl;
        out << "report: failed, nothing written" << Qt::endl;
        return 1;
    }
}
