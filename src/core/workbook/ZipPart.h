#pragma once

// The zip container of .xlsx and .ods workbooks and the XML parts inside it, shared by their
// readers.
#include "workbook/Workbook.h"
#include "workbook/XmlScanner.h"

#include <memory>

struct zip;
struct zip_file;

namespace talvesk::workbook {

// The zip container, open for reading. Throws platform::Error naming the file when it is not a zip.
class Zip {
public:
    explicit Zip(const QString &path);
    ~Zip();
    Zip(const Zip &) = delete;
    Zip &operator=(const Zip &) = delete;

    // The index of a part by name (case-insensitive), or -1.
    qint64 find(const QString &name) const;
    // The whole content of a small part (at most `maxBytes`; longer is refused); empty when missing.
    QByteArray readSmall(const QString &name, qint64 maxBytes) const;
    struct zip *handle() const { return zip_; }
    const QString &path() const { return path_; }

private:
    QString path_;
    struct zip *zip_ = nullptr;
};

// One part of the zip, open for reading through an XmlScanner; owns its own zip handle so that
// several can be read one after another and a worksheet can start again.
class Part {
public:
    Part(const QString &zipPath, const QString &name, const WorkbookLimits &limits);
    ~Part();
    Part(const Part &) = delete;
    Part &operator=(const Part &) = delete;

    XmlScanner &xml() { return *scanner_; }
    // The part's size once inflated, as the zip declares it; -1 when it does not.
    qint64 declaredSize() const { return declaredSize_; }

private:
    Zip zip_;
    qint64 declaredSize_ = -1;
    struct zip_file *file_ = nullptr;
    std::unique_ptr<XmlScanner> scanner_;
};

bool partExists(const QString &zipPath, const QString &name);

} // namespace talvesk::workbook
