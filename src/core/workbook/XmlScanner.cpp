#include "workbook/XmlScanner.h"

#include "platform/Error.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cstring>

namespace talvesk::workbook {

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t npos = std::string::npos;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view localPart(std::string_view name)
{
    const auto colon = name.find(':');
    return colon == npos ? name : name.substr(colon + 1);
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

XmlScanner::XmlScanner(Source source, qint64 maxBytes, QString path, QString partName)
    : source_(std::move(source)), maxBytes_(maxBytes), path_(std::move(path)), partName_(std::move(partName))
{
}

void XmlScanner::fail(const QString &what) const
{
    throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("活頁簿內容損毀 (") + QFileInfo(path_).fileName()
                                            + QStringLiteral(" 的 ") + partName_ + QStringLiteral("): ") + what);
}

void XmlScanner::tooLong() const
{
    cellTooLong(path_, place_ ? place_() : partName_ + QStringLiteral(" 中"));
}

// A token still open after more than kMaxTokenBytes from its start is refused before the next read.
void XmlScanner::refuseLongToken() const
{
    if (static_cast<qint64>(buffer_.size() - pos_) > kMaxTokenBytes)
        tooLong();
}

bool XmlScanner::fill()
{
    if (eof_)
        return false;
    // Drop what has been consumed; string views into it are dead from here on.
    if (pos_ > 0) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    // Small parts (relationships, the workbook) need no large buffer; a worksheet soon reads in
    // full-size chunks.
    const std::size_t chunk = chunk_;
    chunk_ = std::min(chunk_ * 4, kChunk);
    const std::size_t old = buffer_.size();
    buffer_.resize(old + chunk);
    const qint64 n = source_(buffer_.data() + old, static_cast<qint64>(chunk));
    if (n < 0)
        fail(QStringLiteral("無法解壓縮"));
    buffer_.resize(old + static_cast<std::size_t>(n));
    total_ += n;
    if (total_ > maxBytes_)
        fail(QStringLiteral("組件超過活頁簿組件的大小上限"));
    if (n == 0)
        eof_ = true;
    return n > 0;
}

// The next `c` from `from`, reading on; refused when the token from pos_ grows too long.
std::size_t XmlScanner::findWithin(char c, std::size_t from)
{
    for (;;) {
        if (from < buffer_.size()) {
            const void *hit = std::memchr(buffer_.data() + from, c, buffer_.size() - from);
            if (hit)
                return static_cast<std::size_t>(static_cast<const char *>(hit) - buffer_.data());
        }
        refuseLongToken();
        const std::size_t offset = buffer_.size() - pos_;
        if (!fill())
            return npos;
        from = pos_ + offset;
    }
}

std::size_t XmlScanner::findSeqWithin(std::string_view seq, std::size_t from)
{
    for (;;) {
        const auto hit = std::string_view(buffer_).find(seq, from);
        if (hit != npos)
            return hit;
        refuseLongToken();
        // Only the last bytes could begin `seq` once more is read.
        const std::size_t offset = std::max(from, buffer_.size() - std::min(buffer_.size(), seq.size() - 1)) - pos_;
        if (!fill())
            return npos;
        from = pos_ + offset;
    }
}

// Passes over everything up to and including the next `seq` from `from`, keeping none of it: one
// pass however long it is, and no more memory than a read. False when the part ends first.
bool XmlScanner::passPast(std::string_view seq, std::size_t from)
{
    for (;;) {
        const auto hit = std::string_view(buffer_).find(seq, from);
        if (hit != npos) {
            pos_ = hit + seq.size();
            return true;
        }
        // What was searched is dropped at the next read, but for the bytes that could begin `seq`.
        pos_ = std::max(from, buffer_.size() - std::min(buffer_.size(), seq.size() - 1));
        if (!fill())
            return false;
        from = pos_;
    }
}

// Passes over text up to the next '<' or the part's end without keeping it; outside the root
// element only blanks may be passed.
void XmlScanner::passText(bool blanksOnly)
{
    for (;;) {
        const void *hit = std::memchr(buffer_.data() + pos_, '<', buffer_.size() - pos_);
        const std::size_t end = hit ? static_cast<std::size_t>(static_cast<const char *>(hit) - buffer_.data()) : buffer_.size();
        if (blanksOnly) {
            for (std::size_t i = pos_; i < end; ++i) {
                if (!isSpace(buffer_[i]))
                    fail(QStringLiteral("文件結束後還有文字"));
            }
        }
        pos_ = end;
        if (hit || !fill())
            return;
    }
}

// The '>' that ends the tag starting at `from`, skipping any inside quoted attribute values.
std::size_t XmlScanner::findTagEnd(std::size_t from)
{
    static const auto special = [] {
        std::array<bool, 256> t{};
        t[static_cast<unsigned char>('>')] = t[static_cast<unsigned char>('<')] = true;
        t[static_cast<unsigned char>('"')] = t[static_cast<unsigned char>('\'')] = true;
        return t;
    }();
    std::size_t i = from;
    for (;;) {
        const char *data = buffer_.data();
        const std::size_t size = buffer_.size();
        while (i < size) {
            while (i < size && !special[static_cast<unsigned char>(data[i])])
                ++i;
            if (i >= size)
                break;
            const char c = data[i];
            if (c == '>')
                return i;
            if (c == '<')
                fail(QStringLiteral("標籤沒有結束"));
            const void *close = std::memchr(data + i + 1, c, size - i - 1);
            if (!close) {
                // The value goes on past the buffer: read more and look at this quote again.
                break;
            }
            i = static_cast<std::size_t>(static_cast<const char *>(close) - data) + 1;
        }
        refuseLongToken();
        const std::size_t offset = i - pos_;
        if (!fill())
            return npos;
        i = pos_ + offset;
    }
}

void XmlScanner::decodeInto(std::string_view raw, std::string &out) const
{
    out.clear();
    std::size_t i = 0;
    while (i < raw.size()) {
        const auto amp = raw.find('&', i);
        if (amp == npos) {
            out.append(raw.substr(i));
            break;
        }
        out.append(raw.substr(i, amp - i));
        const auto semi = raw.find(';', amp);
        if (semi == npos || semi - amp > 12)
            fail(QStringLiteral("實體參照沒有結束"));
        const std::string_view entity = raw.substr(amp + 1, semi - amp - 1);
        if (entity == "lt")
            out.push_back('<');
        else if (entity == "gt")
            out.push_back('>');
        else if (entity == "amp")
            out.push_back('&');
        else if (entity == "quot")
            out.push_back('"');
        else if (entity == "apos")
            out.push_back('\'');
        else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            char32_t cp = 0;
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            if (digits.empty())
                fail(QStringLiteral("字元參照是空的"));
            for (char d : digits) {
                int v;
                if (d >= '0' && d <= '9')
                    v = d - '0';
                else if (hex && d >= 'a' && d <= 'f')
                    v = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F')
                    v = d - 'A' + 10;
                else
                    fail(QStringLiteral("字元參照的格式不正確"));
                cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(v);
                if (cp > 0x10FFFF)
                    fail(QStringLiteral("字元參照超出範圍"));
            }
            appendUtf8(out, cp);
        } else {
            fail(QStringLiteral("有不明的實體參照"));
        }
        i = semi + 1;
    }
}

