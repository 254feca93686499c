// Reading .xls: the workbook stream of a compound file, record by record. The workbook globals
// (sheet list, shared strings, cell formats, code page, 1904 flag) are read at open; a worksheet
// streams from its own BOF record, one row at a time, like the .xlsx reader.
#include "workbook/XlsWorkbook.h"

#include "platform/Codec950.h"
#include "workbook/CompoundFile.h"
#include "platform/Error.h"
#include "workbook/SheetCells.h"

#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <map>

namespace talvesk::workbook {

namespace {

namespace rec {
constexpr std::uint16_t Formula = 0x0006, Eof = 0x000A, DateMode = 0x0022, FilePass = 0x002F, Continue = 0x003C,
                        CodePage = 0x0042, BoundSheet = 0x0085, MulRk = 0x00BD, RString = 0x00D6, Xf = 0x00E0,
                        Sst = 0x00FC, LabelSst = 0x00FD, Dimensions = 0x0200, Number = 0x0203, Label = 0x0204,
                        BoolErr = 0x0205, String = 0x0207, Array = 0x0221, Table = 0x0236, Rk = 0x027E,
                        Format = 0x041E, SharedFormula = 0x04BC, Bof = 0x0809;
} // namespace rec

// A record's data, possibly with the CONTINUE records that carry on from it: reads are bounds
// checked, and strings know where a continuation starts (it repeats the string's width flag).
class RecordData {
public:
    std::vector<unsigned char> bytes;
    std::vector<std::size_t> breaks; // where each CONTINUE's data starts

    void reset()
    {
        bytes.clear();
        breaks.clear();
        pos_ = 0;
    }
    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return bytes.size() - pos_; }
    bool has(std::size_t n) const { return n <= remaining(); }
    void need(std::size_t n) const
    {
        if (!has(n))
            throw Truncated{};
    }
    void skip(std::size_t n)
    {
        need(n);
        pos_ += n;
    }
    std::uint8_t u8()
    {
        need(1);
        return bytes[pos_++];
    }
    std::uint16_t u16()
    {
        need(2);
        const auto v = qFromLittleEndian<quint16>(bytes.data() + pos_);
        pos_ += 2;
        return v;
    }
    std::uint32_t u32()
    {
        need(4);
        const auto v = qFromLittleEndian<quint32>(bytes.data() + pos_);
        pos_ += 4;
        return v;
    }
    double f64()
    {
        need(8);
        double v;
        const quint64 bits = qFromLittleEndian<quint64>(bytes.data() + pos_);
        std::memcpy(&v, &bits, 8);
        pos_ += 8;
        return v;
    }
    // A BIFF8 string's characters: one byte each (the low byte of UTF-16) or two, switching width
    // where a continuation starts.
    QString chars(std::size_t count, bool wide)
    {
        QString out;
        out.reserve(static_cast<qsizetype>(std::min<std::size_t>(count, remaining())));
        while (count > 0) {
            const std::size_t end = nextBreak();
            if (pos_ == end && end < bytes.size() && pos_ != lastBreakTaken_) {
                wide = (u8() & 1) != 0;
                lastBreakTaken_ = end;
                continue;
            }
            const std::size_t width = wide ? 2 : 1;
            const std::size_t n = std::min(count, (end - pos_) / width);
            if (n == 0)
                throw Truncated{};
            for (std::size_t i = 0; i < n; ++i) {
                out += wide ? QChar(static_cast<char16_t>(bytes[pos_] | (bytes[pos_ + 1] << 8))) : QChar(static_cast<char16_t>(bytes[pos_]));
                pos_ += width;
            }
            count -= n;
        }
        return out;
    }
    // An XLUnicodeString (16-bit count) or the richer form of the shared-string table.
    QString unicodeString(bool shortCount = false)
    {
        const std::size_t count = shortCount ? u8() : u16();
        const std::uint8_t flags = u8();
        const std::size_t runs = (flags & 0x08) ? u16() : 0;
        const std::size_t ext = (flags & 0x04) ? u32() : 0;
        QString text = chars(count, (flags & 1) != 0);
        skip(runs * 4);
        skip(ext);
        return text;
    }
    QByteArray raw(std::size_t n)
    {
        need(n);
        QByteArray out(reinterpret_cast<const char *>(bytes.data() + pos_), static_cast<qsizetype>(n));
        pos_ += n;
        return out;
    }

