#pragma once

#include "db/Journal.h"

#include <QString>

#include <vector>

namespace talvesk::db {

// The problem lines of a journal entry saved for the operator, under a header row 「行/列」
// 「原因」「內容」. Both are complete files or nothing (written under a scratch name, then renamed).
// Throws platform::Error.
void saveProblemLinesAsXlsx(const std::vector<ProblemLine> &lines, const QString &path);
// UTF-8 with a byte-order mark (so spreadsheet programs read the Chinese right), CR LF, fields
// quoted where they hold a comma, a quote or a line break.
void saveProblemLinesAsCsv(const std::vector<ProblemLine> &lines, const QString &path);

} // namespace talvesk::db
