#pragma once

#include "textimport/TextImport.h"
#include "platform/Desktop.h"

#include "platform/BackgroundJob.h"
#include "platform/PreviewPanel.h"
#include "platform/Widgets.h"

class QLabel;
class QPushButton;

class QDragEnterEvent;
class QDropEvent;
class QToolButton;

namespace talvesk::textimport {

// The window of a text-file import: choose the file, read it, see how many records were applied
// and how many were abnormal.
class TextImportWindow : public platform::BusyDialog {
    Q_OBJECT
public:
    struct Design {
        QString objectName;
        QString caption;
        QString frameCaption;
        QString fileLabel;
        QString appliedLabel;
        QString abnormalLabel;
        QString filter;
        bool refuseBlankName; // a chosen name that is blank gets its own message
        QString fileKind;     // the file dialog reopens in the folder last used for this kind
    };
    TextImportWindow(const Design &design, TextImport &import, platform::Desktop &desktop, QWidget *parent = nullptr);

    void onChooseClicked();
    // A file dropped on the window or picked from the recent ones: taken as a choice in the
    // dialog is, with the same checks.
    void takeFile(const QString &path);
    void onReadClicked();
    void onCloseClicked();
    // 預覽: the first records as the import would store them at once, then a dry run's counts.
    void onPreviewClicked();

    // The controls a clerk (or a test) works with, by what they do.
    QPushButton *chooseButton() const { return chooseButton_; }
    QPushButton *readButton() const { return readButton_; }
    QPushButton *closeButton() const { return closeButton_; }

signals:
    // A preview's dry run has counted the whole file (or failed).
    void previewCounted();

signals:
    // A run ended having stored what it read.
    void imported();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void useFile(const QString &path);
    void message(const QString &text, platform::Icon icon);
    void startCounting();

    Design design_;
    TextImport &import_;
    platform::Desktop &desktop_;
    platform::PathLabel *currentFileLabel;
    QLabel *appliedLabel;
    QLabel *abnormalLabel;
    QPushButton *chooseButton_;
    QToolButton *recentButton;
    QPushButton *readButton_;
    QPushButton *closeButton_;
    QPushButton *previewButton;
    platform::PreviewPanel *previewPanel;
    platform::BackgroundJob *counting;
};

} // namespace talvesk::textimport
