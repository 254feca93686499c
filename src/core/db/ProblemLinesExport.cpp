#include "db/ProblemLinesExport.h"

#include "platform/Files.h"
#include "workbook/XlsxWriter.h"

#include <QStringList>

namespace talvesk::db {

namespace {
const QStringList kHeader = {QStringLiteral("行/列"), QStringLiteral("原因"), QStringLiteral("內容")};

QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}
} // namespace

void saveProblemLinesAsXlsx(const std::vector<ProblemLine> &lines, const QString &path)
{
    workbook::XlsxWriter out(path);
    for (int c = 0; c < kHeader.size(); ++c)
        out.text(0, c, kHeader.at(c));
    qint64 row = 1;
    for (const ProblemLine &line : lines) {
        if (row >= workbook::XlsxWriter::kMaxRows)
            throw platform::Error(platform::errnum::Overflow,
                                  QStringLiteral("問題行超過一張工作表的列數，請改存成 CSV"));
        out.number(row, 0, static_cast<double>(line.number));
        out.text(row, 1, line.reason);
        out.text(row, 2, line.text);
        ++row;
    }
    out.finish();
}

void saveProblemLinesAsCsv(const std::vector<ProblemLine> &lines, const QString &path)
{
    QString text = kHeader.join(u',') + QStringLiteral("\r\n");
    for (const ProblemLine &line : lines)
        text += QString::number(line.number) + u',' + csvField(line.reason) + u',' + csvField(line.text)
                + QStringLiteral("\r\n");
    platform::writeFileAtomically(path, QByteArray("\xEF\xBB\xBF") + text.toUtf8());
}

} // namespace talvesk::db
