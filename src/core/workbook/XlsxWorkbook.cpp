// Reading .xlsx / .xlsm: the zip container through libzip, the XML parts through XmlScanner.
#include "workbook/XlsxWorkbook.h"

#include "platform/Error.h"
#include "workbook/SheetCells.h"
#include "workbook/XmlScanner.h"
#include "workbook/ZipPart.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace talvesk::workbook {

namespace {

using Token = XmlScanner::Token;

// Resolves a relationship target against the folder of the part that holds the relationship.
QString resolveTarget(const QString &sourceFolder, const QString &target)
{
    if (target.startsWith(u'/'))
        return target.mid(1);
    return QDir::cleanPath(sourceFolder.isEmpty() ? target : sourceFolder + u'/' + target);
}

struct Relationship {
    QString type;
    QString target;
};

std::map<QString, Relationship> readRelationships(const QString &zipPath, const QString &relsPart,
                                                  const QString &sourceFolder, const WorkbookLimits &limits)
{
    std::map<QString, Relationship> rels;
    if (!partExists(zipPath, relsPart))
        return rels;
    Part part(zipPath, relsPart, limits);
    std::string id, type, target;
    for (Token t; (t = part.xml().next()) != Token::Eof;) {
        if (t == Token::Start && part.xml().name() == "Relationship" && part.xml().attribute("Id", id)
            && part.xml().attribute("Target", target)) {
            part.xml().attribute("Type", type);
            rels[QString::fromStdString(id)] = {QString::fromStdString(type),
                                                resolveTarget(sourceFolder, QString::fromStdString(target))};
        }
    }
    return rels;
}

// Text escapes of the workbook format for characters XML cannot carry (_x000D_ is CR).
void unescapeXString(std::string &s)
{
    if (s.find("_x") == std::string::npos)
        return;
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (i + 7 <= s.size() && s[i] == '_' && s[i + 1] == 'x' && s[i + 6] == '_') {
            unsigned v = 0;
            const auto r = std::from_chars(s.data() + i + 2, s.data() + i + 6, v, 16);
            if (r.ec == std::errc() && r.ptr == s.data() + i + 6) {
                if (v < 0x80) {
                    out.push_back(static_cast<char>(v));
                } else {
                    out += QString(QChar(static_cast<char16_t>(v))).toStdString();
                }
                i += 7;
                continue;
            }
        }
        out.push_back(s[i++]);
    }
    s.swap(out);
}

// The text of a shared or inline string: every <t>, in runs or not, but no phonetic runs.
void readStringItem(XmlScanner &xml, std::string &out)
{
    out.clear();
    std::string piece;
    for (;;) {
        const Token t = xml.next();
        if (t == Token::End && (xml.name() == "si" || xml.name() == "is"))
            break;
        if (t == Token::Start) {
            if (xml.name() == "rPh" || xml.name() == "rPr") {
                xml.skipElement();
            } else if (xml.name() == "t") {
                xml.readElementText(piece);
                out += piece;
                if (static_cast<qint64>(out.size()) > XmlScanner::kMaxTokenBytes)
                    xml.tooLong();
            }
        } else if (t == Token::Eof) {
            xml.fail(QStringLiteral("字串沒有結束"));
        }
    }
    unescapeXString(out);
}

int toInt(std::string_view s, int fallback = -1)
{
    int v = fallback;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() ? v : fallback;
}

