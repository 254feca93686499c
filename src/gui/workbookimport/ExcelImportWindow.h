#pragma once

#include "platform/Desktop.h"
#include "workbookimport/WorkbookImport.h"

#include "platform/BackgroundJob.h"
#include "platform/PreviewPanel.h"
#include "platform/Widgets.h"

#include <functional>

class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace talvesk::workbookimport {

// The window that imports one worksheet of a chosen workbook: choose the file, pick the
// worksheet, set the column mapping, run the import and watch it count.
class ExcelImportWindow : public platform::BusyDialog {
    Q_OBJECT
public:
    struct Design {
        QString objectName;
        QString caption;
        QString fileKind; // the file dialog reopens in the folder last used for this kind
    };
    // Opens the mapping window over `parent`, showing the chosen worksheet's headings when there
    // is one; true when the mapping was saved.
    using OpenMapping = std::function<bool(QWidget *parent, const Headings &headings)>;
    ExcelImportWindow(const Design &design, WorkbookImport &import, OpenMapping openMapping,
                      platform::Desktop &desktop, QWidget *parent = nullptr);

    void onChooseClicked();
    // A file dropped on the window or picked from the recent ones: taken as a choice in the
    // dialog is, with the same checks.
    void takeFile(const QString &path);
    void onImportClicked();
    void onMappingClicked();
    void onExitClicked();
    // 預覽: the first rows as the import would store them at once, then a dry run's counts.
    void onPreviewClicked();

    // The controls a clerk (or a test) works with, by what they do.
    QPushButton *importButton() const { return importButton_; }
    QPushButton *mappingButton() const { return mappingButton_; }
    QLabel *writtenLabel() const { return writtenLabel_; }
    QLabel *notProcessedLabel() const { return notProcessedLabel_; }

signals:
    // A preview's dry run has counted the whole worksheet (or failed).
    void previewCounted();
    // A run ended having stored what it read.
    void imported();


protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void endWorkbook();
    void openWorkbook(const QString &path);
    void showCounts(qint64 row, const ImportCounts &counts);
    void startCounting();

    WorkbookImport &import_;
    OpenMapping openMapping_;
    platform::Desktop &desktop_;
    QString fileKind_;
    QString chosenPath_; // the workbook shown, elided, in txtField

    QLabel *choiceLabel; // under the table: why the last file chosen could not be read
    QLineEdit *pathEdit;
    QPushButton *chooseButton;
    QToolButton *recentButton;
    QComboBox *sheetBox;
    QPushButton *importButton_;
    QPushButton *mappingButton_;
    QPushButton *exitButton;
    QProgressBar *progressBar;
    QLabel *writtenLabel_;
    QLabel *notProcessedLabel_;
    QLabel *readingLabel;
    QPushButton *previewButton;
    platform::PreviewPanel *previewPanel;
    platform::BackgroundJob *counting;
};

} // namespace talvesk::workbookimport
