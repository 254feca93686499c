#pragma once

#include <QString>

struct lxw_workbook;
struct lxw_worksheet;

namespace talvesk::platform {

// A new one-sheet .xlsx. The file is written under a scratch name beside `path` and takes its
// final name only when it is complete, so no half-written workbook is ever left under that name.
class XlsxWriter {
public:
    static constexpr qint64 kMaxRows = 1048576;

    explicit XlsxWriter(QString path); // throws Error
    XlsxWriter(const XlsxWriter &) = delete;
    XlsxWriter &operator=(const XlsxWriter &) = delete;
    ~XlsxWriter(); // an unfinished workbook is thrown away

    // Rows and columns count from 0. Throws Error.
    void text(qint64 row, int column, const QString &value);
    void number(qint64 row, int column, double value);
    // Completes the file and gives it its name. Throws Error.
    void finish();

private:
    void check(int error, const char *what) const;

    QString path_;
    QString scratch_;
    lxw_workbook *workbook_ = nullptr;
    lxw_worksheet *sheet_ = nullptr;
};

} // namespace talvesk::platform
