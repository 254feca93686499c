#pragma once

#include "workbook/Workbook.h"

namespace talvesk::workbook {

// OpenDocument spreadsheets (.ods): content.xml streamed through the zip and XML scanner the
// .xlsx reader uses.
class OdsWorkbook : public Workbook {
public:
    OdsWorkbook(const QString &path, const WorkbookLimits &limits);
    ~OdsWorkbook() override;

    // Whether a zip's mimetype names an OpenDocument spreadsheet; false for anything else,
    // a file that is not a zip included.
    static bool isOds(const QString &path);

    QStringList worksheetNames() const override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;

private:
    QString path_;
    WorkbookLimits limits_;
    QStringList sheets_;
};

} // namespace talvesk::workbook
