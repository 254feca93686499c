#pragma once

#include "platform/Workbook.h"

#include <QString>

#include <functional>
#include <memory>

namespace talvesk::receivables {

struct ImportCounts {
    qint64 written = 0;      // rows inserted or updated
    qint64 notProcessed = 0; // rows left alone (no matching receivable)
};

// What an import reports while it runs: the used range once, then every row.
struct ImportObserver {
    std::function<void(qint64 usedRows)> started;
    std::function<void(qint64 row, const ImportCounts &counts)> rowDone;
};

// The worksheet an import reads, open, with its used range counted and reported to the observer.
struct SheetToImport {
    std::unique_ptr<platform::Workbook> book;
    std::unique_ptr<platform::Worksheet> sheet;
    qint64 usedRows = 0;
};
SheetToImport openSheetToImport(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer);

// An import of one worksheet of a workbook, rows 2 to the used range's row count. Throws
// platform::Error on the first failure; the rows before it stay written.
class WorkbookImport {
public:
    virtual ~WorkbookImport() = default;
    virtual ImportCounts run(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer) = 0;
};

} // namespace talvesk::receivables
