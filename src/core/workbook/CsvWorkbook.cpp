// Reading .csv: records found in the file's bytes, fields decoded only when a cell is asked for.
#include "workbook/CsvWorkbook.h"

#include "platform/Codec950.h"
#include "platform/Error.h"
#include "workbook/SheetCells.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talvesk::workbook {

namespace {

// The records of a .csv file, one at a time, from a window of its bytes. They are found in the
// bytes themselves: the quote, the comma, CR and LF never occur inside a character of UTF-8 or of
// code page 950 (whose second bytes are 0x40 and up), so no record needs decoding to be found.
// A byte-order mark at the start is no part of the first field.
//
// A field starting with a quote runs to the next lone quote, taking commas, line ends and doubled
// quotes ("" for ") as its text; what follows up to the next comma is text as well. A record ends
// at CR, LF or CR LF outside quotes, or at the end of the file.
class CsvRecords {
public:
    explicit CsvRecords(const CsvWorkbook::File &file) : file_(file), in_(file.path), buffer_(new char[kChunk])
    {
        if (!in_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            unreadable(file_.path, in_.errorString());
        if (fill() && end_ >= 3 && std::memcmp(buffer_.get(), "\xEF\xBB\xBF", 3) == 0)
            pos_ = 3;
    }

    // Reads the next record; false at the end of the file. Refuses, naming the file, a record that
    // no worksheet could hold.
    bool next()
    {
        if (afterCr_) {
            afterCr_ = false;
            if (more() && buffer_[pos_] == '\n')
                ++pos_;
        }
        if (!more())
            return false;
        const qint64 row = number_ + 1;
        bytes_.clear();
        starts_.assign(1, 0);
        enum class State { FieldStart, Plain, Quoted, QuoteInQuoted } state = State::FieldStart;
        while (more()) {
            const char *const p = buffer_.get() + pos_;
            const char *const e = buffer_.get() + end_;
            switch (state) {
            case State::FieldStart:
                if (*p == '"') {
                    ++pos_;
                    state = State::Quoted;
                    continue;
                }
                state = State::Plain;
                [[fallthrough]];
            case State::Plain: {
                const char *q = p;
                while (q < e && *q != ',' && *q != '\r' && *q != '\n')
                    ++q;
                take(p, q, row);
                if (q == e)
                    continue;
                ++pos_;
                if (*q == ',') {
                    if (starts_.size() >= static_cast<std::size_t>(kMaxColumns))
                        refuse(QStringLiteral("第 %1 列的儲存格超過工作表的上限 %2 欄").arg(row).arg(kMaxColumns));
                    starts_.push_back(static_cast<std::uint32_t>(bytes_.size()));
                    state = State::FieldStart;
                    continue;
                }
                afterCr_ = *q == '\r';
                return ended(row);
            }
            case State::Quoted: {
                const auto *q = static_cast<const char *>(std::memchr(p, '"', static_cast<std::size_t>(e - p)));
                take(p, q ? q : e, row);
                if (q) {
                    ++pos_;
                    state = State::QuoteInQuoted;
                }
                continue;
            }
            case State::QuoteInQuoted:
                if (*p == '"') {
                    take(p, p + 1, row);
                    state = State::Quoted;
                } else {
                    state = State::Plain;
                }
                continue;
            }
        }
        return ended(row);
    }

    qint64 number() const { return number_; }
    std::size_t fieldCount() const { return starts_.size(); }
    std::string_view field(std::size_t index) const
    {
        const std::size_t begin = starts_[index];
        const std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] : bytes_.size();
        return std::string_view(bytes_).substr(begin, end - begin);
    }
    // Whether any field of the record is not empty.
    bool holdsField() const { return !bytes_.empty(); }
    // All the record's fields, one after another.
    std::string_view bytes() const { return bytes_; }

private:
    static constexpr qint64 kChunk = CsvWorkbook::kReadBytes;

    bool more() { return pos_ < end_ || fill(); }

    bool fill()
    {
        if (atEnd_)
            return false;
        const qint64 n = in_.read(buffer_.get(), kChunk);
        if (n < 0)
            unreadable(file_.path, in_.errorString());
        pos_ = 0;
        end_ = n;
        atEnd_ = n == 0;
        return n > 0;
    }

    // Adds [p, q) of the window to the field being read.
    void take(const char *p, const char *q, qint64 row)
    {
        bytes_.append(p, static_cast<std::size_t>(q - p));
        pos_ += q - p;
        if (static_cast<qint64>(bytes_.size() - starts_.back()) > CsvWorkbook::kMaxFieldBytes)
            cellTooLong(file_.path, cellPlace(file_.name, row, static_cast<int>(starts_.size()) - 1),
                        QStringLiteral("，可能是引號沒有成對"));
        if (static_cast<qint64>(bytes_.size()) > CsvWorkbook::kMaxRowBytes)
            rowTooLong(file_.path, file_.name, row);
    }

