#pragma once

#include "platform/AppFolder.h"
#include "payments/PaymentWriter.h"
#include "workbookimport/WorkbookImport.h"

namespace talvesk::payments {

// Credited payments from a workbook, by the mapping in ImportSetting1: for each row whose virtual
// account is known, the date credited, the amount credited and the amount still outstanding are
// written to that account's receivables. Rows of unknown accounts are left alone and counted as
// not processed. No receivable is ever created.
class PaymentsImport : public workbookimport::WorkbookImport {
public:
    // A dry run (`changes`) reads and matches every row as the import does and stores nothing.
    explicit PaymentsImport(platform::AppFolder app, db::Changes changes = db::Changes::Keep)
        : app_(std::move(app)), changes_(changes)
    {
    }
    workbookimport::ImportCounts run(const QString &workbookPath, const QString &sheetName,
                                  const workbookimport::ImportObserver &observer) override;
    // The account, and the date, amount and outstanding amount written to it.
    QStringList shownFields() const override { return paymentFields(); }
    const platform::AppFolder &appFolder() const override { return app_; }
    std::unique_ptr<workbookimport::WorkbookImport> withChanges(db::Changes changes) const override
    {
        return std::make_unique<PaymentsImport>(app_, changes);
    }

private:
    platform::AppFolder app_;
    db::Changes changes_;
};

} // namespace talvesk::payments