    struct Truncated {};

private:
    std::size_t nextBreak() const
    {
        for (std::size_t b : breaks) {
            if (b >= pos_)
                return b;
        }
        return bytes.size();
    }
    std::size_t pos_ = 0;
    std::size_t lastBreakTaken_ = SIZE_MAX;
};

// Records of the workbook stream in order, with one record of look-ahead.
class RecordReader {
public:
    RecordReader(std::unique_ptr<CompoundStream> stream, qint64 start) : stream_(std::move(stream))
    {
        if (!stream_->seek(start))
            atEnd_ = true;
    }
    // The next record's id, or -1 at the end of the stream.
    int peek()
    {
        if (peeked_ < 0 && !atEnd_) {
            unsigned char header[4];
            if (stream_->read(reinterpret_cast<char *>(header), 4) != 4) {
                atEnd_ = true;
                return -1;
            }
            peeked_ = qFromLittleEndian<quint16>(header);
            length_ = qFromLittleEndian<quint16>(header + 2);
        }
        return peeked_;
    }
    // Reads the next record into `data` (replacing it, or after it when `append`); its id, or -1.
    int next(RecordData &data, bool append = false)
    {
        const int id = peek();
        if (id < 0)
            return -1;
        if (!append)
            data.reset();
        else
            data.breaks.push_back(data.bytes.size());
        const std::size_t at = data.bytes.size();
        data.bytes.resize(at + length_);
        if (stream_->read(reinterpret_cast<char *>(data.bytes.data() + at), length_) != length_)
            data.bytes.resize(at); // cut short by the end of the stream: what there is
        peeked_ = -1;
        return id;
    }
    // The record and the CONTINUE records after it; -2 when the whole would pass `maxBytes`, which
    // bounds its memory too: the buffer never grows past it.
    int nextContinued(RecordData &data, qint64 maxBytes)
    {
        const int id = next(data);
        while (peek() == rec::Continue) {
            const qint64 size = static_cast<qint64>(data.bytes.size()) + length_;
            if (size > maxBytes)
                return -2;
            if (static_cast<qint64>(data.bytes.capacity()) < size)
                data.bytes.reserve(static_cast<std::size_t>(std::min(std::max<qint64>(size, 2 * static_cast<qint64>(data.bytes.capacity())), maxBytes)));
            next(data, true);
        }
        return id;
    }

private:
    std::unique_ptr<CompoundStream> stream_;
    int peeked_ = -1;
    std::uint16_t length_ = 0;
    bool atEnd_ = false;
};

QString errorCode(std::uint8_t code)
{
    switch (code) {
    case 0x00: return QStringLiteral("#NULL!");
    case 0x07: return QStringLiteral("#DIV/0!");
    case 0x0F: return QStringLiteral("#VALUE!");
    case 0x17: return QStringLiteral("#REF!");
    case 0x1D: return QStringLiteral("#NAME?");
    case 0x24: return QStringLiteral("#NUM!");
    case 0x2A: return QStringLiteral("#N/A");
    default: return QStringLiteral("#ERR%1").arg(code);
    }
}

double rkValue(std::uint32_t rk)
{
    double v;
    if (rk & 2) {
        v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        const quint64 bits = static_cast<quint64>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, 8);
    }
    return (rk & 1) ? v / 100 : v;
}

struct Shared {
    QString path;
    WorkbookLimits limits;
    std::unique_ptr<CompoundFile> file;
    QString streamName;
    bool biff8 = true;
    int codePage = 1252;
    SharedStrings strings;
    std::vector<bool> dateXfs; // by cell format index
    bool date1904 = false;

