#include "workbook/ZipPart.h"

#include "workbook/SheetCells.h"

#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

#include <zip.h>

namespace talvesk::workbook {

Zip::Zip(const QString &path) : path_(path)
{
    int error = 0;
    zip_ = zip_open(platform::libraryPath(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!zip_)
        unreadable(path, QStringLiteral("不是 Excel 活頁簿檔案，或檔案已損壞"));
}

Zip::~Zip()
{
    zip_discard(zip_);
}

qint64 Zip::find(const QString &name) const
{
    return zip_name_locate(zip_, name.toUtf8().constData(), ZIP_FL_NOCASE | ZIP_FL_ENC_GUESS);
}

QByteArray Zip::readSmall(const QString &name, qint64 maxBytes) const
{
    const qint64 index = find(name);
    if (index < 0)
        return {};
    zip_file_t *file = zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0);
    if (!file)
        unreadable(path_, QStringLiteral("無法解壓縮 ") + name);
    QByteArray out;
    char buffer[4096];
    for (;;) {
        const zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
        if (n < 0) {
            zip_fclose(file);
            unreadable(path_, QStringLiteral("無法解壓縮 ") + name);
        }
        if (n == 0)
            break;
        if (out.size() + n > maxBytes) {
            zip_fclose(file);
            unreadable(path_, name + QStringLiteral(" 過大"));
        }
        out.append(buffer, static_cast<qsizetype>(n));
    }
    zip_fclose(file);
    return out;
}

Part::Part(const QString &zipPath, const QString &name, const WorkbookLimits &limits) : zip_(zipPath)
{
    const qint64 index = zip_.find(name);
    if (index < 0)
        unreadable(zipPath, QStringLiteral("缺少 ") + name);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(zip_.handle(), static_cast<zip_uint64_t>(index), 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE)) {
        if (static_cast<qint64>(stat.size) > limits.maxPartBytes)
            unreadable(zipPath, name + QStringLiteral(" 過大"));
        declaredSize_ = static_cast<qint64>(stat.size);
    }
    file_ = zip_fopen_index(zip_.handle(), static_cast<zip_uint64_t>(index), 0);
    if (!file_)
        unreadable(zipPath, QStringLiteral("無法解壓縮 ") + name);
    scanner_ = std::make_unique<XmlScanner>(
        [this](char *data, qint64 size) -> qint64 { return zip_fread(file_, data, static_cast<zip_uint64_t>(size)); },
        limits.maxPartBytes, zipPath, name);
}

Part::~Part()
{
    if (file_)
        zip_fclose(file_);
}

bool partExists(const QString &zipPath, const QString &name)
{
    return Zip(zipPath).find(name) >= 0;
}

} // namespace talvesk::workbook
