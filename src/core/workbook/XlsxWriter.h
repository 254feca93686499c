#pragma once

#include <QByteArray>
#include <QString>

struct lxw_workbook;
struct lxw_worksheet;

namespace talvesk::workbook {

// A new one-sheet .xlsx. The file is written under a scratch name beside `path` and takes its
// final name only when it is complete, so no half-written workbook is ever left under that name
// and a file already there stays as it was on any failure (and keeps its permission bits when it
// is replaced). The rows wait in scratch files in `scratchFolder` (the target's own folder unless
// given), whose every write is checked: a full disk fails the workbook, never shortens it.
class XlsxWriter {
public:
    static constexpr qint64 kMaxRows = 1048576;

    // The worksheet is named `sheetName` (none: the library's "Sheet1"). Throws Error.
    explicit XlsxWriter(QString path, const QString &scratchFolder = QString(), const QString &sheetName = QString());
    XlsxWriter(const XlsxWriter &) = delete;
    XlsxWriter &operator=(const XlsxWriter &) = delete;
    ~XlsxWriter(); // an unfinished workbook is thrown away

    // The most characters a cell holds.
    static constexpr qsizetype kMaxCellCharacters = 32767;

    // Rows and columns count from 0. A text longer than a cell holds is cut to fit; returns whether
    // it was. Throws Error.
    bool text(qint64 row, int column, const QString &value);
    void number(qint64 row, int column, double value);
    // Completes the file and gives it its name. Throws Error.
    void finish();

private:
    void check(int error, const char *what) const;
    // Throws when a write to the rows' scratch file has failed since the last look.
    void checkScratch() const;

    QString path_;
    QString scratch_;
    QString scratchFolder_;
    QByteArray scratchFolderName_; // handed to the library, which keeps the pointer
    lxw_workbook *workbook_ = nullptr;
    lxw_worksheet *sheet_ = nullptr;
};

} // namespace talvesk::workbook
