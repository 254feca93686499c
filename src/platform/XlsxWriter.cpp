#include "platform/XlsxWriter.h"

#include "platform/Error.h"
#include "platform/Files.h"

#include <QFile>

#include <xlsxwriter.h>

namespace talvesk::platform {

XlsxWriter::XlsxWriter(QString path) : path_(std::move(path)), scratch_(path_ + QStringLiteral(".partial"))
{
    removeFileIfExists(scratch_);
    // The workbook is written out only at the end; make sure now that it can be.
    writeFileAtomically(scratch_, QByteArray());
    removeFileIfExists(scratch_);
    lxw_workbook_options options{};
    // Rows go straight to a temporary file: memory stays flat however long the table is.
    options.constant_memory = LXW_TRUE;
    workbook_ = workbook_new_opt(QFile::encodeName(scratch_).constData(), &options);
    if (!workbook_)
        throw Error(errnum::PathFileAccess, QStringLiteral("無法建立活頁簿 ") + path_);
    sheet_ = workbook_add_worksheet(workbook_, nullptr);
    if (!sheet_)
        throw Error(errnum::PathFileAccess, QStringLiteral("無法建立工作表 ") + path_);
}

XlsxWriter::~XlsxWriter()
{
    if (workbook_) {
        // Closing writes the scratch file; it is not wanted.
        workbook_close(workbook_);
        QFile::remove(scratch_);
    }
}

void XlsxWriter::check(int error, const char *what) const
{
    if (error != LXW_NO_ERROR)
        throw Error(errnum::PathFileAccess, QString::fromLatin1(what) + QStringLiteral(": ")
                                                + QString::fromLatin1(lxw_strerror(static_cast<lxw_error>(error))));
}

void XlsxWriter::text(qint64 row, int column, const QString &value)
{
    if (row >= kMaxRows)
        throw Error(errnum::Overflow, QStringLiteral("Overflow"));
    check(worksheet_write_string(sheet_, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column),
                                 value.toUtf8().constData(), nullptr),
          "write");
}

void XlsxWriter::number(qint64 row, int column, double value)
{
    if (row >= kMaxRows)
        throw Error(errnum::Overflow, QStringLiteral("Overflow"));
    check(worksheet_write_number(sheet_, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column), value, nullptr),
          "write");
}

void XlsxWriter::finish()
{
    lxw_workbook *workbook = workbook_;
    workbook_ = nullptr;
    const lxw_error error = workbook_close(workbook);
    if (error != LXW_NO_ERROR) {
        QFile::remove(scratch_);
        throw Error(errnum::PathFileAccess, QStringLiteral("無法寫入活頁簿 ") + path_ + QStringLiteral(": ")
                                                + QString::fromLatin1(lxw_strerror(error)));
    }
    try {
        syncFile(scratch_);
        replaceFile(scratch_, path_);
    } catch (const Error &) {
        QFile::remove(scratch_);
        throw;
    }
}

} // namespace talvesk::platform
