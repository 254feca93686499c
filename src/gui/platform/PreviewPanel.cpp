#include "platform/PreviewPanel.h"

#include "platform/Desktop.h"
#include "platform/Widgets.h"

#include <algorithm>

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace talvesk::platform {

PreviewPanel::PreviewPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("fraPreview"));
    table = new QTableWidget(this);
    table->setObjectName(QStringLiteral("grdPreview"));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setAlternatingRowColors(true);
    keepColumnsFitted(*table);
    countsLabel = new QLabel(this);
    countsLabel->setObjectName(QStringLiteral("lblPreviewCounts"));
    countsLabel->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table, 1);
    layout->addWidget(countsLabel);
}

void PreviewPanel::showRows(const QString &numberCaption, const QStringList &fields,
                            const std::vector<QStringList> &rows)
{
    table->clear();
    table->setColumnCount(static_cast<int>(fields.size()) + 2);
    table->setHorizontalHeaderLabels(QStringList{numberCaption} + fields + QStringList{QStringLiteral("處理")});
    table->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const QStringList &values = rows[static_cast<std::size_t>(r)];
        for (int c = 0; c < values.size() && c < table->columnCount(); ++c) {
            // An amount reads grouped by thousands and lines up on the right, as in every list.
            const bool amount = c >= 1 && c <= fields.size() && fields.at(c - 1).contains(QStringLiteral("金額"));
            auto *item = new QTableWidgetItem(amount ? groupedAmount(values.at(c)) : values.at(c));
            item->setToolTip(values.at(c));
            if (amount)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(r, c, item);
        }
    }
    fitColumns(*table);
}

void showPreview(QWidget &window, PreviewPanel &panel, Desktop &desktop, const QString &numberCaption,
                 const QStringList &fields, const std::vector<QStringList> &rows, int height)
{
    panel.showRows(numberCaption, fields, rows);
    if (panel.isVisible())
        return;
    window.setFixedSize(std::max(window.width(), std::min(820, desktop.availableGeometry().width() - 16)), height);
    panel.setVisible(true);
    placeWithin(window, desktop);
}

void PreviewPanel::setCounts(const QString &text)
{
    countsLabel->setText(text);
}

QString PreviewPanel::counts() const
{
    return countsLabel->text();
}

void PreviewPanel::clear()
{
    table->clear();
    table->setRowCount(0);
    table->setColumnCount(0);
    countsLabel->clear();
}

QString changesSentence(qint64 inserted, qint64 updated, qint64 unchanged, qint64 paidChanged)
{
    return QStringLiteral("其中新增 %1 筆，更新 %2 筆，不變 %3 筆；已有入帳資料而會變更的 %4 筆。")
        .arg(inserted)
        .arg(updated - unchanged)
        .arg(unchanged)
        .arg(paidChanged);
}

} // namespace talvesk::platform
