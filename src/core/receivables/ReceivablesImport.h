#pragma once

#include "platform/AppFolder.h"
#include "workbookimport/WorkbookImport.h"

namespace talvesk::receivables {

// Receivables from a workbook into F_AccountData, by the mapping in ImportSetting: a new virtual
// account is inserted, a known one gets its name, number, note and amount replaced while its
// payment columns stay.
class ReceivablesImport : public workbookimport::WorkbookImport {
public:
    explicit ReceivablesImport(platform::AppFolder app) : app_(std::move(app)) {}
    workbookimport::ImportCounts run(const QString &workbookPath, const QString &sheetName,
                                     const workbookimport::ImportObserver &observer) override;

private:
    platform::AppFolder app_;
};

} // namespace talvesk::receivables