    // The text of an 8-bit string of BIFF5, in the workbook's code page.
    QString decode(const QByteArray &bytes) const
    {
        if (codePage == 950)
            return platform::codec950::decode(bytes);
        QStringDecoder decoder(codePageName(codePage).constData(), QStringConverter::Flag::Stateless);
        if (!decoder.isValid())
            return QString::fromLatin1(bytes);
        return decoder.decode(bytes);
    }
    static QByteArray codePageName(int cp)
    {
        switch (cp) {
        case 367: return "US-ASCII";
        case 10000: return "macintosh";
        case 32768: return "macintosh";
        case 32769: return "windows-1252";
        case 932: return "Shift_JIS";
        case 936: return "GBK";
        case 949: return "windows-949";
        default: return "windows-" + QByteArray::number(cp);
        }
    }
    static bool knownCodePage(int cp)
    {
        return cp == 950 || cp == 1200 || QStringDecoder(codePageName(cp).constData()).isValid();
    }
};

struct Cell {
    int column = 0;
    CellValue value;
};

class XlsSheet : public Worksheet {
public:
    XlsSheet(std::shared_ptr<const Shared> shared, QString name, qint64 offset)
        : shared_(std::move(shared)), name_(std::move(name)), offset_(offset)
    {
        restart();
    }

    QString name() const override { return name_; }

    qint64 lastUsedRow() override
    {
        if (lastRow_ < 0)
            findLastRow();
        return lastRow_;
    }

    qint64 nextUsedRow(qint64 from) override
    {
        if (from <= bufferedRow_ && !(from == bufferedRow_ && !cells_.empty()))
            restart();
        if (from == bufferedRow_ && !cells_.empty())
            return bufferedRow_;
        while (!ended_) {
            readNextRow();
            if (!cells_.empty() && bufferedRow_ >= from)
                return bufferedRow_;
        }
        return 0;
    }

    CellValue cell(qint64 row, QStringView column) override
    {
        const int col = columnIndex(column);
        if (col < 0)
            throw platform::Error(platform::errnum::ObjectInvalid, QStringLiteral("無效的欄位名稱: ") + column.toString());
        if (row < bufferedRow_)
            restart();
        while (!ended_ && bufferedRow_ < row)
            readNextRow();
        if (bufferedRow_ != row)
            return {};
        for (const Cell &c : cells_) {
            if (c.column == col)
                return c.value;
        }
        return {};
    }

private:
    [[noreturn]] void broken(const QString &why) const
    {
        unreadable(shared_->path, QStringLiteral("工作表 ") + name_ + QStringLiteral(" ") + why);
    }

    std::unique_ptr<RecordReader> openAtBof()
    {
        auto reader = std::make_unique<RecordReader>(shared_->file->openStream(shared_->streamName), offset_);
        if (reader->next(data_) != rec::Bof)
            broken(QStringLiteral("的位置不正確"));
        return reader;
    }

    void restart()
    {
        reader_ = openAtBof();
        bufferedRow_ = 0;
        cells_.clear();
        pending_.clear();
        pendingRow_ = 0;
        ended_ = false;
        sheetDone_ = false;
    }

    void findLastRow()
    {
        auto reader = openAtBof();
        RecordData data;
        for (int id; (id = reader->next(data)) >= 0 && id != rec::Eof && id != rec::Bof;) {
            if (id == rec::Dimensions) {
                // The row after the last, as the sheet declares it.
                lastRow_ = std::min<qint64>(shared_->biff8 ? (data.has(8) ? (data.skip(4), data.u32()) : 0)
                                                           : (data.has(4) ? (data.skip(2), data.u16()) : 0),
                                            kMaxRows);
                return;
            }
        }
        lastRow_ = 0;
    }

