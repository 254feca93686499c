#include "workbook/CompoundFile.h"

#include "workbook/SheetCells.h"

#include <QtEndian>

#include <cstring>
#include <set>

namespace talvesk::workbook {

namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr char kSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

std::uint32_t u32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
std::uint16_t u16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

} // namespace

bool CompoundFile::hasSignature(const QByteArray &head)
{
    return head.startsWith(QByteArray(kSignature, 8));
}

void CompoundFile::broken() const
{
    unreadable(path_, QStringLiteral("複合文件（OLE2）結構損毀"));
}

QByteArray CompoundFile::readSector(QFile &file, std::uint32_t sector) const
{
    if (static_cast<qint64>(sector) >= sectorCount_)
        broken();
    const qint64 size = qint64(1) << sectorShift_;
    if (!file.seek((static_cast<qint64>(sector) + 1) << sectorShift_))
        broken();
    QByteArray data = file.read(size);
    if (data.size() != size)
        broken();
    return data;
}

std::vector<std::uint32_t> CompoundFile::chain(std::uint32_t start, const std::vector<std::uint32_t> &table) const
{
    std::vector<std::uint32_t> sectors;
    for (std::uint32_t s = start; s != kEndOfChain;) {
        // A chain can be no longer than the table: a longer one loops.
        if (s >= table.size() || sectors.size() >= table.size())
            broken();
        sectors.push_back(s);
        s = table[s];
    }
    return sectors;
}

CompoundFile::CompoundFile(const QString &path) : path_(path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        unreadable(path, file.errorString());
    const QByteArray header = file.read(512);
    if (header.size() < 512 || !hasSignature(header))
        unreadable(path, QStringLiteral("不是 Excel 活頁簿檔案"));
    const int major = u16(header, 0x1A);
    sectorShift_ = u16(header, 0x1E);
    if ((major != 3 && major != 4) || (sectorShift_ != 9 && sectorShift_ != 12) || u16(header, 0x20) != 6)
        broken();
    const qint64 sectorSize = qint64(1) << sectorShift_;
    sectorCount_ = std::max<qint64>(0, file.size() / sectorSize - 1);
    if (file.size() % sectorSize != 0)
        ++sectorCount_; // a last sector cut short: read only as far as the file goes
    miniCutoff_ = u32(header, 0x38);

    // The sectors of the allocation table: 109 in the header, the rest in a chain of their own.
    std::vector<std::uint32_t> fatSectors;
    const std::uint32_t fatCount = u32(header, 0x2C);
    if (fatCount > sectorCount_)
        broken();
    for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(u32(header, 0x4C + 4 * i));
    std::uint32_t difat = u32(header, 0x44);
    const qint64 perDifat = sectorSize / 4 - 1;
    for (qint64 steps = 0; fatSectors.size() < fatCount; ++steps) {
        if (difat == kEndOfChain || difat == kFreeSector || steps > sectorCount_)
            broken();
        const QByteArray block = readSector(file, difat);
        for (qint64 i = 0; i < perDifat && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(u32(block, 4 * i));
        difat = u32(block, 4 * perDifat);
    }
    fat_.reserve(fatSectors.size() * static_cast<std::size_t>(sectorSize / 4));
    for (std::uint32_t s : fatSectors) {
        const QByteArray block = readSector(file, s);
        for (qint64 i = 0; i < sectorSize / 4; ++i)
            fat_.push_back(u32(block, 4 * i));
    }

    // The directory: the root entry first, then the tree of the root storage's children.
    QByteArray directory;
    for (std::uint32_t s : chain(u32(header, 0x30), fat_))
        directory += readSector(file, s);
    const qsizetype entries = directory.size() / 128;
    if (entries < 1 || directory.at(0x42) != 5)
        broken();
    auto entryAt = [&](qsizetype i) {
        Entry e;
        const qsizetype at = i * 128;
        const int nameBytes = std::min<int>(u16(directory, at + 0x40), 64);
        e.name = QString::fromUtf16(reinterpret_cast<const char16_t *>(directory.constData() + at),
                                    std::max(0, nameBytes / 2 - 1));
        e.start = u32(directory, at + 0x74);
        e.size = major == 3 ? qint64(u32(directory, at + 0x78)) : qint64(qFromLittleEndian<quint64>(directory.constData() + at + 0x78) & 0x7FFFFFFFFFFFLL);
        return e;
    };
    root_ = entryAt(0);
    std::vector<std::uint32_t> pending{u32(directory, 0x4C)};
    std::set<std::uint32_t> seen;
    while (!pending.empty()) {
        const std::uint32_t i = pending.back();
        pending.pop_back();
        if (i == kNoStream)
            continue;
        if (static_cast<qsizetype>(i) >= entries || !seen.insert(i).second)
            broken();
        const qsizetype at = static_cast<qsizetype>(i) * 128;
        if (directory.at(at + 0x42) == 2)
            streams_.push_back(entryAt(i));
        pending.push_back(u32(directory, at + 0x44));
        pending.push_back(u32(directory, at + 0x48));
    }

    if (u32(header, 0x3C) != kEndOfChain && u32(header, 0x40) > 0) {
        for (std::uint32_t s : chain(u32(header, 0x3C), fat_)) {
            const QByteArray block = readSector(file, s);
            for (qint64 i = 0; i < sectorSize / 4; ++i)
                miniFat_.push_back(u32(block, 4 * i));
        }
    }
}

CompoundFile::~CompoundFile() = default;

const CompoundFile::Entry *CompoundFile::find(const QString &name) const
{
    for (const Entry &e : streams_) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0)
            return &e;
    }
    return nullptr;
}

