#include "textimport/TextImportWindow.h"

#include "db/Journal.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QToolButton>

#include "platform/Error.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace talvesk::textimport {

TextImportWindow::TextImportWindow(const Design &design, TextImport &import, platform::Desktop &desktop, QWidget *parent)
    : platform::BusyDialog(parent), design_(design), import_(import), desktop_(desktop)
{
    setObjectName(design.objectName);
    setWindowTitle(design.caption);

    auto *frame = new QGroupBox(design.frameCaption, this);
    frame->setObjectName(QStringLiteral("Frame1"));
    auto *grid = new QGridLayout(frame);
    grid->addWidget(platform::namedLabel(frame, "Label1", design.fileLabel), 0, 0);
    currentFileLabel = new platform::PathLabel(frame);
    currentFileLabel->setObjectName(QStringLiteral("cur_file"));
    currentFileLabel->setMinimumWidth(300);
    grid->addWidget(currentFileLabel, 0, 1, 1, 3);
    grid->addWidget(platform::namedLabel(frame, "Label2", design.appliedLabel), 1, 0);
    appliedLabel = platform::namedLabel(frame, "lblsuccess", QStringLiteral("0"));
    grid->addWidget(appliedLabel, 1, 1);
    grid->addWidget(platform::namedLabel(frame, "Label3", design.abnormalLabel), 1, 2);
    abnormalLabel = platform::namedLabel(frame, "lblfail", QStringLiteral("0"));
    grid->addWidget(abnormalLabel, 1, 3);
    grid->setColumnStretch(3, 1);
    grid->setColumnMinimumWidth(1, 90);

    chooseButton_ = platform::namedButton(this, "Command1", QStringLiteral("開啟檔案"));
    readButton_ = platform::namedButton(this, "Command2", QStringLiteral("讀入檔案"));
    previewButton = platform::namedButton(this, "cmdPreview", QStringLiteral("預覽"));
    closeButton_ = platform::namedButton(this, "Command3", QStringLiteral("離開"));
    recentButton = platform::recentFilesButton(this, desktop_, design.fileKind,
                                               [this](const QString &file) { takeFile(file); });
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(chooseButton_);
    buttons->addWidget(recentButton);
    for (QPushButton *b : {readButton_, previewButton, closeButton_})
        buttons->addWidget(b);
    buttons->addStretch();
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(18, 16, 18, 16);
    outer->addWidget(frame);
    outer->addLayout(buttons);
    previewPanel = new platform::PreviewPanel(this);
    previewPanel->setVisible(false);
    outer->addWidget(previewPanel, 1);
    counting = new platform::BackgroundJob(this);

    connect(chooseButton_, &QPushButton::clicked, this, &TextImportWindow::onChooseClicked);
    connect(readButton_, &QPushButton::clicked, this, &TextImportWindow::onReadClicked);
    connect(closeButton_, &QPushButton::clicked, this, &TextImportWindow::onCloseClicked);
    connect(previewButton, &QPushButton::clicked, this, &TextImportWindow::onPreviewClicked);

    readButton_->setEnabled(false);
    previewButton->setEnabled(false);
    // 最近的檔案 comes last in the tab order: Tab from 開啟檔案 still leads to 讀入檔案.
    setTabOrder(closeButton_, recentButton);
    // A file dragged from the file manager is chosen as if picked in the dialog.
    setAcceptDrops(true);
    platform::fixWindowSize(*this, {480, 200});
    platform::placeWithin(*this, desktop_);
}

void TextImportWindow::message(const QString &text, platform::Icon icon)
{
    desktop_.showMessage(this, {text, design_.caption, icon});
}

void TextImportWindow::onChooseClicked()
{
    if (busy())
        return;
    const auto chosen = desktop_.chooseFile(this, {design_.filter, QStringLiteral("C:\\"), QString(), design_.fileKind});
    if (!chosen) {
        message(QStringLiteral("沒有選取任何檔案!"), platform::Icon::Information);
        return;
    }
    useFile(*chosen);
}

void TextImportWindow::takeFile(const QString &path)
{
    if (busy())
        return;
    desktop_.fileTaken(design_.fileKind, path);
    useFile(path);
}

void TextImportWindow::useFile(const QString &path)
{
    if (design_.refuseBlankName && QFileInfo(path).fileName().trimmed().isEmpty()) {
        message(QStringLiteral("請選取Talvesk銷帳檔案  !"), platform::Icon::Information);
        return;
    }
    counting->stop();
    previewPanel->clear();
    currentFileLabel->setPath(path.trimmed());
    readButton_->setEnabled(true);
    previewButton->setEnabled(true);
}

void TextImportWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!busy() && platform::draggedFile(event->mimeData()))
        event->acceptProposedAction();
}