    // Reads the cells of the next row that holds any: those waiting from the last read first, then
    // records up to the first cell of a later row.
    void readNextRow()
    {
        cells_.clear();
        rowBytes_ = 0;
        if (!pending_.empty()) {
            cells_.swap(pending_);
            bufferedRow_ = pendingRow_;
            for (const Cell &c : cells_)
                rowBytes_ += c.value.text.size() * qint64(sizeof(QChar));
        }
        std::vector<Cell> incoming;
        while (!sheetDone_) {
            incoming.clear();
            const qint64 row = readCells(incoming);
            if (row == 0) {
                sheetDone_ = true;
                break;
            }
            if (row == bufferedRow_ && !cells_.empty()) {
                for (Cell &c : incoming)
                    add(cells_, std::move(c));
                continue;
            }
            // Rows come in increasing order; reading them back would take the whole sheet in memory.
            if (row <= bufferedRow_)
                broken(QStringLiteral("的儲存格不是依列的順序存放，無法讀取"));
            if (cells_.empty()) {
                bufferedRow_ = row;
                for (Cell &c : incoming)
                    add(cells_, std::move(c));
                continue;
            }
            pending_ = std::move(incoming);
            pendingRow_ = row;
            return;
        }
        if (cells_.empty()) {
            ended_ = true;
            bufferedRow_ = kMaxRows + 1; // past every row: asking for any row again starts over
        }
    }

    void add(std::vector<Cell> &row, Cell &&cell)
    {
        if (row.size() >= static_cast<std::size_t>(kMaxColumns))
            broken(QStringLiteral("第 %1 列的儲存格超過工作表的上限 %2 欄").arg(bufferedRow_).arg(kMaxColumns));
        // Every cell's text is its own copy, even of one shared string: the row is bounded whole.
        rowBytes_ += cell.value.text.size() * qint64(sizeof(QChar));
        if (rowBytes_ > kMaxRowBytes)
            rowTooLong(shared_->path, name_, bufferedRow_);
        row.push_back(std::move(cell));
    }

    // Reads records up to the next one that holds cells and decodes them; their 1-based row, or 0
    // at the end of the worksheet.
    qint64 readCells(std::vector<Cell> &out)
    {
        for (;;) {
            const int id = reader_->next(data_);
            if (id < 0 || id == rec::Eof || id == rec::Bof)
                return 0;
            try {
                const qint64 row = decode(static_cast<std::uint16_t>(id), out);
                if (row > 0)
                    return row;
            } catch (const RecordData::Truncated &) {
                broken(QStringLiteral("有不完整的記錄（0x%1）").arg(id, 4, 16, QLatin1Char('0')));
            }
        }
    }

    CellValue number(double value, std::uint16_t xf) const
    {
        CellValue v;
        const bool isDate = xf < shared_->dateXfs.size() && shared_->dateXfs[xf];
        v.kind = isDate ? CellValue::Kind::DateTime : CellValue::Kind::Number;
        v.number = isDate && shared_->date1904 ? value + 1462 : value;
        return v;
    }

    QString byteString(RecordData &d, bool shortCount)
    {
        if (shared_->biff8)
            return d.unicodeString(shortCount);
        const std::size_t count = shortCount ? d.u8() : d.u16();
        return shared_->decode(d.raw(count));
    }

