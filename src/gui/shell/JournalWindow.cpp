#include "shell/JournalWindow.h"

#include "db/Connection.h"
#include "db/ProblemLinesExport.h"
#include "db/TableExport.h"
#include "platform/Widgets.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace talvesk::shell {

namespace {
QTableWidget *namedTable(QWidget *parent, const char *name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    // Columns share the window's width; a cut text (a folder, a line) is cut in the middle and
    // whole in its tooltip.
    table->setTextElideMode(Qt::ElideMiddle);
    table->horizontalHeader()->setMinimumSectionSize(40);
    table->horizontalHeader()->setResizeContentsPrecision(100);
    // The last column (the folder, the line's text) gives way first.
    platform::keepColumnsFitted(*table, static_cast<int>(headers.size()) - 1);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    return table;
}

QTableWidgetItem *cell(const QString &text, const QString &tip = QString(), bool right = false)
{
    auto *item = new QTableWidgetItem(text);
    item->setToolTip(tip.isNull() ? text : tip);
    if (right)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}
} // namespace

JournalWindow::JournalWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : QDialog(parent), app_(app), desktop_(desktop)
{
    setObjectName(QStringLiteral("ImportLog"));
    setWindowTitle(QStringLiteral("匯入記錄"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    entryTable_ = namedTable(this, "entries",
                             {QStringLiteral("編號"), QStringLiteral("時間"), QStringLiteral("作業"), QStringLiteral("筆數"),
                              QStringLiteral("狀態"), QStringLiteral("檔案"), QStringLiteral("資料夾"), QStringLiteral("電腦")});
    problemCaption_ = platform::namedLabel(this, "problemCaption", QString());
    problemTable_ = namedTable(this, "problems", {QStringLiteral("行/列"), QStringLiteral("原因"), QStringLiteral("內容")});
    saveXlsx_ = platform::namedButton(this, "cmdSaveXlsx", QStringLiteral("問題行存成 EXCEL 檔"));
    saveCsv_ = platform::namedButton(this, "cmdSaveCsv", QStringLiteral("問題行存成 CSV 檔"));
    undo_ = platform::namedButton(this, "cmdUndo", QStringLiteral("復原最近一次作業"));
    undoNote_ = platform::namedLabel(this, "undoNote", QString());
    undoNote_->setWordWrap(true);
    QPushButton *leave = platform::namedButton(this, "cmdExit", QStringLiteral("離開"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(saveXlsx_);
    buttons->addWidget(saveCsv_);
    buttons->addStretch();
    buttons->addWidget(undo_);
    buttons->addWidget(leave);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(entryTable_, 3);
    layout->addWidget(problemCaption_);
    layout->addWidget(problemTable_, 2);
    layout->addWidget(undoNote_);
    layout->addLayout(buttons);
    resize(760, 520);
    platform::placeWithin(*this, desktop_);

    connect(entryTable_, &QTableWidget::itemSelectionChanged, this, &JournalWindow::onEntrySelected);
    connect(saveXlsx_, &QPushButton::clicked, this, &JournalWindow::onSaveXlsxClicked);
    connect(saveCsv_, &QPushButton::clicked, this, &JournalWindow::onSaveCsvClicked);
    connect(undo_, &QPushButton::clicked, this, &JournalWindow::onUndoClicked);
    connect(leave, &QPushButton::clicked, this, &QDialog::reject);
    reload();
}

void JournalWindow::showFailure(const platform::Error &error)
{
    desktop_.showMessage(this, {platform::errorText(error), windowTitle(), platform::Icon::Critical});
}

qint64 JournalWindow::selectedId() const
{
    const int row = entryTable_->currentRow();
    return row >= 0 && row < static_cast<int>(entries_.size()) ? entries_[static_cast<std::size_t>(row)].id : 0;
}

void JournalWindow::reload()
{
    const qint64 selected = selectedId();
    db::UndoPlan plan;
    try {
        platform::Database db = db::openDatabase(app_, db::Reach::DeskOrServer);
        entries_ = db::journalEntries(db);
        plan = db::planUndo(db);
    } catch (const platform::Error &error) {
        entries_.clear();
        plan = {std::nullopt, error.description(), {}};
        showFailure(error);
    }
    const QSignalBlocker quiet(entryTable_);
    entryTable_->setRowCount(static_cast<int>(entries_.size()));
    int selectRow = entries_.empty() ? -1 : 0;
    bool anyHost = false;
    for (int row = 0; row < static_cast<int>(entries_.size()); ++row) {
        const db::JournalRecord &e = entries_[static_cast<std::size_t>(row)];
        entryTable_->setItem(row, 0, cell(QString::number(e.id)));
        entryTable_->setItem(row, 1, cell(e.at));
        entryTable_->setItem(row, 2, cell(db::operationCaption(e.operation)));
        entryTable_->setItem(row, 3, cell(countsCaption(e), QString(), true));
        entryTable_->setItem(row, 4, cell(stateCaption(e)));
        // The file's name in a column of its own, so that two files of one folder are told apart
        // on a small screen; its folder after it and in the tooltip.
        const QFileInfo file(e.file);
        entryTable_->setItem(row, 5, cell(e.file.isEmpty() ? QString() : file.fileName(), e.file));
        entryTable_->setItem(row, 6, cell(e.file.isEmpty() ? QString() : QDir::toNativeSeparators(file.path()), e.file));
        entryTable_->setItem(row, 7, cell(e.host));
        anyHost = anyHost || !e.host.isEmpty();
        if (e.id == selected)
            selectRow = row;
    }
    // Which desk ran an operation matters where several share the office's server.
    entryTable_->setColumnHidden(7, !anyHost);
    platform::fitColumns(*entryTable_);
    if (selectRow >= 0)
        entryTable_->selectRow(selectRow);
    onEntrySelected();
    // The button offers only what can be done; otherwise the line above it says why.
    const bool undoable = plan.entry && plan.refusal.isEmpty();
    undo_->setEnabled(undoable);
    undoNote_->setText(undoable ? QStringLiteral("可以復原：") + db::entryCaption(*plan.entry)
                                : QStringLiteral("無法復原：") + plan.refusal);
}

void JournalWindow::selectEntry(qint64 id)
{
    for (int row = 0; row < static_cast<int>(entries_.size()); ++row) {
        if (entries_[static_cast<std::size_t>(row)].id == id) {
            entryTable_->selectRow(row);
            entryTable_->scrollToItem(entryTable_->item(row, 0));
            return;
        }
    }
}

void JournalWindow::onEntrySelected()
{
    const qint64 id = selectedId();
    problems_.clear();
    if (id != 0) {
        try {
            platform::Database db = db::openDatabase(app_, db::Reach::DeskOrServer);
            problems_ = db::problemLines(db, id, kShownProblems + 1).value_or(std::vector<db::ProblemLine>{});
        } catch (const platform::Error &error) {
            showFailure(error);
        }
    }
    const bool more = problems_.size() > std::size_t(kShownProblems);
    if (more)
        problems_.resize(kShownProblems);
    problemCaption_->setText(id == 0 ? QStringLiteral("沒有匯入記錄")
                             : more  ? QStringLiteral("第 %1 次作業的問題行：超過 %2 筆，只列出前 %2 筆（存檔時全部存出）")
                                          .arg(id)
                                          .arg(kShownProblems)
                                     : QStringLiteral("第 %1 次作業的問題行：%2 筆").arg(id).arg(problems_.size()));
    problemTable_->setRowCount(static_cast<int>(problems_.size()));
    for (int row = 0; row < static_cast<int>(problems_.size()); ++row) {
        const db::ProblemLine &line = problems_[static_cast<std::size_t>(row)];
        problemTable_->setItem(row, 0, cell(QString::number(line.number)));
        problemTable_->setItem(row, 1, cell(line.reason));
        problemTable_->setItem(row, 2, cell(line.text));
    }
    platform::fitColumns(*problemTable_);
    saveXlsx_->setEnabled(!problems_.empty());
    saveCsv_->setEnabled(!problems_.empty());
}

void JournalWindow::save(bool asXlsx)
{
    if (problems_.empty())
        return;
    std::vector<db::ProblemLine> all;
    try {
        platform::Database db = db::openDatabase(app_, db::Reach::DeskOrServer);
        all = db::problemLines(db, selectedId()).value_or(std::vector<db::ProblemLine>{});
    } catch (const platform::Error &error) {
        showFailure(error);
        return;
    }
    // Beside the exports, in the user's documents folder, under a name that is never taken.
    QString path = db::exportPath(QStringLiteral("問題行_%1").arg(selectedId()), QDateTime::currentDateTime());
    if (!asXlsx)
        path = path.left(path.size() - 5) + QStringLiteral(".csv");
    try {
        if (asXlsx)
            db::saveProblemLinesAsXlsx(all, path);
        else
            db::saveProblemLinesAsCsv(all, path);
    } catch (const platform::Error &error) {
        showFailure(error);
        return;
    }
    desktop_.showMessage(this, {QStringLiteral("已存檔，共 %1 筆").arg(all.size()), windowTitle(),
                                platform::Icon::Information, platform::Buttons::Ok, path});
}

void JournalWindow::onSaveXlsxClicked()
{
    save(true);
}

void JournalWindow::onSaveCsvClicked()
{
    save(false);
}

void JournalWindow::onUndoClicked()
{
    try {
        db::UndoPlan plan;
        {
            platform::Database db = db::openDatabase(app_, db::Reach::DeskOrServer);
            plan = db::planUndo(db);
        }
        if (!plan.refusal.isEmpty()) {
            reload();
            desktop_.showMessage(this, {plan.refusal, windowTitle(), platform::Icon::Information});
            return;
        }
        const db::JournalRecord &next = *plan.entry;
        const bool clearing = next.operation.startsWith(QStringLiteral("clear-"));
        const QString question = QStringLiteral("確定要復原") + db::entryCaption(next) + u'?';
        const QString what = clearing ? QStringLiteral("被清除的資料會全部放回。")
                                      : QStringLiteral("應收帳款與超商資料會回到這次作業之前的內容；這次作業新增的資料會刪除，修改過的資料會改回原值。");
        if (desktop_.showMessage(this, {question, windowTitle(), platform::Icon::Exclamation, platform::Buttons::YesNo,
                                        what + (next.file.isEmpty() ? QString() : u'\n' + next.file),
                                        platform::Answer::No})
            != platform::Answer::Yes)
            return;
        platform::Database db = db::openDatabaseToWrite(app_);
        const db::JournalRecord undone = db::undoLatest(db);
        reload();
        desktop_.showMessage(this, {QStringLiteral("復原完成!") + db::entryCaption(undone) + QStringLiteral("已復原"),
                                    windowTitle(), platform::Icon::Information});
    } catch (const platform::Error &error) {
        reload();
        // A refusal or a failure in the clerk's words alone: no command name, no error number.
        desktop_.showMessage(this, {error.description(), windowTitle(), platform::Icon::Critical});
    }
}

} // namespace talvesk::shell
