#pragma once

#include "platform/AppFolder.h"
#include "platform/BackgroundJob.h"
#include "platform/Desktop.h"
#include "platform/Widgets.h"
#include "results/Lookup.h"

#include <QAbstractTableModel>

#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace talvesk::results {

// The receivables that match a lookup, fetched a page at a time as the table scrolls: a million
// matches cost no more to show than the first screenful.
class LookupModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 200;

    explicit LookupModel(QObject *parent = nullptr) : QAbstractTableModel(parent) {}

    // Shows the matches of `lookup` from the first; none when it is empty.
    void setLookup(std::unique_ptr<Lookup> lookup);
    const Lookup *lookup() const { return lookup_.get(); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // Why the last page could not be read, or nothing.
    const QString &failure() const { return failure_; }

private:
    std::unique_ptr<Lookup> lookup_;
    std::vector<FoundReceivable> rows_;
    bool atEnd_ = true;
    QString failure_;
};

// 帳款查詢: what the clerk at the counter asks, "has this customer paid, how much, what is still
// owed", answered from the receivables without exporting them. Typing narrows the table at once;
// the totals of the matches are counted on a thread of their own, so the window never waits.
class LookupWindow : public platform::BusyDialog {
    Q_OBJECT
public:
    LookupWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent = nullptr);
    ~LookupWindow() override;

    // Runs the lookup for what the search box and the status filter now say.
    void refresh();
    void onExportClicked();
    // Whether the totals of the current lookup are still being counted.
    bool counting() const { return totalsJob_->running(); }
    const LookupModel &model() const { return *model_; }

signals:
    void totalsShown();

private:
    LookupQuery query() const;
    void startTotals(const LookupQuery &query);
    void stopTotals();
    void showTotals(const std::optional<LookupTotals> &totals, const QString &failure);

    platform::AppFolder app_;
    platform::Desktop &desktop_;
    LookupModel *model_;
    QLineEdit *searchEdit;
    QComboBox *statusBox;
    QTableView *table;
    QLabel *totalsLabel;
    QPushButton *exportButton;
    QPushButton *closeButton;
    QTimer *typingPause;

    platform::BackgroundJob *totalsJob_;
};

} // namespace talvesk::results