    // One cell record; the row it belongs to (1-based), or 0 when the record holds no cell.
    qint64 decode(std::uint16_t id, std::vector<Cell> &out)
    {
        RecordData &d = data_;
        switch (id) {
        case rec::Number:
        case rec::Rk:
        case rec::LabelSst:
        case rec::Label:
        case rec::RString:
        case rec::BoolErr:
        case rec::Formula:
        case rec::MulRk:
            break;
        default:
            return 0;
        }
        const qint64 row = d.u16() + 1;
        const int firstColumn = d.u16();
        if (firstColumn >= kMaxColumns)
            broken(QStringLiteral("第 %1 列有超出工作表範圍的儲存格位置").arg(row));
        if (id == rec::MulRk) {
            // (format, value) pairs, then the last column.
            if (d.remaining() < 2)
                throw RecordData::Truncated{};
            const std::size_t pairs = (d.remaining() - 2) / 6;
            for (std::size_t i = 0; i < pairs; ++i) {
                const std::uint16_t xf = d.u16();
                const int column = firstColumn + static_cast<int>(i);
                if (column >= kMaxColumns)
                    broken(QStringLiteral("第 %1 列有超出工作表範圍的儲存格位置").arg(row));
                out.push_back({column, number(rkValue(d.u32()), xf)});
            }
            return row;
        }
        const std::uint16_t xf = d.u16();
        Cell cell;
        cell.column = firstColumn;
        switch (id) {
        case rec::Number:
            cell.value = number(d.f64(), xf);
            break;
        case rec::Rk:
            cell.value = number(rkValue(d.u32()), xf);
            break;
        case rec::LabelSst: {
            const std::uint32_t index = d.u32();
            if (index >= shared_->strings.size())
                broken(QStringLiteral("儲存格 %1%2 指向不存在的共用字串").arg(columnLetters(firstColumn)).arg(row));
            cell.value.kind = CellValue::Kind::Text;
            cell.value.text = shared_->strings.at(index);
            break;
        }
        case rec::Label:
        case rec::RString:
            cell.value.kind = CellValue::Kind::Text;
            cell.value.text = byteString(d, false);
            break;
        case rec::BoolErr: {
            const std::uint8_t value = d.u8();
            if (d.u8() != 0) {
                cell.value.kind = CellValue::Kind::Error;
                cell.value.text = errorCode(value);
            } else {
                cell.value.kind = CellValue::Kind::Boolean;
                cell.value.number = value != 0 ? 1 : 0;
            }
            break;
        }
        case rec::Formula: {
            // The cached result: a number, or a marker of another kind of result.
            d.need(8);
            const std::size_t at = d.pos();
            if (d.bytes[at + 6] == 0xFF && d.bytes[at + 7] == 0xFF) {
                const std::uint8_t type = d.bytes[at];
                const std::uint8_t value = d.bytes[at + 2];
                if (type == 0) {
                    cell.value.kind = CellValue::Kind::Text;
                    cell.value.text = formulaString(row, firstColumn);
                } else if (type == 1) {
                    cell.value.kind = CellValue::Kind::Boolean;
                    cell.value.number = value != 0 ? 1 : 0;
                } else if (type == 2) {
                    cell.value.kind = CellValue::Kind::Error;
                    cell.value.text = errorCode(value);
                } else {
                    cell.value.kind = CellValue::Kind::Text; // an empty text result
                }
            } else {
                cell.value = number(d.f64(), xf);
            }
            break;
        }
        default:
            break;
        }
        out.push_back(std::move(cell));
        return row;
    }

    // The STRING record that follows a formula with a text result (after any shared-formula,
    // array or table record of the formula).
    QString formulaString(qint64 row, int column)
    {
        RecordData d;
        for (;;) {
            const int id = reader_->peek();
            if (id == rec::SharedFormula || id == rec::Array || id == rec::Table) {
                reader_->next(d);
                continue;
            }
            if (id != rec::String)
                return QString(); // no cached text: the formula was never calculated
            if (reader_->nextContinued(d, kMaxCellBytes) < 0)
                cellTooLong(shared_->path, cellPlace(name_, row, column));
            return byteString(d, false);
        }
    }

    std::shared_ptr<const Shared> shared_;
    QString name_;
    qint64 offset_;
    std::unique_ptr<RecordReader> reader_;
    RecordData data_;
    qint64 lastRow_ = -1;
    qint64 bufferedRow_ = 0;
    std::vector<Cell> cells_;
    qint64 rowBytes_ = 0; // the text of cells_
    std::vector<Cell> pending_;
    qint64 pendingRow_ = 0;
    bool ended_ = false;
    bool sheetDone_ = false;
};

} // namespace

