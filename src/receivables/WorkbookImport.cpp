#include "receivables/WorkbookImport.h"

namespace talvesk::receivables {

SheetToImport openSheetToImport(const QString &workbookPath, const QString &sheetName, const ImportObserver &observer)
{
    SheetToImport opened;
    opened.book = platform::Workbook::open(workbookPath);
    opened.sheet = opened.book->worksheet(sheetName);
    opened.usedRows = opened.sheet->usedRowCount();
    if (observer.started)
        observer.started(opened.usedRows);
    return opened;
}

} // namespace talvesk::receivables
