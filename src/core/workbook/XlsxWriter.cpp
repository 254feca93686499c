#include "workbook/XlsxWriter.h"

#include "platform/Error.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace talvesk::workbook {

namespace {
const QString kTooManyRows = QStringLiteral("溢位：超過工作表 1048576 列的上限");
} // namespace

XlsxWriter::XlsxWriter(QString path, const QString &scratchFolder, const QString &sheetName)
    : path_(std::move(path)), scratch_(path_ + QStringLiteral(".partial")),
      scratchFolder_(scratchFolder.isEmpty() ? QFileInfo(path_).absolutePath() : scratchFolder),
      scratchFolderName_(QFile::encodeName(scratchFolder_))
{
    platform::removeFileIfExists(scratch_);
    // The workbook is written out only at the end; make sure now that it can be.
    platform::writeFileAtomically(scratch_, QByteArray());
    platform::removeFileIfExists(scratch_);
    lxw_workbook_options options{};
    // Rows go straight to a temporary file: memory stays flat however long the table is.
    options.constant_memory = LXW_TRUE;
    // Not the system's temporary folder: a small or full /tmp would cut the rows short, and the
    // target's folder is the one whose free space the operator chose.
    // (Its scratch files are opened with the system's 8-bit names even on Windows, where the
    // workbook's own name is UTF-8.)
    options.tmpdir = scratchFolderName_.data();
    workbook_ = workbook_new_opt(platform::libraryPath(scratch_).constData(), &options);
    if (!workbook_)
        throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法建立活頁簿 ") + path_);
    const QByteArray name = sheetName.toUtf8();
    sheet_ = workbook_add_worksheet(workbook_, name.isEmpty() ? nullptr : name.constData());
    if (!sheet_) {
        // Most often the scratch folder refused the rows' file; the empty workbook goes too.
        workbook_close(std::exchange(workbook_, nullptr));
        QFile::remove(scratch_);
        throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法建立工作表 ") + path_
                                                + QStringLiteral(" (暫存資料夾 ") + scratchFolder_ + u')');
    }
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
        throw platform::Error(platform::errnum::PathFileAccess, QString::fromLatin1(what) + QStringLiteral(": ")
                                                + QString::fromLatin1(lxw_strerror(static_cast<lxw_error>(error))));
}

namespace {

platform::Error scratchFailure(int cause, const QString &folder, const QString &path)
{
    const platform::Error reason = platform::fileError(cause ? cause : EIO, folder);
    return platform::Error(reason.number(), QStringLiteral("暫存檔寫入失敗,活頁簿未完成 ") + path + QStringLiteral(": ")
                                      + reason.description());
}

} // namespace

void XlsxWriter::checkScratch() const
{
    // The library writes each finished row to its scratch file without looking at the result;
    // the stream remembers a failed write until it is rewound at the close.
    FILE *rows = sheet_->optimize_tmpfile;
    if (rows && std::ferror(rows))
        throw scratchFailure(errno, scratchFolder_, path_);
}

bool XlsxWriter::text(qint64 row, int column, const QString &value)
{
    if (row >= kMaxRows)
        throw platform::Error(platform::errnum::Overflow, kTooManyRows);
    QByteArray utf8 = value.toUtf8();
    // A cell holds 32,767 characters (code points): a longer value is cut rather than failing the
    // whole export.
    bool cut = false;
    if (value.size() > kMaxCellCharacters) {
        qsizetype characters = 0, at = 0;
        for (; at < utf8.size(); ++at) {
            if ((static_cast<unsigned char>(utf8.at(at)) & 0xC0) != 0x80 && characters++ == kMaxCellCharacters)
                break;
        }
        cut = at < utf8.size();
        utf8.truncate(at);
    }
    check(worksheet_write_string(sheet_, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column),
                                 utf8.constData(), nullptr),
          "write");
    checkScratch();
    return cut;
}

void XlsxWriter::number(qint64 row, int column, double value)
{
    if (row >= kMaxRows)
        throw platform::Error(platform::errnum::Overflow, kTooManyRows);
    check(worksheet_write_number(sheet_, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column), value, nullptr),
          "write");
    checkScratch();
}

void XlsxWriter::finish()
{
    // The last row is still in memory: write it out and push the stream to the disk now, while a
    // failure can still be seen (the close rewinds the stream, which forgets it).
    lxw_worksheet_write_single_row(sheet_);
    checkScratch();
    if (FILE *rows = sheet_->optimize_tmpfile; rows && std::fflush(rows) != 0)
        throw scratchFailure(errno, scratchFolder_, path_);
    lxw_workbook *workbook = workbook_;
    workbook_ = nullptr;
    const lxw_error error = workbook_close(workbook);
    if (error != LXW_NO_ERROR) {
        QFile::remove(scratch_);
        throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法寫入活頁簿 ") + path_ + QStringLiteral(": ")
                                                + QString::fromLatin1(lxw_strerror(error)));
    }
    try {
        platform::syncFile(scratch_);
        if (platform::fileExists(path_))
            platform::copyPermissions(path_, scratch_);
        platform::replaceFile(scratch_, path_);
    } catch (const platform::Error &) {
        QFile::remove(scratch_);
        throw;
    }
}

} // namespace talvesk::workbook
