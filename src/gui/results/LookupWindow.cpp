#include "results/LookupWindow.h"

#include "db/TableExport.h"
#include "platform/Error.h"
#include "results/Results.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <mutex>

namespace talvesk::results {

namespace {

const QStringList kCaptions{QStringLiteral("虛擬帳號"), QStringLiteral("客戶名稱"), QStringLiteral("客戶編號"),
                            QStringLiteral("應收金額"), QStringLiteral("入帳日期"), QStringLiteral("入帳金額"),
                            QStringLiteral("未入帳金額"), QStringLiteral("狀態")};
// The order a column heading asks for, by the column's place.
constexpr SortBy kSortBy[] = {SortBy::Account, SortBy::Name,        SortBy::Number, SortBy::Total,
                              SortBy::PayDate, SortBy::Paid, SortBy::Outstanding, SortBy::Status};
constexpr Status kStatuses[] = {Status::Any, Status::Unpaid, Status::Partial, Status::Paid, Status::Overpaid};
const QString kCaption = QStringLiteral("帳款查詢");

QString shownTotals(const LookupTotals &totals)
{
    return QStringLiteral("共 %1 筆　應收金額 %2　入帳金額 %3　未入帳金額 %4")
        .arg(platform::groupedAmount(QString::number(totals.count)),
             platform::groupedAmount(amountText(totals.due)), platform::groupedAmount(amountText(totals.paid)),
             platform::groupedAmount(amountText(totals.outstanding())));
}

} // namespace

// ---- LookupModel ----

void LookupModel::setLookup(std::unique_ptr<Lookup> lookup)
{
    beginResetModel();
    lookup_ = std::move(lookup);
    rows_.clear();
    atEnd_ = !lookup_;
    failure_.clear();
    endResetModel();
    if (canFetchMore({}))
        fetchMore({});
}

int LookupModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LookupModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(kCaptions.size());
}

QVariant LookupModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FoundReceivable &r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole) {
        const bool amount = index.column() == 3 || index.column() == 5 || index.column() == 6;
        return QVariant::fromValue(Qt::Alignment(amount ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case 0:
        return r.account;
    case 1:
        return r.name;
    case 2:
        return r.number;
    case 3:
        return platform::groupedAmount(r.total);
    case 4:
        return platform::dateForList(r.payDate);
    case 5:
        return platform::groupedAmount(r.paid);
    case 6:
        return platform::groupedAmount(r.outstanding);
    default:
        return statusCaption(r.status);
    }
}

QVariant LookupModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kCaptions.size())
        return kCaptions.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool LookupModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !atEnd_;
}

void LookupModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    std::vector<FoundReceivable> page;
    try {
        page = lookup_->page(rows_.empty() ? 0 : rows_.back().rowid, kPageRows);
    } catch (const platform::Error &error) {
        failure_ = error.description();
        atEnd_ = true;
        return;
    }
    atEnd_ = page.size() < static_cast<std::size_t>(kPageRows);
    if (page.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(page.begin()), std::make_move_iterator(page.end()));
    endInsertRows();
}

// ---- LookupWindow ----

LookupWindow::LookupWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : platform::BusyDialog(parent), app_(app), desktop_(desktop), model_(new LookupModel(this)),
      totalsJob_(new platform::BackgroundJob(this))
{
    setObjectName(QStringLiteral("frmLookup"));
    setWindowTitle(kCaption);

    auto *ask = new QHBoxLayout;
    ask->addWidget(platform::namedLabel(this, "lblSearch", QStringLiteral("查詢：")));
    searchEdit = new QLineEdit(this);
    searchEdit->setObjectName(QStringLiteral("txtSearch"));
    searchEdit->setPlaceholderText(QStringLiteral("虛擬帳號、客戶名稱或客戶編號的一部分"));
    searchEdit->setClearButtonEnabled(true);
    ask->addWidget(searchEdit, 1);
    ask->addSpacing(12);
    ask->addWidget(platform::namedLabel(this, "lblStatus", QStringLiteral("狀態：")));
    statusBox = new QComboBox(this);
    statusBox->setObjectName(QStringLiteral("cmbStatus"));
    for (Status s : kStatuses)
        statusBox->addItem(statusCaption(s));
    ask->addWidget(statusBox);

    table = new QTableView(this);
    table->setObjectName(QStringLiteral("grdFound"));
    table->setModel(model_);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->verticalHeader()->hide();
    // Rows of one height: the view never measures the rows it has not shown.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    platform::keepColumnsFitted(*table);
    // A heading sorts the whole result, not the rows fetched so far: the lookup runs again in
    // the heading's order; a second click reverses it.
    QHeaderView *headings = table->horizontalHeader();
    headings->setSectionsClickable(true);
    headings->setSortIndicatorShown(true);
    headings->setSortIndicator(-1, Qt::AscendingOrder);
    connect(headings, &QHeaderView::sortIndicatorChanged, this, &LookupWindow::refresh);

    totalsLabel = platform::namedLabel(this, "lblTotals", QString());
    totalsLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    exportButton = platform::namedButton(this, "cmdExport", QStringLiteral("匯出EXCEL檔"));
    closeButton = platform::namedButton(this, "cmdClose", QStringLiteral("離開"));
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(totalsLabel, 1);
    bottom->addWidget(exportButton);
    bottom->addWidget(closeButton);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 12, 14, 12);
    outer->addLayout(ask);
    outer->addWidget(table, 1);
    outer->addLayout(bottom);

    // Typing narrows the table after a short pause, not at every key.
    typingPause = new QTimer(this);
    typingPause->setSingleShot(true);
    typingPause->setInterval(250);
    connect(typingPause, &QTimer::timeout, this, &LookupWindow::refresh);
    connect(searchEdit, &QLineEdit::textChanged, typingPause, qOverload<>(&QTimer::start));
    connect(searchEdit, &QLineEdit::returnPressed, this, &LookupWindow::refresh);
    connect(statusBox, &QComboBox::currentIndexChanged, this, &LookupWindow::refresh);
    connect(exportButton, &QPushButton::clicked, this, &LookupWindow::onExportClicked);
    connect(closeButton, &QPushButton::clicked, this, [this] {
        if (!busy())
            reject();
    });

    resize(760, 520);
    platform::placeWithin(*this, desktop_);
    refresh();
}

