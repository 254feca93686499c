// The text-line reader reads the file a window at a time: lines and their ends must come out the
// same wherever the window's edges fall.
#include "platform/TextLines.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

std::vector<QByteArray> readLines(const QString &path)
{
    platform::TextLineReader reader(path);
    std::vector<QByteArray> lines;
    platform::TextLine line;
    while (reader.next(line)) {
        EXPECT_EQ(line.number, static_cast<qint64>(lines.size()) + 1);
        lines.push_back(line.bytes);
    }
    return lines;
}

} // namespace

TEST(TextLines, LinesAndTheirEndsSurviveEveryEdgeOfTheReadingWindow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bank.txt"));
    // Around each multiple of 64 KiB, put a CR LF split across the edge, a lone CR and a lone LF
    // on it, a line longer than the window (and than any record), and no line end after the last
    // line.
    for (qsizetype shift : {-2, -1, 0, 1}) {
        SCOPED_TRACE(shift);
        std::vector<QByteArray> expected;
        QByteArray content = "\xEF\xBB\xBF";
        auto add = [&](const QByteArray &line, const char *end) {
            // A line past any record keeps only its first bytes.
            expected.push_back(line.size() > platform::kMaxLineBytes ? line.left(platform::kKeptLineBytes) : line);
            content += line + end;
        };
        add(QByteArray(65536 - 3 + shift - 2, 'a'), "\r\n"); // its CR LF falls on the first edge
        add("short", "\r");
        add(QByteArray(65536 + shift - 6 - 1, 'b'), "\n");
        add(QByteArray(200000, 'c'), "\r\n");
        add("", "\r\n");
        add("last", "");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
        file.close();
        EXPECT_EQ(readLines(path), expected);
    }
}
