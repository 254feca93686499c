#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdio>
#include <memory>
#include <optional>

namespace talvesk::platform {

// The longest line the reader keeps whole. The bank's and the stores' records are about a hundred
// bytes; a longer line is no record, and only its first kKeptLineBytes are kept, however long.
inline constexpr qint64 kMaxLineBytes = qint64(64) << 10;
inline constexpr qsizetype kKeptLineBytes = 128;

struct TextLine {
    qint64 number = 0; // 1-based
    QByteArray bytes;  // as in the file, without its line end (only the first bytes when tooLong())
    QString text;      // decoded; only what could be decoded when `decoded` is false
    bool decoded = true;
    qint64 length = 0; // the line's bytes in the file, without its line end
    bool blank() const { return QStringView(text).trimmed().isEmpty() && decoded; }
    bool tooLong() const { return length > kMaxLineBytes; }
};

// The lines of a text file in code page 950 (or UTF-8 when the file starts with a byte-order
// mark). A line ends at CR, CR LF or LF. Opening throws Error: 53 for a missing file, 70 when it
// may not be read, 57 for a device failure, 75 for anything else that keeps it from being read;
// the file is read as the lines are, so next() throws the same when reading fails later. A line
// past kMaxLineBytes is read past without being kept: memory stays within two reads.
class TextLineReader {
public:
    explicit TextLineReader(const QString &path);
    bool next(TextLine &line);

private:
    void makeDecoder();
    bool fill();

    QString path_;
    std::unique_ptr<FILE, int (*)(FILE *)> file_{nullptr, &std::fclose};
    // The bytes read but not yet taken as lines: a window, so that memory does not grow with the file.
    QByteArray content_;
    bool utf8_ = false;
    qsizetype pos_ = 0;
    qint64 number_ = 0;
    std::optional<QStringDecoder> decoder_; // built in place: a moved ICU decoder loses its error flag
};

} // namespace talvesk::platform
