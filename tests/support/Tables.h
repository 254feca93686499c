#pragma once

#include "platform/AppFolder.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace talvesk::test {

// Every row of a table in table order, each as its column texts.
std::vector<QStringList> tableRows(const platform::AppFolder &app, const QString &table);
// Runs statements against the application's database (test setup only).
void execute(const platform::AppFolder &app, const char *sql);
// One receivable: name, number, memo, account, total; the payment columns empty.
void addReceivable(const platform::AppFolder &app, const QString &account, const QString &total,
                   const QString &name = QStringLiteral("客戶"));

} // namespace talvesk::test
