#pragma once

#include "workbook/SheetCells.h"

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace talvesk::workbook {

// A small forward-only XML tokenizer for the parts of a workbook. It reads the device in chunks
// and is several times faster than a general parser on sheet data. Names are compared by their
// local part (a prefix such as "x:" is dropped). Document type declarations are refused, so no
// entity can expand. Any malformed input, or more than `maxBytes` of it, throws Error.
//
// Memory stays within a couple of reads whatever the part holds: a tag, a run of text (blanks
// too) or an element's text past kMaxTokenBytes is refused, naming the place the reader sets;
// comments, processing instructions and whatever skipElement() passes over are read through once
// and never kept, however long.
class XmlScanner {
public:
    enum class Token { Start, End, Text, Eof };

    // Reads up to `size` bytes into `data`; returns the count, 0 at the end, or -1 on failure.
    using Source = std::function<qint64(char *data, qint64 size)>;

    // The most bytes one tag, one run of text or one element's text may take: a cell's bound.
    static constexpr qint64 kMaxTokenBytes = kMaxCellBytes;
    // The most elements open inside one another; a worksheet needs a handful.
    static constexpr std::size_t kMaxDepth = 256;

    // `path` is the workbook's, `partName` the part's, for refusals.
    XmlScanner(Source source, qint64 maxBytes, QString path, QString partName);

    // Says where the scanner is ("工作表 S 第 3 列 B 欄") when something is refused as too long;
    // the part's name when unset.
    void setPlace(std::function<QString()> place) { place_ = std::move(place); }

    Token next();
    // Local name of the element of the last Start or End.
    std::string_view name() const { return name_; }
    // The decoded value of an attribute of the last Start, by local name.
    bool attribute(std::string_view localName, std::string &value) const;
    // Every attribute of the last Start: local name and raw (not entity-decoded) value.
    void forEachAttribute(const std::function<void(std::string_view, std::string_view)> &visit) const;
    // The decoded text of the last Text token (valid until the next call).
    const std::string &text() const { return text_; }
    // After a Start: skips everything up to and including its End.
    void skipElement();
    // After a Start: the concatenated text directly and deeply inside, up to its End.
    void readElementText(std::string &out);

    [[noreturn]] void fail(const QString &what) const;
    // Refuses the part: what is read at the place set holds more than a cell can.
    [[noreturn]] void tooLong() const;

private:
    bool fill();
    std::size_t findWithin(char c, std::size_t from);
    std::size_t findSeqWithin(std::string_view seq, std::size_t from);
    std::size_t findTagEnd(std::size_t from);
    bool passPast(std::string_view seq, std::size_t from);
    void passText(bool blanksOnly);
    void refuseLongToken() const;
    void decodeInto(std::string_view raw, std::string &out) const;

    Source source_;
    qint64 maxBytes_;
    qint64 total_ = 0;
    QString path_;
    QString partName_;
    std::function<QString()> place_;
    bool eof_ = false;
    bool skipping_ = false; // inside skipElement(): text is passed over, not kept
    bool rootClosed_ = false;

    std::string buffer_;
    std::size_t pos_ = 0;
    std::size_t chunk_ = 16 << 10; // grows to the full chunk as the part is read

    std::string_view name_;
    std::string_view attributes_;
    bool pendingEnd_ = false;
    std::string text_;
    std::vector<std::string> open_;
};

} // namespace talvesk::workbook