LookupWindow::~LookupWindow()
{
    stopTotals();
}

LookupQuery LookupWindow::query() const
{
    const QHeaderView *headings = table->horizontalHeader();
    const int sorted = headings->sortIndicatorSection();
    const bool byColumn = sorted >= 0 && sorted < static_cast<int>(std::size(kSortBy));
    return {searchEdit->text().trimmed(), kStatuses[std::max(0, statusBox->currentIndex())],
            byColumn ? kSortBy[sorted] : SortBy::Table, byColumn && headings->sortIndicatorOrder() == Qt::DescendingOrder};
}

void LookupWindow::refresh()
{
    typingPause->stop();
    stopTotals();
    const LookupQuery asked = query();
    try {
        model_->setLookup(std::make_unique<Lookup>(app_, asked));
    } catch (const platform::Error &error) {
        model_->setLookup(nullptr);
        totalsLabel->setText(QStringLiteral("無法讀取應收帳款：") + error.description());
        exportButton->setEnabled(false);
        return;
    }
    if (!model_->failure().isEmpty()) {
        totalsLabel->setText(QStringLiteral("無法讀取應收帳款：") + model_->failure());
        exportButton->setEnabled(false);
        return;
    }
    platform::fitColumns(*table);
    exportButton->setEnabled(model_->rowCount() > 0);
    totalsLabel->setText(QStringLiteral("計算中…"));
    startTotals(asked);
}

namespace {

// The totals counted on their thread by a lookup of their own, made there too: on the office's
// server making it is a connection, which the page shown need not wait for. Stopped from the
// window's thread at any point: while the lookup is being made, or while it counts.
class TotalsCount {
public:
    LookupTotals count(const platform::AppFolder &app, const LookupQuery &query)
    {
        Lookup lookup(app, query);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopped_)
                throw platform::stoppedError();
            counting_ = &lookup;
        }
        struct Done {
            TotalsCount &count;
            ~Done()
            {
                std::lock_guard<std::mutex> lock(count.mutex_);
                count.counting_ = nullptr;
            }
        } done{*this};
        return lookup.totals();
    }
    void interrupt()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        if (counting_)
            counting_->interrupt();
    }

private:
    std::mutex mutex_;
    bool stopped_ = false;
    Lookup *counting_ = nullptr;
};

} // namespace

void LookupWindow::startTotals(const LookupQuery &asked)
{
    auto totals = std::make_shared<TotalsCount>();
    // The totals wait inside one statement: stopping interrupts it.
    totalsJob_->run<LookupTotals>(
        [totals, app = app_, asked](const platform::BackgroundJob::StopRequested &) { return totals->count(app, asked); },
        [this](const platform::JobOutcome<LookupTotals> &outcome) {
            showTotals(outcome.result, outcome.failure ? outcome.failure->description() : QString());
        },
        [totals] { totals->interrupt(); });
}

void LookupWindow::stopTotals()
{
    totalsJob_->stop();
}

void LookupWindow::showTotals(const std::optional<LookupTotals> &totals, const QString &failure)
{
    totalsLabel->setText(totals ? shownTotals(*totals) : QStringLiteral("無法計算合計：") + failure);
    emit totalsShown();
}

void LookupWindow::onExportClicked()
{
    if (busy() || !model_->lookup())
        return;
    platform::BusyScope scope(*this, desktop_, {searchEdit, statusBox, exportButton, closeButton});
    platform::ProgressPacer pacer(desktop_);
    const QString shown = totalsLabel->text();
    try {
        const QString path = db::exportPath(kCaption, QDateTime::currentDateTime());
        const db::ExportResult result = db::exportTable(
            app_, Lookup::exportLayout(), path,
            [&](qint64 done, qint64 total) {
                pacer.step([&] { totalsLabel->setText(QStringLiteral("匯出中 %1 / %2").arg(done).arg(total)); });
            },
            model_->lookup()->filter());
        totalsLabel->setText(shown);
        scope.pointerBack();
        const QString text =
            db::kExportDone + QStringLiteral(",共 %1 筆。").arg(QLocale(QLocale::Chinese, QLocale::Taiwan).toString(result.rows));
        const QString note = db::cutCellsNote(result).isEmpty() ? path : path + u'\n' + db::cutCellsNote(result);
        platform::reportExportedWorkbook(desktop_, this, kCaption, text, note, path);
    } catch (const platform::Error &error) {
        totalsLabel->setText(shown);
        scope.pointerBack();
        // As 銷帳結果轉存EXCEL檔 says it: the number, at once its description; no title, no icon.
        desktop_.showMessage(this, {QString::number(error.number()) + error.description(), QString()});
    }
}

} // namespace talvesk::results