XmlScanner::Token XmlScanner::next()
{
    if (pendingEnd_) {
        pendingEnd_ = false;
        open_.pop_back();
        rootClosed_ = open_.empty();
        return Token::End;
    }
    for (;;) {
        if (pos_ >= buffer_.size() && !fill()) {
            if (!open_.empty())
                fail(QStringLiteral("組件在元素中途結束"));
            return Token::Eof;
        }
        if (buffer_[pos_] != '<') {
            // Before the root (a byte-order mark, blanks), after it (blanks only) and in what is
            // being skipped, text is passed over as it is read.
            if (open_.empty() || skipping_) {
                passText(rootClosed_);
                continue;
            }
            const std::size_t lt = findWithin('<', pos_);
            if (lt == npos)
                fail(QStringLiteral("組件在元素中途結束"));
            if (static_cast<qint64>(lt - pos_) > kMaxTokenBytes)
                tooLong();
            const std::string_view raw(buffer_.data() + pos_, lt - pos_);
            pos_ = lt;
            decodeInto(raw, text_);
            return Token::Text;
        }
        // A markup construct. Make sure its opening is in the buffer.
        while (buffer_.size() - pos_ < 9 && fill()) {
        }
        const std::string_view head(buffer_.data() + pos_, std::min<std::size_t>(9, buffer_.size() - pos_));
        if (head.substr(0, 2) == "<?") {
            if (!passPast("?>", pos_ + 2))
                fail(QStringLiteral("處理指令沒有結束"));
            continue;
        }
        if (head.substr(0, 4) == "<!--") {
            if (!passPast("-->", pos_ + 4))
                fail(QStringLiteral("註解沒有結束"));
            continue;
        }
        if (head == "<![CDATA[") {
            if (open_.empty())
                fail(QStringLiteral("根元素之外有文字"));
            if (skipping_) {
                if (!passPast("]]>", pos_ + 9))
                    fail(QStringLiteral("CDATA 區段沒有結束"));
                continue;
            }
            const auto end = findSeqWithin("]]>", pos_ + 9);
            if (end == npos)
                fail(QStringLiteral("CDATA 區段沒有結束"));
            if (static_cast<qint64>(end - pos_ - 9) > kMaxTokenBytes)
                tooLong();
            text_.assign(buffer_.data() + pos_ + 9, end - pos_ - 9);
            pos_ = end + 3;
            return Token::Text;
        }
        if (head.substr(0, 2) == "<!")
            fail(QStringLiteral("不接受文件類型宣告"));

        const std::size_t gt = findTagEnd(pos_ + 1);
        if (gt == npos)
            fail(QStringLiteral("組件在標籤中途結束"));
        if (static_cast<qint64>(gt - pos_) > kMaxTokenBytes)
            tooLong();
        std::string_view tag(buffer_.data() + pos_ + 1, gt - pos_ - 1);
        pos_ = gt + 1;
        if (!tag.empty() && tag[0] == '/') {
            tag.remove_prefix(1);
            while (!tag.empty() && isSpace(tag.back()))
                tag.remove_suffix(1);
            name_ = localPart(tag);
            if (open_.empty() || open_.back() != name_)
                fail(QStringLiteral("結束標籤與開始標籤不符"));
            open_.pop_back();
            rootClosed_ = open_.empty();
            return Token::End;
        }
        if (rootClosed_)
            fail(QStringLiteral("文件結束後還有元素"));
        const bool selfClosing = !tag.empty() && tag.back() == '/';
        if (selfClosing)
            tag.remove_suffix(1);
        std::size_t nameEnd = 0;
        while (nameEnd < tag.size() && !isSpace(tag[nameEnd]))
            ++nameEnd;
        if (nameEnd == 0)
            fail(QStringLiteral("標籤沒有名稱"));
        if (open_.size() >= kMaxDepth)
            fail(QStringLiteral("元素的層次超過 %1 層").arg(kMaxDepth));
        name_ = localPart(tag.substr(0, nameEnd));
        attributes_ = tag.substr(nameEnd);
        open_.emplace_back(name_);
        pendingEnd_ = selfClosing;
        return Token::Start;
    }
}