XlsWorkbook::XlsWorkbook(const QString &path, const WorkbookLimits &limits)
{
    auto shared = std::make_shared<Shared>();
    shared->path = path;
    shared->limits = limits;
    shared->file = std::make_unique<CompoundFile>(path);
    if (shared->file->hasStream(QStringLiteral("Workbook")))
        shared->streamName = QStringLiteral("Workbook");
    else if (shared->file->hasStream(QStringLiteral("Book")))
        shared->streamName = QStringLiteral("Book");
    else if (shared->file->hasStream(QStringLiteral("EncryptedPackage")))
        unreadable(path, QStringLiteral("活頁簿以密碼加密，請先在試算表程式中移除密碼再匯入"));
    else
        unreadable(path, QStringLiteral("不是 Excel 活頁簿檔案"));

    RecordReader reader(shared->file->openStream(shared->streamName), 0);
    RecordData d;
    const int first = reader.next(d);
    if (first == 0x0009 || first == 0x0209 || first == 0x0409)
        unreadable(path, QStringLiteral("是 Excel 5.0 以前的格式（BIFF2 至 BIFF4），不支援；請先以較新的格式另存"));
    if (first != rec::Bof || !d.has(4))
        unreadable(path, QStringLiteral("不是 Excel 活頁簿檔案"));
    const std::uint16_t version = d.u16();
    if (version == 0x0600)
        shared->biff8 = true;
    else if (version == 0x0500)
        shared->biff8 = false;
    else
        unreadable(path, QStringLiteral("是不支援的 Excel 格式版本（0x%1）").arg(version, 4, 16, QLatin1Char('0')));
    if (d.u16() != 0x0005)
        unreadable(path, QStringLiteral("不是 Excel 活頁簿檔案"));

    std::map<int, bool> customDates;
    std::vector<std::uint16_t> xfFormats;
    try {
        for (int id; (id = (reader.peek() == rec::Sst ? reader.nextContinued(d, limits.maxSharedStringBytes)
                                                      : reader.next(d)))
                     != -1
                     && id != rec::Eof;) {
            switch (id) {
            case -2:
                unreadable(path, QStringLiteral("共用字串表超過 %1 MB 的上限").arg(limits.maxSharedStringBytes >> 20));
            case rec::FilePass:
                unreadable(path, QStringLiteral("活頁簿以密碼加密，請先在試算表程式中移除密碼再匯入"));
            case rec::CodePage:
                shared->codePage = d.u16();
                if (!shared->biff8 && !Shared::knownCodePage(shared->codePage))
                    unreadable(path, QStringLiteral("使用不支援的字碼頁 %1").arg(shared->codePage));
                break;
            case rec::DateMode:
                shared->date1904 = d.u16() != 0;
                break;
            case rec::Format: {
                const int format = d.u16();
                const QString code = shared->biff8 ? d.unicodeString() : shared->decode(d.raw(d.u8()));
                customDates[format] = isDateFormatCode(code);
                break;
            }
            case rec::Xf:
                d.skip(2);
                xfFormats.push_back(d.u16());
                break;
            case rec::BoundSheet: {
                const qint64 offset = d.u32();
                d.skip(1); // visibility: hidden worksheets are listed as well
                const int type = d.u8();
                const QString name = shared->biff8 ? d.unicodeString(true) : shared->decode(d.raw(d.u8()));
                if (type == 0) // a worksheet, not a chart, macro or dialog sheet
                    sheets_.push_back({name, offset});
                break;
            }
            case rec::Sst: {
                d.skip(4);
                const std::uint32_t unique = d.u32();
                shared->strings.reserve(std::min<std::size_t>(unique, d.remaining() / 3));
                for (std::uint32_t i = 0; i < unique && d.remaining() > 0; ++i) {
                    if (!shared->strings.add(d.unicodeString().toStdString(), limits.maxSharedStringBytes))
                        unreadable(path, QStringLiteral("共用字串表超過 %1 MB 的上限").arg(limits.maxSharedStringBytes >> 20));
                }
                break;
            }
            default:
                break;
            }
        }
    } catch (const RecordData::Truncated &) {
        unreadable(path, QStringLiteral("活頁簿的記錄不完整"));
    }
    if (sheets_.empty())
        unreadable(path, QStringLiteral("活頁簿中沒有工作表"));
    shared->dateXfs.reserve(xfFormats.size());
    for (std::uint16_t format : xfFormats) {
        const auto custom = customDates.find(format);
        shared->dateXfs.push_back(custom != customDates.end() ? custom->second : isBuiltInDateFormat(format));
    }
    shared_ = std::move(shared);
}

XlsWorkbook::~XlsWorkbook() = default;

QStringList XlsWorkbook::worksheetNames() const
{
    return sheetNames(sheets_);
}

std::unique_ptr<Worksheet> XlsWorkbook::worksheet(const QString &name)
{
    const auto &sheet = sheetNamed(sheets_, name);
    return std::make_unique<XlsSheet>(std::static_pointer_cast<const Shared>(shared_), sheet.name, sheet.offset);
}

} // namespace talvesk::workbook
