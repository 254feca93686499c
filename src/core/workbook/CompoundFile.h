#pragma once

// A reader of the compound file (OLE2 structured storage) that holds .xls workbooks: the streams
// of its root storage, read through the sector chains without loading the file.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace talvesk::workbook {

class CompoundStream;

class CompoundFile {
public:
    // Reads the header, the sector allocation table and the directory. Throws platform::Error naming the
    // file when it is not a compound file or its structure is broken.
    explicit CompoundFile(const QString &path);
    ~CompoundFile();
    CompoundFile(const CompoundFile &) = delete;
    CompoundFile &operator=(const CompoundFile &) = delete;

    // Whether the file starts with the compound file's signature.
    static bool hasSignature(const QByteArray &head);

    // Whether the root storage holds a stream of this name (case-insensitive).
    bool hasStream(const QString &name) const;
    // A stream of the root storage, open for reading on a file handle of its own; throws Error
    // when there is none.
    std::unique_ptr<CompoundStream> openStream(const QString &name) const;

    const QString &path() const { return path_; }

private:
    friend class CompoundStream;
    struct Entry {
        QString name;
        std::uint32_t start = 0;
        qint64 size = 0;
    };
    [[noreturn]] void broken() const;
    std::vector<std::uint32_t> chain(std::uint32_t start, const std::vector<std::uint32_t> &table) const;
    QByteArray readSector(QFile &file, std::uint32_t sector) const;
    const Entry *find(const QString &name) const;

    QString path_;
    int sectorShift_ = 9;
    qint64 sectorCount_ = 0; // sectors the file holds after its header
    std::uint32_t miniCutoff_ = 4096;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    Entry root_;
    std::vector<Entry> streams_; // the root storage's streams
};

// One stream: sequential reading with seeking, bounded by the stream's declared size.
class CompoundStream {
public:
    CompoundStream(const CompoundFile &file, const CompoundFile::Entry &entry);
    qint64 size() const { return size_; }
    qint64 pos() const { return pos_; }
    // False when `pos` is past the end.
    bool seek(qint64 pos);
    // Reads up to `size` bytes; fewer only at the end of the stream. Throws platform::Error when the file
    // ends before the stream does.
    qint64 read(char *data, qint64 size);

private:
    const CompoundFile &owner_;
    QFile file_;
    qint64 size_ = 0;
    qint64 pos_ = 0;
    int shift_ = 9;
    std::vector<std::uint32_t> sectors_; // regular sectors, or mini sectors when small
    QByteArray small_;                   // a stream below the cutoff, read whole from the mini stream
    bool isSmall_ = false;
};

} // namespace talvesk::workbook