void XmlScanner::forEachAttribute(const std::function<void(std::string_view, std::string_view)> &visit) const
{
    std::string_view rest = attributes_;
    for (;;) {
        std::size_t i = 0;
        while (i < rest.size() && isSpace(rest[i]))
            ++i;
        if (i >= rest.size())
            return;
        const auto eq = rest.find('=', i);
        if (eq == npos)
            fail(QStringLiteral("屬性沒有值"));
        std::string_view name = rest.substr(i, eq - i);
        while (!name.empty() && isSpace(name.back()))
            name.remove_suffix(1);
        std::size_t q = eq + 1;
        while (q < rest.size() && isSpace(rest[q]))
            ++q;
        if (q >= rest.size() || (rest[q] != '"' && rest[q] != '\''))
            fail(QStringLiteral("屬性值沒有引號"));
        const auto close = rest.find(rest[q], q + 1);
        if (close == npos)
            fail(QStringLiteral("屬性值沒有結束"));
        visit(localPart(name), rest.substr(q + 1, close - q - 1));
        rest = rest.substr(close + 1);
    }
}

bool XmlScanner::attribute(std::string_view localName, std::string &value) const
{
    // Attributes are few, so going through all of them costs less than stopping early saves.
    bool found = false;
    forEachAttribute([&](std::string_view name, std::string_view raw) {
        if (!found && name == localName) {
            decodeInto(raw, value);
            found = true;
        }
    });
    return found;
}

void XmlScanner::skipElement()
{
    const std::size_t depth = open_.size();
    skipping_ = true;
    for (;;) {
        const Token t = next();
        if (t == Token::End && open_.size() < depth)
            break;
        if (t == Token::Eof)
            fail(QStringLiteral("組件在元素中途結束"));
    }
    skipping_ = false;
}

void XmlScanner::readElementText(std::string &out)
{
    out.clear();
    const std::size_t depth = open_.size();
    for (;;) {
        const Token t = next();
        if (t == Token::Text) {
            out += text_;
            if (static_cast<qint64>(out.size()) > kMaxTokenBytes)
                tooLong();
        } else if (t == Token::End && open_.size() < depth) {
            return;
        } else if (t == Token::Eof) {
            fail(QStringLiteral("組件在元素中途結束"));
        }
    }
}

} // namespace talvesk::workbook
