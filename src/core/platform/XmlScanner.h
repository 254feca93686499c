#pragma once

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace talvesk::platform {

// A small forward-only XML tokenizer for the parts of a workbook. It reads the device in chunks,
// so memory stays bounded by the largest token, and it is several times faster than a general
// parser on sheet data. Names are compared by their local part (a prefix such as "x:" is
// dropped). Document type declarations are refused, so no entity can expand. Any malformed
// input, or more than `maxBytes` of it, throws Error.
class XmlScanner {
public:
    enum class Token { Start, End, Text, Eof };

    // Reads up to `size` bytes into `data`; returns the count, 0 at the end, or -1 on failure.
    using Source = std::function<qint64(char *data, qint64 size)>;

    XmlScanner(Source source, qint64 maxBytes, QString partName);

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

    [[noreturn]] void fail(const char *what) const;

private:
    bool fill();
    std::size_t find(char c, std::size_t from);
    std::size_t findSeq(std::string_view seq, std::size_t from);
    std::size_t findTagEnd(std::size_t from);
    void decodeInto(std::string_view raw, std::string &out) const;

    Source source_;
    qint64 maxBytes_;
    qint64 total_ = 0;
    QString partName_;
    bool eof_ = false;

    std::string buffer_;
    std::size_t pos_ = 0;
    std::size_t chunk_ = 16 << 10; // grows to the full chunk as the part is read

    std::string_view name_;
    std::string_view attributes_;
    bool pendingEnd_ = false;
    std::string text_;
    std::vector<std::string> open_;
};

} // namespace talvesk::platform
