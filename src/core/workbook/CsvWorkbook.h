#pragma once

#include "workbook/SheetCells.h"
#include "workbook/Workbook.h"

namespace talvesk::workbook {

// A comma-separated file as a workbook of one worksheet named after the file; every field is text.
// The file is UTF-8 when all of it is (with or without a byte-order mark), code page 950
// otherwise. It is read as a stream, twice: opening reads it through once to choose the encoding,
// find the last row that holds a field and refuse what no worksheet could hold (rows past
// 1,048,576, more than 16,384 fields a row, a field past kMaxFieldBytes); the worksheet then
// reads it again row by row. Memory grows with the longest row, never with the file.
class CsvWorkbook : public Workbook {
public:
    // The most bytes one field, and one row with all its fields, may take: those of every reader.
    static constexpr qint64 kMaxFieldBytes = kMaxCellBytes;
    static constexpr qint64 kMaxRowBytes = workbook::kMaxRowBytes;
    // How much of the file is read at a time.
    static constexpr qint64 kReadBytes = qint64(64) << 10;

    // `stopRequested` is asked at each read while the file is read through: true ends it (32755).
    explicit CsvWorkbook(const QString &path, const std::function<bool()> &stopRequested = {});

    QStringList worksheetNames() const override { return {file_.name}; }
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;

    struct File {
        QString path;
        QString name;           // the worksheet's: the file's name without its suffix
        bool utf8 = true;
        qint64 lastUsedRow = 0; // the last row with a field that is not empty; 0 when none is
    };

private:
    File file_;
};

} // namespace talvesk::workbook
