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
    file_.reset(std::fopen(toFsPath(path).c_str(), "rb"));
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
    if (utf8_)
        decoder_.emplace(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    else
        decoder_.emplace("windows-950", QStringConverter::Flag::Stateless);
}

bool TextLineReader::next(TextLine &line)
{
    while (pos_ >= content_.size()) {
        if (!fill())
            return false;
    }
    // The line's end, reading on while it is not in the window (nor, after a CR, what follows it).
    qsizetype scanned = 0;
    qsizetype end;
    for (;;) {
        end = pos_ + scanned;
        const char *const at = content_.constData();
        const qsizetype size = content_.size();
        while (end < size && at[end] != '\r' && at[end] != '\n')
            ++end;
        const bool needMore = end == content_.size() || (content_.at(end) == '\r' && end + 1 == content_.size());
        if (!needMore || !file_)
            break;
        scanned = end - pos_;
        fill();
    }
    const char *data = content_.constData();
    const qsizetype length = end - pos_;
    line.number = ++number_;
    // The line's buffers are reused from line to line: a million lines, no allocation each.
    line.bytes.resize(length);
    std::memcpy(line.bytes.data(), data + pos_, static_cast<std::size_t>(length));
    // Any byte with its top bit set (one pass with no early exit, which the compiler vectorises).
    unsigned char high = 0;
    for (qsizetype i = 0; i < length; ++i)
        high |= static_cast<unsigned char>(data[pos_ + i]);
    const bool ascii = high < 0x80;
    if (ascii) {
        // Plain ASCII reads the same in every code page the program meets.
        line.text.resize(length);
        char16_t *out = reinterpret_cast<char16_t *>(line.text.data());
        for (qsizetype i = 0; i < length; ++i)
            out[i] = static_cast<unsigned char>(data[pos_ + i]);
        line.decoded = true;
    } else if (!utf8_ && codec950::decodeValid(line.bytes, line.text)) {
        line.decoded = true;
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
    pos_ = end;
    if (pos_ < content_.size() && data[pos_] == '\r')
        ++pos_;
    if (pos_ < content_.size() && data[pos_] == '\n')
        ++pos_;
    return true;
}

} // namespace talvesk::platform
