#pragma once

#include "workbook/Workbook.h"

#include <vector>

namespace talvesk::workbook {

// .xls workbooks: BIFF8 (Excel 97 to 2003) and BIFF5 (Excel 5.0 / 95) inside a compound file,
// streamed record by record.
class XlsWorkbook : public Workbook {
public:
    XlsWorkbook(const QString &path, const WorkbookLimits &limits);
    ~XlsWorkbook() override;

    QStringList worksheetNames() const override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;

private:
    struct Sheet {
        QString name;
        qint64 offset; // of the worksheet's BOF record in the workbook stream
    };
    std::vector<Sheet> sheets_;
    std::shared_ptr<const void> shared_;
};

} // namespace talvesk::workbook
