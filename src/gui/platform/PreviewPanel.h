#pragma once

#include <QStringList>
#include <QWidget>

#include <vector>

class QLabel;
class QTableWidget;

namespace talvesk::platform {

// An import window's preview: the first rows of the chosen file as the import would store them,
// each value under the name of its field, and below them what a dry run of the whole file counts.
class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPanel(QWidget *parent = nullptr);

    // `rows` hold the row or line number first, then one value per field, then what the import does.
    void showRows(const QString &numberCaption, const QStringList &fields, const std::vector<QStringList> &rows);
    void setCounts(const QString &text);
    QString counts() const;
    void clear();

private:
    QTableWidget *table;
    QLabel *countsLabel;
};

class Desktop;

// Shows `rows` in the import window's `panel`; the first time, the window grows to `height` and as
// wide as the table needs, never past the screen, and is placed again.
void showPreview(QWidget &window, PreviewPanel &panel, Desktop &desktop, const QString &numberCaption,
                 const QStringList &fields, const std::vector<QStringList> &rows, int height);

// What the preview says while, and after, a dry run counts the whole file.
inline const QString kCountingText = QStringLiteral("試算中，請稍候…（可繼續操作）");
// How a dry run's stored rows would change the tables: 「其中新增 3 筆，更新 1 筆，不變 2 筆；已有入帳資料
// 而會變更的 1 筆。」 (`updated` counts the unchanged ones too).
QString changesSentence(qint64 inserted, qint64 updated, qint64 unchanged, qint64 paidChanged);
inline const QString kStalePreviewText = QStringLiteral("已讀入檔案；要再試算請按「預覽」。");

} // namespace talvesk::platform
