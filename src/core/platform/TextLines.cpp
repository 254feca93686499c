#include "platform/TextLines.h"

#include "platform/Error.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace talvesk::platform {

TextLineReader::TextLineReader(const QString &path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(toFsPath(path), ec);
    if (path.trimmed().isEmpty() || !std::filesystem::exists(status))
        throw Error(errnum::FileNotFound, QStringLiteral("找不到檔案：") + path);
    requireRegularFile(path);
    FILE *file = std::fopen(toFsPath(path).c_str(), "rb");
    if (!file)
        throw fileError(errno, path);
    char buffer[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        content_.append(buffer, static_cast<qsizetype>(n));
        if (n < sizeof buffer) {
            const bool failed = std::ferror(file);
            const int savedErrno = errno;
            std::fclose(file);
            if (failed)
                throw fileError(savedErrno ? savedErrno : EIO, path);
            break;
        }
    }
    utf8_ = content_.startsWith("\xEF\xBB\xBF");
    if (utf8_)
        pos_ = 3;
    makeDecoder();
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
    if (pos_ >= content_.size())
        return false;
    qsizetype end = pos_;
    const char *data = content_.constData();
    while (end < content_.size() && data[end] != '\r' && data[end] != '\n')
        ++end;
    line.number = ++number_;
    line.bytes = content_.mid(pos_, end - pos_);
    bool ascii = true;
    for (const char c : line.bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        // Plain ASCII reads the same in every code page the program meets.
        line.text = QString::fromLatin1(line.bytes);
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
