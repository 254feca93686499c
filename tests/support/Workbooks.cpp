#include "support/Workbooks.h"

#include <QFile>

#include <xlsxwriter.h>
#include <zip.h>

#include <stdexcept>

namespace talvesk::test {

void writeXlsx(const QString &path, const QString &sheet, const Rows &rows, int firstRow, bool constantMemory)
{
    lxw_workbook_options options{};
    options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
    lxw_workbook *wb = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    lxw_worksheet *ws = workbook_add_worksheet(wb, sheet.toUtf8().constData());
    lxw_format *date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy/mm/dd");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto row = static_cast<lxw_row_t>(firstRow - 1 + static_cast<int>(r));
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const auto col = static_cast<lxw_col_t>(c);
            const Cell &cell = rows[r][c];
            if (const auto *text = std::get_if<QString>(&cell)) {
                worksheet_write_string(ws, row, col, text->toUtf8().constData(), nullptr);
            } else if (const auto *number = std::get_if<double>(&cell)) {
                worksheet_write_number(ws, row, col, *number, nullptr);
            } else if (const auto *d = std::get_if<Date>(&cell)) {
                lxw_datetime dt{d->year, d->month, d->day, 0, 0, 0};
                worksheet_write_datetime(ws, row, col, &dt, date);
            } else if (const auto *f = std::get_if<Formula>(&cell)) {
                worksheet_write_formula_num(ws, row, col, f->formula.toUtf8().constData(), nullptr, f->cached);
            }
        }
    }
    if (workbook_close(wb) != LXW_NO_ERROR)
        throw std::runtime_error("cannot write workbook");
}

void writeZip(const QString &path, const std::map<QString, QByteArray> &parts)
{
    int error = 0;
    zip_t *zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        throw std::runtime_error("cannot create zip");
    for (const auto &[name, content] : parts) {
        // libzip reads the buffers when the archive is closed, so they must outlive this loop.
        zip_source_t *source = zip_source_buffer(zip, content.constData(), static_cast<zip_uint64_t>(content.size()), 0);
        if (!source || zip_file_add(zip, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            zip_discard(zip);
            throw std::runtime_error("cannot add zip part");
        }
    }
    if (zip_close(zip) != 0) {
        zip_discard(zip);
        throw std::runtime_error("cannot write zip");
    }
}

std::map<QString, QByteArray> minimalXlsxParts(const QByteArray &sheetBody, const QByteArray &sharedStrings,
                                               const QByteArray &styles, const QByteArray &workbookPr)
{
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const QByteArray relNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::map<QString, QByteArray> parts;
    parts[QStringLiteral("[Content_Types].xml")] =
        "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";
    parts[QStringLiteral("_rels/.rels")] =
        "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" + relNs + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    QByteArray rels = "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                      "<Relationship Id=\"rId1\" Type=\"" + relNs + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>";
    if (!sharedStrings.isEmpty()) {
        rels += "<Relationship Id=\"rId2\" Type=\"" + relNs + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
        parts[QStringLiteral("xl/sharedStrings.xml")] = "<?xml version=\"1.0\"?><sst " + ns + ">" + sharedStrings + "</sst>";
    }
    if (!styles.isEmpty()) {
        rels += "<Relationship Id=\"rId3\" Type=\"" + relNs + "/styles\" Target=\"styles.xml\"/>";
        parts[QStringLiteral("xl/styles.xml")] = "<?xml version=\"1.0\"?><styleSheet " + ns + ">" + styles + "</styleSheet>";
    }
    rels += "</Relationships>";
    parts[QStringLiteral("xl/_rels/workbook.xml.rels")] = rels;
    parts[QStringLiteral("xl/workbook.xml")] = "<?xml version=\"1.0\"?><workbook " + ns + ">" + workbookPr
        + "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    parts[QStringLiteral("xl/worksheets/sheet1.xml")] = "<?xml version=\"1.0\"?><worksheet " + ns + ">" + sheetBody + "</worksheet>";
    return parts;
}

} // namespace talvesk::test
