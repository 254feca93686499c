#include "platform/TextLines.h"

#include "platform/Codec950.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace talvesk::platform {

TextLineReader::TextLineReader(const QString &path) : path_(path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(toFsPath(path), ec);
    if (path.trimmed().isEmpty() || !std::filesystem::exists(status))
        throw Error(errnum::FileNotFound, QStringLiteral("找不到檔案：") + path);
    requireRegularFile(path);
    file_.reset(openFile(path, "rb"));
    if (!file_)
        throw fileError(errno, path);
    fill();
    utf8_ = content_.startsWith("\xEF\xBB\xBF");
    if (utf8_)
        pos_ = 3;
    makeDecoder();
}

// Reads the next chunk after the bytes not yet taken; false at the end of the file.
bool TextLineReader::fill()
{
    if (!file_)
        return false;
    content_.remove(0, pos_);
    pos_ = 0;
    char buffer[1 << 16];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file_.get());
    content_.append(buffer, static_cast<qsizetype>(n));
    if (n < sizeof buffer) {
        const bool failed = std::ferror(file_.get());
        const int savedErrno = errno;
        file_.reset();
        if (failed)
            throw fileError(savedErrno ? savedErrno : EIO, path_);
    }
    return n > 0;
}

void TextLineReader::makeDecoder()
{
    // Code page 950 goes through the platform's codec (Qt's converters know it only with ICU).
    if (utf8_)
        decoder_.emplace(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
}

bool TextLineReader::next(TextLine &line)
{
    while (pos_ >= content_.size()) {
        if (!fill())
            return false;
    }
    // The line's end, reading on while it is not in the window (nor, after a CR, what follows it).
    // A line grown past any record keeps its first bytes; the rest is dropped as it is read.
    qsizetype scanned = 0;
    qsizetype end;
    qint64 dropped = 0;
    for (;;) {
        end = pos_ + scanned;
        const char *const at = content_.constData();
        const qsizetype size = content_.size();
        while (end < size && at[end] != '\r' && at[end] != '\n')
            ++end;
        const bool needMore = end == content_.size() || (content_.at(end) == '\r' && end + 1 == content_.size());
        if (!needMore || !file_)
            break;
        if (end - pos_ > kMaxLineBytes) {
            if (dropped == 0)
                line.bytes = content_.mid(pos_, kKeptLineBytes);
            dropped += end - pos_;
            pos_ = end;
        }
        scanned = end - pos_;
        fill();
    }
    line.number = ++number_;
    line.length = dropped + (end - pos_);
    // The line's buffers are reused from line to line: a million lines, no allocation each.
    if (!line.tooLong()) {
        line.bytes.resize(end - pos_);
        std::memcpy(line.bytes.data(), content_.constData() + pos_, static_cast<std::size_t>(end - pos_));
    } else if (dropped == 0) {
        line.bytes = content_.mid(pos_, kKeptLineBytes);
    }
    const char *data = line.bytes.constData();
    const qsizetype length = line.bytes.size();
    // Any byte with its top bit set (one pass with no early exit, which the compiler vectorises).
    unsigned char high = 0;
    for (qsizetype i = 0; i < length; ++i)
        high |= static_cast<unsigned char>(data[i]);
    const bool ascii = high < 0x80;
    if (ascii) {
        // Plain ASCII reads the same in every code page the program meets.
        line.text.resize(length);
        char16_t *out = reinterpret_cast<char16_t *>(line.text.data());
        for (qsizetype i = 0; i < length; ++i)
            out[i] = static_cast<unsigned char>(data[i]);
        line.decoded = true;
    } else if (!utf8_) {
        line.decoded = codec950::decodeValid(line.bytes, line.text);
        if (!line.decoded)
            line.text = codec950::decode(line.bytes, &line.decoded);
    } else {
        line.text = decoder_->decode(line.bytes);
        line.decoded = !decoder_->hasError();
        // Resetting a decoder does not clear its error flag: after a line that could not be
        // decoded, the next line gets a decoder of its own, or it would be judged undecodable too.
        if (!line.decoded)
            makeDecoder();
        else
            decoder_->resetState();
    }
    const char *const at = content_.constData();
    pos_ = end;
    if (pos_ < content_.size() && at[pos_] == '\r')
        ++pos_;
    if (pos_ < content_.size() && at[pos_] == '\n')
        ++pos_;
    return true;
}

} // namespace talvesk::platform
