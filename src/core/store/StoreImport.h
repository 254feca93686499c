#pragma once

#include "textimport/TextImport.h"

namespace talvesk::store {

// The convenience stores' collection file into SMdata: only lines starting with "2" are records;
// each is inserted, or replaces the row with the same second barcode. Records that cannot be
// decoded or whose amount holds anything but digits and blanks are abnormal and not stored.
class StoreImport : public textimport::TextImport {
public:
    explicit StoreImport(platform::AppFolder app) : app_(std::move(app)) {}
    textimport::TextImportCounts run(const QString &path, const textimport::TextImportObserver &observer) override;

private:
    platform::AppFolder app_;
};

} // namespace talvesk::store