void TextImportWindow::dropEvent(QDropEvent *event)
{
    const auto file = platform::draggedFile(event->mimeData());
    if (busy() || !file)
        return;
    event->acceptProposedAction();
    takeFile(*file);
}

void TextImportWindow::onReadClicked()
{
    if (busy())
        return;
    // The same contents read twice is most often a slip: asked, 否 keeps the database as it is.
    if (!platform::confirmImportAgain(this, desktop_, db::importedBefore(import_.appFolder(), currentFileLabel->path()),
                                      design_.caption))
        return;
    // The preview's dry run holds the database for writing until it ends.
    counting->stop();
    if (previewPanel->isVisible())
        previewPanel->setCounts(platform::kStalePreviewText);
    bool failed = false;
    {
        platform::BusyScope scope(*this, desktop_, {chooseButton_, recentButton, readButton_, previewButton, closeButton_});
        platform::ProgressPacer pacer(desktop_);
        bool handled = false;
        TextImportCounts last;
        auto show = [this](const TextImportCounts &c) {
            appliedLabel->setText(QString::number(c.applied));
            abnormalLabel->setText(QString::number(c.abnormal));
        };
        TextImportObserver observer;
        observer.stopped = [&](const TextImportCounts &stored) {
            // The labels say what is really stored, not what was done before a failed commit.
            if (handled)
                last = stored;
        };
        observer.lineDone = [&](const TextImportCounts &counts) {
            handled = true;
            last = counts;
            pacer.step([&] { show(counts); });
        };
        try {
            const TextImportCounts counts = import_.run(currentFileLabel->path(), observer);
            if (handled)
                show(counts);
            scope.pointerBack();
            message(counts.abnormal > 0 || counts.logWritten ? kReadDoneWithErrors : kReadDone, platform::Icon::Information);
        } catch (const platform::Error &error) {
            if (handled)
                show(last);
            scope.pointerBack();
            // The fixed text first; the reason (with how many records are stored) under it.
            desktop_.showMessage(this, {textImportFailureText(error.number()), design_.caption, platform::Icon::Critical,
                                        platform::Buttons::Ok, error.description()});
            failed = true;
        }
    }
    // After a run the same file can be read again, and another chosen only in a new window; after
    // a failure everything can be tried again.
    chooseButton_->setEnabled(failed);
    readButton_->setEnabled(true);
    closeButton_->setEnabled(true);
    if (!failed)
        emit imported();
}

void TextImportWindow::onCloseClicked()
{
    if (busy())
        return;
    counting->stop();
    reject();
}

void TextImportWindow::onPreviewClicked()
{
    if (busy() || currentFileLabel->path().isEmpty())
        return;
    counting->stop();
    TextPreview preview;
    {
        platform::BusyScope scope(*this, desktop_, {});
        try {
            preview = previewLines(import_, currentFileLabel->path());
        } catch (const platform::Error &error) {
            scope.pointerBack();
            desktop_.showMessage(this, {textImportFailureText(error.number()), design_.caption, platform::Icon::Critical,
                                        platform::Buttons::Ok, error.description()});
            return;
        }
    }
    std::vector<QStringList> rows;
    for (const db::ShownRow &line : preview.lines)
        rows.push_back(QStringList{QString::number(line.row)} + line.values + QStringList{line.outcome});
    platform::showPreview(*this, *previewPanel, desktop_, QStringLiteral("行"), preview.fields, rows, 540);
    startCounting();
}

void TextImportWindow::startCounting()
{
    std::shared_ptr<TextImport> dryRun = import_.dryRun();
    const QString path = currentFileLabel->path();
    previewPanel->setCounts(platform::kCountingText);
    counting->run<TextImportCounts>(
        [dryRun, path](const platform::BackgroundJob::StopRequested &stopRequested) {
            TextImportObserver observer;
            observer.stopRequested = stopRequested;
            return dryRun->run(path, observer);
        },
        [this](const platform::JobOutcome<TextImportCounts> &outcome) {
            if (outcome.result) {
                const TextImportCounts &c = *outcome.result;
                previewPanel->setCounts(QStringLiteral("試算整個檔案：正確筆數 %1，異常筆數 %2；")
                                            .arg(c.applied)
                                            .arg(c.abnormal)
                                        + platform::changesSentence(c.inserted, c.updated, c.unchanged, c.paidChanged)
                                        + db::kDryRunDone);
            } else {
                previewPanel->setCounts(QStringLiteral("試算失敗：") + textImportFailureText(outcome.failure->number())
                                        + u' ' + outcome.failure->description());
            }
            emit previewCounted();
        });
}

} // namespace talvesk::textimport
