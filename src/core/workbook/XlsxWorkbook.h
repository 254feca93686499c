#pragma once

#include "workbook/Workbook.h"

#include <vector>

namespace talvesk::workbook {

class XlsxWorkbook : public Workbook {
public:
    XlsxWorkbook(const QString &path, const WorkbookLimits &limits);
    ~XlsxWorkbook() override;

    QStringList worksheetNames() const override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;

private:
    struct Sheet {
        QString name;
        QString part;
    };
    std::vector<Sheet> sheets_;
    std::shared_ptr<const void> shared_;
};

} // namespace talvesk::workbook
