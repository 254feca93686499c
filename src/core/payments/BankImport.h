#pragma once

#include "payments/PaymentWriter.h"
#include "textimport/TextImport.h"

namespace talvesk::payments {

// The bank's credited-payment text file: every line a record; date at 12-18, amount at 23-33,
// virtual account at 48-72. A known account gets the date, the amount and the outstanding amount.
// Lines that cannot be decoded or whose amount holds anything but digits and blanks are abnormal
// and not applied; records of unknown accounts are reported as unmatched. Blank lines stay silent.
class BankImport : public textimport::TextImport {
public:
    // A dry run (`changes`) reads and matches every record as the import does, stores nothing,
    // and neither removes nor writes ErrLog.txt.
    explicit BankImport(platform::AppFolder app, db::Changes changes = db::Changes::Keep)
        : app_(std::move(app)), changes_(changes)
    {
    }
    textimport::TextImportCounts run(const QString &path, const textimport::TextImportObserver &observer) override;
    QStringList shownFields() const override { return paymentFields(); }
    const platform::AppFolder &appFolder() const override { return app_; }
    std::unique_ptr<textimport::TextImport> withChanges(db::Changes changes) const override
    {
        return std::make_unique<BankImport>(app_, changes);
    }

private:
    platform::AppFolder app_;
    db::Changes changes_;
};

} // namespace talvesk::payments
