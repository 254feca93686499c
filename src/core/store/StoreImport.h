#pragma once

#include "textimport/TextImport.h"

namespace talvesk::store {

// The convenience stores' collection file into SMdata: only lines starting with "2" are records;
// each is inserted, or replaces the row with the same second barcode. Records that cannot be
// decoded or whose amount holds anything but digits and blanks are abnormal and not stored.
class StoreImport : public textimport::TextImport {
public:
    // A dry run (`changes`) reads and matches every record as the import does, stores nothing,
    // and neither removes nor writes ErrLog.txt.
    explicit StoreImport(platform::AppFolder app, db::Changes changes = db::Changes::Keep)
        : app_(std::move(app)), changes_(changes)
    {
    }
    textimport::TextImportCounts run(const QString &path, const textimport::TextImportObserver &observer) override;
    // The ten columns of SMdata under the captions of the store export.
    QStringList shownFields() const override;
    const platform::AppFolder &appFolder() const override { return app_; }
    std::unique_ptr<textimport::TextImport> withChanges(db::Changes changes) const override
    {
        return std::make_unique<StoreImport>(app_, changes);
    }

private:
    platform::AppFolder app_;
    db::Changes changes_;
};

} // namespace talvesk::store
