#pragma once

#include "platform/AppFolder.h"
#include "platform/Error.h"
#include "platform/TextLines.h"

#include <QString>

#include <functional>
#include <vector>

namespace talvesk::payments {

struct TextImportCounts {
    qint64 applied = 0;  // records written
    qint64 abnormal = 0; // lines reported in ErrLog.txt
    bool logWritten = false;
};

struct TextImportObserver {
    std::function<void(const TextImportCounts &counts)> lineDone;
};

// An import of a fixed-position text file. Throws platform::Error on the first failure; the
// records before it stay applied.
class TextImport {
public:
    virtual ~TextImport() = default;
    virtual TextImportCounts run(const QString &path, const TextImportObserver &observer) = 0;
};

// The lines a run could not use, written to ErrLog.txt in the application folder (code page 950,
// CR LF): line number, reason, and the line itself.
class ErrorLog {
public:
    void add(const platform::TextLine &line, const QString &reason);
    bool empty() const { return entries_.empty(); }
    // Writes the log when it holds anything. Throws platform::Error.
    void write(const QString &path) const;
    // The same, for a run that is already failing: a failure to write is not reported over it.
    void writeQuietly(const QString &path) const noexcept;

private:
    std::vector<QString> entries_;
};

// Runs `body(log, counts)` and writes what it logged to ErrLog.txt; when the body fails, what it
// had logged is written all the same, so nothing found is lost.
template <typename Body>
TextImportCounts withErrorLog(const platform::AppFolder &app, Body &&body)
{
    TextImportCounts counts;
    ErrorLog log;
    try {
        body(log, counts);
    } catch (const platform::Error &) {
        log.writeQuietly(app.errorLogFile());
        throw;
    }
    log.write(app.errorLogFile());
    counts.logWritten = !log.empty();
    return counts;
}

// Whether a fixed-position amount field holds only digits and blanks (an empty one does).
bool isDigitsAndBlanks(const QString &field);
// A fixed-position amount through the number pattern "####0": the whole number without leading
// zeros when the trimmed field is all digits, otherwise the trimmed field as it is.
QString fixedAmountText(const QString &field);
// Characters of a line at 1-based positions, only those that exist.
inline QString field(const QString &line, int position, int length)
{
    return line.mid(position - 1, length);
}

} // namespace talvesk::payments
