#pragma once

#include "platform/AppFolder.h"
#include "workbookimport/WorkbookImport.h"

namespace talvesk::receivables {

// Receivables from a workbook into F_AccountData, by the mapping in ImportSetting: a new virtual
// account is inserted, a known one gets its name, number, note and amount replaced while its
// payment columns stay.
class ReceivablesImport : public workbookimport::WorkbookImport {
public:
    // A dry run (`changes`) reads and matches every row as the import does and stores nothing.
    explicit ReceivablesImport(platform::AppFolder app, db::Changes changes = db::Changes::Keep)
        : app_(std::move(app)), changes_(changes)
    {
    }
    workbookimport::ImportCounts run(const QString &workbookPath, const QString &sheetName,
                                     const workbookimport::ImportObserver &observer) override;
    // The five mapped fields, in the mapping's order.
    QStringList shownFields() const override;
    const platform::AppFolder &appFolder() const override { return app_; }
    std::unique_ptr<workbookimport::WorkbookImport> withChanges(db::Changes changes) const override
    {
        return std::make_unique<ReceivablesImport>(app_, changes);
    }

private:
    platform::AppFolder app_;
    db::Changes changes_;
};

} // namespace talvesk::receivables
