#include "workbookimport/WorkbookImport.h"

#include "platform/Error.h"

#include <algorithm>

namespace talvesk::workbookimport {

SheetToImport openSheetToImport(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer)
{
    SheetToImport opened;
    workbook::WorkbookLimits limits;
    limits.stopRequested = observer.stopRequested;
    opened.book = workbook::Workbook::open(workbookPath, limits);
    opened.sheet = opened.book->worksheet(sheetName);
    if (observer.started)
        observer.started(opened.sheet->lastUsedRow());
    return opened;
}

void requireMappedAccount(const QString &accountColumn, const QString &accountCaption)
{
    if (accountColumn.trimmed().isEmpty())
        throw platform::Error(platform::errnum::ObjectInvalid,
                              QStringLiteral("尚未設定「") + accountCaption
                                  + QStringLiteral("」的欄位對應，請先按「設定EXCEL欄位對應」設定欄位對應，再讀入檔案。"));
}

QString ImportCounts::summary() const
{
    return QStringLiteral("%1 written, %2 not processed").arg(written).arg(notProcessed);
}

QString rowText(const QStringList &cells)
{
    return cells.join(QStringLiteral(" | "));
}

void ImportCounts::refuse(qint64 row, const QString &reason)
{
    ++notProcessed;
    if (problems.size() < kMaxProblems)
        problems << QStringLiteral("第 %1 列：").arg(row) + reason;
}

QString Headings::of(QStringView letters) const
{
    const int column = workbook::columnIndex(letters);
    return column < 0 ? QString() : byColumn_.value(column);
}

Headings Headings::read(const QString &workbookPath, const QString &sheetName)
{
    std::unique_ptr<workbook::Workbook> book = workbook::Workbook::open(workbookPath);
    std::unique_ptr<workbook::Worksheet> sheet = book->worksheet(sheetName);
    QStringList texts;
    int last = -1;
    for (int column = 0; column < kMaxHeadingColumns; ++column) {
        const workbook::CellValue cell = sheet->cell(1, workbook::columnLetters(column));
        QString text;
        switch (cell.kind) {
        case workbook::CellValue::Kind::Empty:
            break;
        case workbook::CellValue::Kind::Text:
        case workbook::CellValue::Kind::Error:
            text = cell.text.trimmed();
            break;
        case workbook::CellValue::Kind::Number:
        case workbook::CellValue::Kind::Boolean:
            text = workbook::numberText(cell.number);
            break;
        case workbook::CellValue::Kind::DateTime:
            text = workbook::dateTimeText(cell.number);
            break;
        }
        if (!text.isEmpty())
            last = column;
        texts << text;
    }
    Headings headings(texts.mid(0, last + 1));
    headings.known_ = true;
    return headings;
}

bool holdsNul(const QStringList &texts)
{
    return std::any_of(texts.begin(), texts.end(), [](const QString &t) { return t.contains(QChar(u'\0')); });
}

namespace {
// Thrown by the preview's observer once it has its rows: it ends the dry run, which rolls back.
struct PreviewFull {};
} // namespace

Preview previewRows(const WorkbookImport &import, const QString &workbookPath, const QString &sheetName, int max)
{
    Preview preview{import.shownFields(), {}};
    ImportObserver observer;
    observer.rowShown = [&](const db::ShownRow &row) {
        preview.rows.push_back(row);
        if (static_cast<int>(preview.rows.size()) >= max)
            throw PreviewFull();
    };
    try {
        import.withChanges(db::Changes::FirstRows)->run(workbookPath, sheetName, observer);
    } catch (const PreviewFull &) {
    }
    return preview;
}

bool allEmpty(const QStringList &texts)
{
    return std::all_of(texts.begin(), texts.end(), [](const QString &t) { return t.isEmpty(); });
}

} // namespace talvesk::workbookimport