bool CompoundFile::hasStream(const QString &name) const
{
    return find(name) != nullptr;
}

std::unique_ptr<CompoundStream> CompoundFile::openStream(const QString &name) const
{
    const Entry *e = find(name);
    if (!e)
        unreadable(path_, QStringLiteral("缺少 ") + name);
    return std::make_unique<CompoundStream>(*this, *e);
}

CompoundStream::CompoundStream(const CompoundFile &owner, const CompoundFile::Entry &entry)
    : owner_(owner), file_(owner.path_), size_(entry.size), shift_(owner.sectorShift_)
{
    if (!file_.open(QIODevice::ReadOnly))
        unreadable(owner.path_, file_.errorString());
    if (size_ < owner.miniCutoff_) {
        // A small stream lives in 64-byte sectors of the mini stream, which the root entry holds.
        isSmall_ = true;
        const auto mini = owner.chain(entry.start, owner.miniFat_);
        if (static_cast<qint64>(mini.size()) * 64 < size_)
            owner.broken();
        const auto container = owner.chain(owner.root_.start, owner.fat_);
        for (std::uint32_t m : mini) {
            const qint64 offset = static_cast<qint64>(m) * 64;
            const std::size_t index = static_cast<std::size_t>(offset >> shift_);
            if (index >= container.size())
                owner.broken();
            const QByteArray sector = owner.readSector(file_, container[index]);
            small_ += sector.mid(offset & ((qint64(1) << shift_) - 1), 64);
        }
        small_.truncate(size_);
        return;
    }
    sectors_ = owner.chain(entry.start, owner.fat_);
    if ((static_cast<qint64>(sectors_.size()) << shift_) < size_)
        owner.broken();
}

bool CompoundStream::seek(qint64 pos)
{
    if (pos < 0 || pos > size_)
        return false;
    pos_ = pos;
    return true;
}

qint64 CompoundStream::read(char *data, qint64 size)
{
    size = std::min(size, size_ - pos_);
    if (size <= 0)
        return 0;
    if (isSmall_) {
        std::memcpy(data, small_.constData() + pos_, static_cast<std::size_t>(size));
        pos_ += size;
        return size;
    }
    qint64 done = 0;
    const qint64 sectorSize = qint64(1) << shift_;
    while (done < size) {
        std::size_t index = static_cast<std::size_t>(pos_ >> shift_);
        const qint64 within = pos_ & (sectorSize - 1);
        // Sectors that follow one another in the file are read in one go.
        std::size_t last = index;
        while (last + 1 < sectors_.size() && sectors_[last + 1] == sectors_[last] + 1
               && (static_cast<qint64>(last + 1 - index) << shift_) - within < size - done)
            ++last;
        const qint64 span = std::min((static_cast<qint64>(last + 1 - index) << shift_) - within, size - done);
        if (static_cast<qint64>(sectors_[index]) + static_cast<qint64>(last - index) >= owner_.sectorCount_)
            owner_.broken();
        if (!file_.seek(((static_cast<qint64>(sectors_[index]) + 1) << shift_) + within)
            || file_.read(data + done, span) != span)
            owner_.broken();
        done += span;
        pos_ += span;
    }
    return done;
}

} // namespace talvesk::workbook