    bool ended(qint64 row)
    {
        number_ = row;
        // Blank lines past the last row are no rows of the sheet; a field there would be.
        if (row > kMaxRows && holdsField())
            refuse(QStringLiteral("有超出工作表範圍的列號（1 到 1048576）"));
        return true;
    }

    [[noreturn]] void refuse(const QString &why) const
    {
        unreadable(file_.path, QStringLiteral("工作表 ") + file_.name + QStringLiteral(" ") + why);
    }

    const CsvWorkbook::File &file_;
    QFile in_;
    std::unique_ptr<char[]> buffer_;
    qint64 pos_ = 0;
    qint64 end_ = 0;
    bool atEnd_ = false;
    bool afterCr_ = false; // the last record ended at a CR: an LF right after it belongs to it
    qint64 number_ = 0;
    // The record's fields, one after another, and where each starts: no allocation per field.
    std::string bytes_;
    std::vector<std::uint32_t> starts_;
};

// Whether `s` is well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF (the
// sequences a UTF-8 decoder reports as errors).
bool isUtf8(std::string_view s)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const auto *const end = p + s.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF; // the second byte's range
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED)
                high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF)
                return false;
        }
        p += length;
    }
    return true;
}

bool isAscii(std::string_view s)
{
    // One pass with no early exit, which the compiler vectorises.
    unsigned char high = 0;
    for (const char c : s)
        high |= static_cast<unsigned char>(c);
    return high < 0x80;
}

class CsvSheet : public Worksheet {
public:
    explicit CsvSheet(CsvWorkbook::File file) : file_(std::move(file)) { restart(); }

    QString name() const override { return file_.name; }
    qint64 lastUsedRow() override { return file_.lastUsedRow; }

    qint64 nextUsedRow(qint64 from) override
    {
        from = std::max<qint64>(from, 1);
        if (from > file_.lastUsedRow)
            return 0;
        if (from < records_->number())
            restart();
        while (records_->number() < from || !records_->holdsField()) {
            if (!records_->next())
                return 0;
        }
        return records_->number();
    }

    CellValue cell(qint64 row, QStringView column) override
    {
        const int col = columnIndex(column);
        if (col < 0)
            throw platform::Error(platform::errnum::ObjectInvalid, QStringLiteral("無效的欄位名稱: ") + column.toString());
        if (row < 1 || row > file_.lastUsedRow)
            return {};
        if (row < records_->number())
            restart();
        while (records_->number() < row) {
            if (!records_->next())
                return {};
        }
        if (static_cast<std::size_t>(col) >= records_->fieldCount())
            return {};
        const std::string_view bytes = records_->field(static_cast<std::size_t>(col));
        if (bytes.empty())
            return {};
        CellValue v;
        v.kind = CellValue::Kind::Text;
        if (file_.utf8) {
            // A byte-order mark is text anywhere but at the file's start, where it was skipped.
            const bool mark = bytes.substr(0, 3) == "\xEF\xBB\xBF";
            v.text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
            if (mark)
                v.text.prepend(QChar(0xFEFF));
        } else if (!platform::codec950::decodeValid(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), v.text)) {
            v.text = platform::codec950::decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        }
        return v;
    }

private:
    void restart()
    {
        records_.reset();
        records_ = std::make_unique<CsvRecords>(file_);
    }

    const CsvWorkbook::File file_;
    std::unique_ptr<CsvRecords> records_;
};

} // namespace

CsvWorkbook::CsvWorkbook(const QString &path, const std::function<bool()> &stopRequested)
{
    file_.path = path;
    file_.name = QFileInfo(path).completeBaseName();
    // The first reading: the encoding holds for the whole file, so it is known only at its end.
    CsvRecords records(file_);
    while (records.next()) {
        if (stopRequested && (records.number() & 0xFFF) == 0 && stopRequested())
            throw platform::Error(platform::errnum::Cancelled, QStringLiteral("已停止"));
        if (!records.holdsField())
            continue;
        file_.lastUsedRow = records.number();
        // Every field is checked on its own: a comma or a line end inside a character breaks it.
        if (file_.utf8 && !isAscii(records.bytes())) {
            for (std::size_t i = 0; i < records.fieldCount() && file_.utf8; ++i)
                file_.utf8 = isUtf8(records.field(i));
        }
    }
}

std::unique_ptr<Worksheet> CsvWorkbook::worksheet(const QString &name)
{
    if (name.compare(file_.name, Qt::CaseInsensitive) != 0)
        throwNoSuchSheet(name);
    return std::make_unique<CsvSheet>(file_);
}

} // namespace talvesk::workbook