qint64 rowOfReference(std::string_view ref)
{
    std::size_t i = 0;
    while (i < ref.size() && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z') || ref[i] == '$'))
        ++i;
    qint64 row = 0;
    const auto r = std::from_chars(ref.data() + i, ref.data() + ref.size(), row);
    if (r.ec == std::errc::result_out_of_range)
        return kMaxRows + 1; // past any worksheet, and refused as such
    return r.ec == std::errc() ? row : 0;
}

// The 0-based column of a cell reference such as "AB12"; -1 when it names none, or more than
// three letters (no worksheet has such a column, and the number would overflow).
int columnOfReference(std::string_view ref)
{
    int col = 0;
    std::size_t i = 0;
    for (; i < ref.size(); ++i) {
        char c = ref[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
        if (c < 'A' || c > 'Z')
            break;
        if (i == static_cast<std::size_t>(kMaxColumnLetters))
            return -1;
        col = col * 26 + (c - 'A' + 1);
    }
    return i == 0 ? -1 : col - 1;
}

// The shared-string table, read on a thread of its own from the moment the workbook opens: a
// million-row sheet names about a million strings, and reading them all before the first row left
// the second core idle for a second. A cell waits only until the string it names has been read. A
// table that cannot be read fails the cell that waits for a string past the fault, or else the end
// of the sheet, so no reading ends as if whole on a broken table.
class StringTable {
public:
    StringTable() = default;
    StringTable(const StringTable &) = delete;
    StringTable &operator=(const StringTable &) = delete;
    ~StringTable()
    {
        leaving_.store(true, std::memory_order_relaxed);
        if (thread_.joinable())
            thread_.join();
    }

    // Starts reading the table in `part`; until then (or without a table) it is whole and empty.
    void start(const QString &path, const QString &part, const WorkbookLimits &limits)
    {
        done_ = false;
        thread_ = std::thread([this, path, part, limits] { readAll(path, part, limits); });
    }

    // The string at `index`, once read; nullopt when the whole table has none such. Throws what
    // reading the table failed with, when the fault comes before `index`.
    std::optional<QString> at(std::size_t index) const
    {
        std::unique_lock lock(mutex_);
        grown_.wait(lock, [&] { return index < strings_.size() || done_; });
        if (index < strings_.size())
            return strings_.at(index);
        if (failure_)
            std::rethrow_exception(failure_);
        return std::nullopt;
    }

    // Waits for the whole table; throws what reading it failed with.
    void finish() const
    {
        std::unique_lock lock(mutex_);
        grown_.wait(lock, [&] { return done_; });
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    // Strings are handed over in batches, so the lock is taken once per batch, not per string;
    // a batch stays small beside the table's bound.
    static constexpr std::size_t kBatch = 256;
    static constexpr std::size_t kBatchBytes = 64 << 10;

    void readAll(const QString &path, const QString &partName, const WorkbookLimits &limits)
    {
        std::exception_ptr failure;
        try {
            Part part(path, partName, limits);
            XmlScanner &xml = part.xml();
            // The text is shorter than the part that holds it; never more than the table's bound.
            if (part.declaredSize() > 0) {
                std::lock_guard lock(mutex_);
                strings_.reserveText(static_cast<std::size_t>(std::min(part.declaredSize(), limits.maxSharedStringBytes)));
            }
            std::size_t count = 0;
            xml.setPlace([&count] { return QStringLiteral("共用字串表第 %1 個字串").arg(count + 1); });
            std::string text, pending;
            std::vector<std::size_t> ends;
            auto handOver = [&] {
                bool fits = true;
                {
                    std::lock_guard lock(mutex_);
                    std::size_t begin = 0;
                    for (const std::size_t end : ends) {
                        if (!(fits = strings_.add(std::string_view(pending).substr(begin, end - begin), limits.maxSharedStringBytes)))
                            break;
                        begin = end;
                    }
                }
                grown_.notify_all();
                pending.clear();
                ends.clear();
                if (!fits)
                    unreadable(path, QStringLiteral("共用字串表超過 %1 MB 的上限").arg(limits.maxSharedStringBytes >> 20));
            };
            for (Token t; (t = xml.next()) != Token::Eof;) {
                if (t == Token::Start && xml.name() == "sst" && xml.attribute("uniqueCount", text)) {
                    // A declared count is only a hint: never more than the part could hold.
                    const int declared = toInt(text, 0);
                    if (declared > 0 && declared < 4'000'000) {
                        std::lock_guard lock(mutex_);
                        strings_.reserve(static_cast<std::size_t>(declared));
                    }
                } else if (t == Token::Start && xml.name() == "si") {
                    if (leaving_.load(std::memory_order_relaxed))
                        return;
                    if (limits.stopRequested && (count & 0xFFF) == 0 && limits.stopRequested())
                        throw platform::Error(platform::errnum::Cancelled, QStringLiteral("已停止"));
                    readStringItem(xml, text);
                    pending += text;
                    ends.push_back(pending.size());
                    ++count;
                    if (ends.size() == kBatch || pending.size() >= kBatchBytes)
                        handOver();
                }
            }
            handOver();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            failure_ = failure;
            done_ = true;
        }
        grown_.notify_all();
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable grown_;
    SharedStrings strings_;
    bool done_ = true;
    std::exception_ptr failure_;
    std::atomic<bool> leaving_{false};
    std::thread thread_; // last: started once everything it uses is in place
};

struct Shared {
    QString path;
    WorkbookLimits limits;
    std::vector<bool> dateStyles; // by cell format index
    bool date1904 = false;
    StringTable strings; // last: destroyed (its reading stopped) first
};

struct RawCell {
    int column = 0;
    char type = 'n';
    int style = 0;
    bool hasValue = false;
    std::string value;
};

class XlsxSheet : public Worksheet {
public:
    XlsxSheet(std::shared_ptr<const Shared> shared, QString name, QString part)
        : shared_(std::move(shared)), name_(std::move(name)), part_(std::move(part))
    {
        restart();
    }

    QString name() const override { return name_; }

    qint64 lastUsedRow() override
    {
        if (firstRow_ < 0)
            scanUsedRows();
        return std::min(lastRow_, kMaxRows);
    }

    qint64 nextUsedRow(qint64 from) override
    {
        if (from == bufferedRow_ && cellCount_ > 0 && !ended_)
            return bufferedRow_;
        if (from <= bufferedRow_)
            restart();
        while (!ended_) {
            readNextRow();
            if (!ended_ && bufferedRow_ >= from && cellCount_ > 0)
                return bufferedRow_;
        }
        return 0;
    }

    CellValue cell(qint64 row, QStringView column) override
    {
        const int col = columnIndex(column);
        if (col < 0)
            throw platform::Error(platform::errnum::ObjectInvalid, QStringLiteral("無效的欄位名稱: ") + column.toString());
        if (row < bufferedRow_ || (ended_ && row == bufferedRow_)) // the last row, once read past, is gone
            restart();
        while (!ended_ && bufferedRow_ < row)
            readNextRow();
        if (bufferedRow_ != row)
            return {};
        for (std::size_t i = 0; i < cellCount_; ++i) {
            if (cells_[i].column == col)
                return convert(cells_[i], row);
        }
        return {};
    }

private:
    void restart()
    {
        part_reader_.reset();
        part_reader_ = std::make_unique<Part>(shared_->path, part_, shared_->limits);
        bufferedRow_ = 0;
        cellCount_ = 0;
        ended_ = false;
        placeColumn_ = -1;
        inRow_ = false;
        XmlScanner &xml = part_reader_->xml();
        xml.setPlace([this]() -> QString {
            if (inRow_)
                return cellPlace(name_, bufferedRow_, placeColumn_);
            return cellPlace(name_, 0, -1) + (bufferedRow_ > 0 ? QStringLiteral(" 第 %1 列之後").arg(bufferedRow_) : QString());
        });
        std::string ref;
        for (;;) {
            const Token t = xml.next();
            if (t == Token::Eof) {
                reachEnd();
                return;
            }
            if (t != Token::Start)
                continue;
            if (xml.name() == "dimension" && firstRow_ < 0 && xml.attribute("ref", ref)) {
                const auto colon = ref.find(':');
                firstRow_ = rowOfReference(std::string_view(ref).substr(0, colon));
                lastRow_ = colon == std::string::npos ? firstRow_ : rowOfReference(std::string_view(ref).substr(colon + 1));
                if (firstRow_ <= 0 || lastRow_ < firstRow_)
                    firstRow_ = -1; // unusable: count the rows instead
            } else if (xml.name() == "sheetData") {
                return;
            }
        }
    }

    // The sheet is read to its end: a shared-string table that could not be read whole fails the
    // reading here, whichever strings the sheet named.
    void reachEnd()
    {
        ended_ = true;
        cellCount_ = 0;
        shared_->strings.finish();
    }

    void scanUsedRows()
    {
        Part part(shared_->path, part_, shared_->limits);
        XmlScanner &xml = part.xml();
        qint64 first = 0, last = 0, previous = 0;
        bool inRow = false;
        xml.setPlace([&]() -> QString {
            if (inRow)
                return cellPlace(name_, previous, -1);
            return cellPlace(name_, 0, -1) + (previous > 0 ? QStringLiteral(" 第 %1 列之後").arg(previous) : QString());
        });
        std::string r;
        for (Token t; (t = xml.next()) != Token::Eof;) {
            if (t == Token::Start && xml.name() == "row") {
                const qint64 row = xml.attribute("r", r) ? rowOfReference(r) : previous + 1;
                previous = row;
                inRow = true;
                // A row counts when it holds at least one cell.
                bool hasCell = false;
                for (Token u; (u = xml.next()) != Token::End || xml.name() != "row";) {
                    if (u == Token::Start && xml.name() == "c") {
                        hasCell = true;
                        xml.skipElement(); // its content is read, and judged, with the row
                    }
                    if (u == Token::Eof)
                        xml.fail(QStringLiteral("列沒有結束"));
                }
                inRow = false;
                if (hasCell) {
                    if (first == 0)
                        first = row;
                    last = std::max(last, row);
                }
            }
        }
        firstRow_ = first;
        lastRow_ = last;
    }

    void readNextRow()
    {
        XmlScanner &xml = part_reader_->xml();
        std::string attr;
        inRow_ = false;
        placeColumn_ = -1;
        for (;;) {
            const Token t = xml.next();
            if (t == Token::Eof || (t == Token::End && xml.name() == "sheetData")) {
                reachEnd();
                return;
            }
            if (t == Token::Start && xml.name() == "row")
                break;
            if (t == Token::Start)
                xml.skipElement();
        }
        bufferedRow_ = xml.attribute("r", attr) ? rowOfReference(attr) : bufferedRow_ + 1;
        if (bufferedRow_ < 1 || bufferedRow_ > kMaxRows)
            unreadable(shared_->path, QStringLiteral("工作表 ") + name_ + QStringLiteral(" 有超出工作表範圍的列號（1 到 1048576）"));
        cellCount_ = 0;
        inRow_ = true;
        int previousColumn = -1;
        qint64 rowBytes = 0;
        for (;;) {
            placeColumn_ = -1;
            const Token t = xml.next();
            if (t == Token::End && xml.name() == "row")
                return;
            if (t == Token::Eof)
                xml.fail(QStringLiteral("列沒有結束"));
            if (t != Token::Start)
                continue;
            if (xml.name() != "c") {
                xml.skipElement();
                continue;
            }
            if (cellCount_ == cells_.size()) {
                if (cells_.size() >= static_cast<std::size_t>(kMaxColumns))
                    unreadable(shared_->path, QStringLiteral("工作表 ") + name_ + QStringLiteral(" 第 %1 列的儲存格超過工作表的上限 %2 欄")
                                                                          .arg(bufferedRow_)
                                                                          .arg(kMaxColumns));
                cells_.emplace_back();
            }
            RawCell &cell = cells_[cellCount_++];
            cell.column = previousColumn + 1;
            cell.type = 'n';
            cell.style = 0;
            xml.forEachAttribute([&cell](std::string_view name, std::string_view value) {
                if (name == "r")
                    cell.column = columnOfReference(value);
                else if (name == "t" && !value.empty())
                    cell.type = typeCode(value);
                else if (name == "s")
                    cell.style = toInt(value, 0);
            });
            if (cell.column < 0 || cell.column >= kMaxColumns)
                unreadable(shared_->path, QStringLiteral("工作表 ") + name_ + QStringLiteral(" 第 %1 列有超出工作表範圍的儲存格位置（最多 3 個欄位字母，XFD）")
                                                                      .arg(bufferedRow_));
            previousColumn = cell.column;
            placeColumn_ = cell.column;
            cell.hasValue = false;
            cell.value.clear();
            readCellContent(xml, cell);
            rowBytes += static_cast<qint64>(cell.value.size());
            if (rowBytes > kMaxRowBytes)
                rowTooLong(shared_->path, name_, bufferedRow_);
        }
    }

    static char typeCode(std::string_view t)
    {
        if (t == "s")
            return 's';
        if (t == "inlineStr")
            return 'i';
        if (t == "str")
            return 'S';
        if (t == "b")
            return 'b';
        if (t == "e")
            return 'e';
        if (t == "d")
            return 'd';
        return 'n';
    }

    void readCellContent(XmlScanner &xml, RawCell &cell)
    {
        for (;;) {
            const Token t = xml.next();
            if (t == Token::End && xml.name() == "c")
                return;
            if (t == Token::Eof)
                xml.fail(QStringLiteral("儲存格沒有結束"));
            if (t != Token::Start)
                continue;
            if (xml.name() == "v") {
                xml.readElementText(cell.value);
                cell.hasValue = true;
            } else if (xml.name() == "is") {
                readStringItem(xml, cell.value);
                cell.hasValue = true;
            } else {
                xml.skipElement(); // formulas and anything else: the cached value is what counts
            }
        }
    }

    CellValue convert(const RawCell &raw, qint64 row) const
    {
        CellValue v;
        if (!raw.hasValue)
            return v;
        auto bad = [&](const char *what) -> CellValue {
            throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法讀取活頁簿: 工作表 ") + name_ + QStringLiteral(" 儲存格 ")
                                                    + columnLetters(raw.column) + QString::number(row) + QStringLiteral(" ")
                                                    + QString::fromLatin1(what));
        };
        switch (raw.type) {
        case 's': {
            const int index = toInt(raw.value);
            std::optional<QString> text;
            if (index < 0 || !(text = shared_->strings.at(static_cast<std::size_t>(index))))
                return bad("refers to a shared string that does not exist");
            v.kind = CellValue::Kind::Text;
            v.text = std::move(*text);
            return v;
        }
        case 'i':
        case 'S':
            v.kind = CellValue::Kind::Text;
            v.text = QString::fromUtf8(raw.value);
            return v;
        case 'b':
            v.kind = CellValue::Kind::Boolean;
            v.number = raw.value == "1" || raw.value == "true" ? 1 : 0;
            return v;
        case 'e':
            v.kind = CellValue::Kind::Error;
            v.text = QString::fromUtf8(raw.value);
            return v;
        case 'd': {
            const QDateTime dt = QDateTime::fromString(QString::fromUtf8(raw.value), Qt::ISODate);
            if (!dt.isValid())
                return bad("holds a date that cannot be read");
            const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
            QDateTime utc(dt.date(), dt.time(), Qt::UTC);
            v.kind = CellValue::Kind::DateTime;
            v.number = static_cast<double>(epoch.msecsTo(utc)) / 86400000.0;
            return v;
        }
        default: {
            std::string_view text = raw.value;
            while (!text.empty() && (text.front() == ' ' || text.front() == '+'))
                text.remove_prefix(1);
            double number = 0;
            const auto r = std::from_chars(text.data(), text.data() + text.size(), number);
            if (r.ec != std::errc() || r.ptr != text.data() + text.size())
                return bad("holds a number that cannot be read");
            const bool isDate = raw.style >= 0 && static_cast<std::size_t>(raw.style) < shared_->dateStyles.size()
                && shared_->dateStyles[static_cast<std::size_t>(raw.style)];
            v.kind = isDate ? CellValue::Kind::DateTime : CellValue::Kind::Number;
            v.number = isDate && shared_->date1904 ? number + 1462 : number;
            return v;
        }
        }
    }

    std::shared_ptr<const Shared> shared_;
    QString name_;
    QString part_;
    std::unique_ptr<Part> part_reader_;
    qint64 firstRow_ = -1;
    qint64 lastRow_ = -1;
    qint64 bufferedRow_ = 0;
    bool ended_ = false;
    // Where the reading is, for a refusal: in row bufferedRow_ (or after it), in a cell or not.
    bool inRow_ = false;
    int placeColumn_ = -1;
    std::vector<RawCell> cells_;
    std::size_t cellCount_ = 0;
};

} // namespace

XlsxWorkbook::XlsxWorkbook(const QString &path, const WorkbookLimits &limits)
{
    auto shared = std::make_shared<Shared>();
    shared->path = path;
    shared->limits = limits;

    { const Zip probe(path); } // not a zip: refused here with a clear message

    // The workbook part, by the package's relationships.
    QString workbookPart = QStringLiteral("xl/workbook.xml");
    for (const auto &[id, rel] : readRelationships(path, QStringLiteral("_rels/.rels"), QString(), limits)) {
        if (rel.type.endsWith(QStringLiteral("/officeDocument")))
            workbookPart = rel.target;
    }
    const QString folder = QFileInfo(workbookPart).path() == QStringLiteral(".") ? QString() : QFileInfo(workbookPart).path();
    const auto rels = readRelationships(
        path, (folder.isEmpty() ? QString() : folder + u'/') + QStringLiteral("_rels/") + QFileInfo(workbookPart).fileName()
                  + QStringLiteral(".rels"),
        folder, limits);

    QString sharedStringsPart, stylesPart;
    for (const auto &[id, rel] : rels) {
        if (rel.type.endsWith(QStringLiteral("/sharedStrings")))
            sharedStringsPart = rel.target;
        else if (rel.type.endsWith(QStringLiteral("/styles")))
            stylesPart = rel.target;
    }

    {
        Part part(path, workbookPart, limits);
        XmlScanner &xml = part.xml();
        std::string name, rid, value;
        for (Token t; (t = xml.next()) != Token::Eof;) {
            if (t != Token::Start)
                continue;
            if (xml.name() == "workbookPr" && xml.attribute("date1904", value))
                shared->date1904 = value == "1" || value == "true";
            else if (xml.name() == "sheet" && xml.attribute("name", name) && xml.attribute("id", rid)) {
                const auto rel = rels.find(QString::fromStdString(rid));
                if (rel == rels.end())
                    unreadable(path, QStringLiteral("工作表 ") + QString::fromStdString(name) + QStringLiteral(" 沒有內容"));
                // Chart sheets and the like hold no cells; only worksheets are listed.
                if (rel->second.type.endsWith(QStringLiteral("/worksheet")))
                    sheets_.push_back({QString::fromStdString(name), rel->second.target});
            }
        }
    }
    if (sheets_.empty())
        unreadable(path, QStringLiteral("活頁簿中沒有工作表"));

    if (!stylesPart.isEmpty() && partExists(path, stylesPart)) {
        Part part(path, stylesPart, limits);
        XmlScanner &xml = part.xml();
        std::unordered_map<int, bool> customDate;
        std::string id, code;
        bool inCellXfs = false;
        for (Token t; (t = xml.next()) != Token::Eof;) {
            if (t == Token::Start && xml.name() == "numFmt" && xml.attribute("numFmtId", id)
                && xml.attribute("formatCode", code)) {
                customDate[toInt(id)] = isDateFormatCode(QString::fromStdString(code));
            } else if (t == Token::Start && xml.name() == "cellXfs") {
                inCellXfs = true;
            } else if (t == Token::End && xml.name() == "cellXfs") {
                inCellXfs = false;
            } else if (t == Token::Start && inCellXfs && xml.name() == "xf") {
                const int fmt = xml.attribute("numFmtId", id) ? toInt(id, 0) : 0;
                const auto custom = customDate.find(fmt);
                shared->dateStyles.push_back(custom != customDate.end() ? custom->second : isBuiltInDateFormat(fmt));
            }
        }
    }

    if (!sharedStringsPart.isEmpty() && partExists(path, sharedStringsPart))
        shared->strings.start(path, sharedStringsPart, limits);
    shared_ = std::move(shared);
}

XlsxWorkbook::~XlsxWorkbook() = default;

QStringList XlsxWorkbook::worksheetNames() const
{
    return sheetNames(sheets_);
}

std::unique_ptr<Worksheet> XlsxWorkbook::worksheet(const QString &name)
{
    const auto &sheet = sheetNamed(sheets_, name);
    return std::make_unique<XlsxSheet>(std::static_pointer_cast<const Shared>(shared_), sheet.name, sheet.part);
}

} // namespace talvesk::workbook
