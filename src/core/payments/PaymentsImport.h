#pragma once

#include "platform/AppFolder.h"
#include "workbookimport/WorkbookImport.h"

namespace talvesk::payments {

// Credited payments from a workbook, by the mapping in ImportSetting1: for each row whose virtual
// account is known, the date credited, the amount credited and the amount still outstanding are
// written to that account's receivables. Rows of unknown accounts are left alone and counted as
// not processed. No receivable is ever created.
class PaymentsImport : public workbookimport::WorkbookImport {
public:
    explicit PaymentsImport(platform::AppFolder app) : app_(std::move(app)) {}
    workbookimport::ImportCounts run(const QString &workbookPath, const QString &sheetName,
                                  const workbookimport::ImportObserver &observer) override;

private:
    platform::AppFolder app_;
};

} // namespace talvesk::payments
