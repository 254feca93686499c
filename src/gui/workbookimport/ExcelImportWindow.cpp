#include "workbookimport/ExcelImportWindow.h"

#include "db/Journal.h"

#include "platform/Error.h"
#include "workbook/Workbook.h"

#include <algorithm>

#include <QComboBox>
#include <QThread>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QToolButton>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

namespace talvesk::workbookimport {

namespace {
const QString kFailureStyle = QStringLiteral("color: #a00000;");
} // namespace

ExcelImportWindow::ExcelImportWindow(const Design &design, WorkbookImport &import,
                                     OpenMapping openMapping, platform::Desktop &desktop,
                                     QWidget *parent)
    : platform::BusyDialog(parent), import_(import), openMapping_(std::move(openMapping)), desktop_(desktop),
      fileKind_(design.fileKind)
{
    setObjectName(design.objectName);
    setWindowTitle(design.caption);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(20, 18, 20, 18);
    grid->setVerticalSpacing(10);
    grid->addWidget(platform::namedLabel(this, "lblFieldLabel_1", QStringLiteral("匯入檔案")), 0, 0);
    pathEdit = new QLineEdit(this);
    pathEdit->setObjectName(QStringLiteral("txtField"));
    // Filled by the file dialog only: it shows the chosen path, elided in the middle, and the
    // import reads the path kept behind it.
    pathEdit->setReadOnly(true);
    // ... and looks it: the window's own background, not a box that invites typing.
    QPalette shown = pathEdit->palette();
    shown.setColor(QPalette::Base, shown.color(QPalette::Window));
    pathEdit->setPalette(shown);
    chooseButton = platform::namedButton(this, "cmdChoose", QStringLiteral("..."));
    chooseButton->setFixedWidth(36);
    recentButton = platform::recentFilesButton(this, desktop_, fileKind_, [this](const QString &file) { takeFile(file); });
    grid->addWidget(pathEdit, 0, 1, 1, 3);
    grid->addWidget(chooseButton, 0, 4);
    grid->addWidget(platform::namedLabel(this, "lblFieldLabel_0", QStringLiteral("指定工作表")), 1, 0);
    sheetBox = new QComboBox(this);
    sheetBox->setObjectName(QStringLiteral("cmbWorksheets"));
    sheetBox->setEditable(true);
    grid->addWidget(sheetBox, 1, 1, 1, 2);
    grid->addWidget(recentButton, 1, 3, 1, 2, Qt::AlignRight);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar->setTextVisible(false);
    grid->addWidget(progressBar, 2, 0, 1, 5);

    auto *counts = new QHBoxLayout;
    counts->addWidget(platform::namedLabel(this, "Label2", QStringLiteral("正確筆數：")));
    writtenLabel_ = platform::namedLabel(this, "Label1", QStringLiteral("0"));
    counts->addWidget(writtenLabel_);
    counts->addSpacing(30);
    counts->addWidget(platform::namedLabel(this, "Label3", QStringLiteral("不處理筆數：")));
    notProcessedLabel_ = platform::namedLabel(this, "Label4", QStringLiteral("0"));
    counts->addWidget(notProcessedLabel_);
    counts->addStretch();
    readingLabel = platform::namedLabel(this, "LblRMsg", QStringLiteral("讀檔中,請稍候 !"));
    readingLabel->setStyleSheet(QStringLiteral("color: red;"));
    counts->addWidget(readingLabel);
    grid->addLayout(counts, 3, 0, 1, 5);

    auto *buttons = new QHBoxLayout;
    importButton_ = platform::namedButton(this, "Command1", QStringLiteral("讀入檔案"));
    previewButton = platform::namedButton(this, "cmdPreview", QStringLiteral("預覽"));
    mappingButton_ = platform::namedButton(this, "Command2", QStringLiteral("設定EXCEL欄位對應"));
    exitButton = platform::namedButton(this, "cmdCancel", QStringLiteral("離開"));
    buttons->addStretch();
    for (QPushButton *b : {importButton_, previewButton, mappingButton_, exitButton})
        buttons->addWidget(b);
    buttons->addStretch();
    grid->addLayout(buttons, 4, 0, 1, 5);
    previewPanel = new platform::PreviewPanel(this);
    previewPanel->setVisible(false);
    grid->addWidget(previewPanel, 5, 0, 1, 5);
    grid->setRowStretch(5, 1);
    choiceLabel = platform::namedLabel(this, "lblChoice", QString());
    choiceLabel->setWordWrap(true);
    choiceLabel->setStyleSheet(kFailureStyle);
    choiceLabel->setVisible(false);
    grid->addWidget(choiceLabel, 6, 0, 1, 5);
    counting = new platform::BackgroundJob(this);

    connect(chooseButton, &QPushButton::clicked, this, &ExcelImportWindow::onChooseClicked);
    connect(importButton_, &QPushButton::clicked, this, &ExcelImportWindow::onImportClicked);
    connect(mappingButton_, &QPushButton::clicked, this, &ExcelImportWindow::onMappingClicked);
    connect(exitButton, &QPushButton::clicked, this, &ExcelImportWindow::onExitClicked);
    connect(previewButton, &QPushButton::clicked, this, &ExcelImportWindow::onPreviewClicked);

    // 最近的檔案 comes last in the tab order: Tab from the choice still leads to the worksheet
    // and 讀入檔案 as before.
    setTabOrder(exitButton, recentButton);
    // A workbook dragged from the file manager is chosen as if picked in the dialog.
    setAcceptDrops(true);
    platform::fixWindowSize(*this, {520, 240});
    platform::placeWithin(*this, desktop_);
    progressBar->setVisible(true);
    importButton_->setEnabled(false);
    previewButton->setEnabled(false);
    mappingButton_->setEnabled(true);
    exitButton->setEnabled(true);
    readingLabel->setVisible(false);
}

void ExcelImportWindow::endWorkbook()
{
    counting->stop();
    previewPanel->clear();
    previewButton->setEnabled(false);
    sheetBox->clear();
    pathEdit->clear();
    pathEdit->setToolTip(QString());
    chosenPath_.clear();
}

void ExcelImportWindow::onChooseClicked()
{
    if (busy())
        return;
    if (!chosenPath_.isEmpty())
        endWorkbook();
    const auto chosen = desktop_.chooseFile(this, {platform::kWorkbookFilter, QStringLiteral("c:\\"), QString(), fileKind_});
    if (!chosen)
        return; // Cancel: silent; the list and the path are already empty
    openWorkbook(*chosen);
}

void ExcelImportWindow::takeFile(const QString &path)
{
    if (busy())
        return;
    desktop_.fileTaken(fileKind_, path);
    if (!chosenPath_.isEmpty())
        endWorkbook();
    openWorkbook(path);
}

void ExcelImportWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!busy() && platform::draggedFile(event->mimeData()))
        event->acceptProposedAction();
}

void ExcelImportWindow::dropEvent(QDropEvent *event)
{
    const auto file = platform::draggedFile(event->mimeData());
    if (busy() || !file)
        return;
    event->acceptProposedAction();
    takeFile(*file);
}

void ExcelImportWindow::openWorkbook(const QString &path)
{
    const std::optional<QString> chosen = path;
    chosenPath_ = *chosen;
    choiceLabel->clear();
    choiceLabel->setVisible(false);
    const int room = pathEdit->contentsRect().width() - 2 * pathEdit->textMargins().left() - 8;
    pathEdit->setText(pathEdit->fontMetrics().elidedText(*chosen, Qt::ElideMiddle, std::max(room, 40)));
    pathEdit->setToolTip(*chosen);
    try {
        const auto book = workbook::Workbook::open(*chosen);
        for (const QString &name : book->worksheetNames())
            sheetBox->addItem(name);
        sheetBox->setCurrentIndex(0);
        chooseButton->setEnabled(true);
        importButton_->setEnabled(true);
        previewButton->setEnabled(true);
    } catch (const platform::Error &error) {
        // The window goes back to how it was before the choice: nothing to read or preview, and
        // the line under the table says which file could not be read and why.
        endWorkbook();
        importButton_->setEnabled(false);
        const QString reason = error.description();
        const QString name = QFileInfo(*chosen).fileName();
        choiceLabel->setText(reason.contains(name) ? reason : QStringLiteral("無法讀取「%1」：%2").arg(name, reason));
        choiceLabel->setStyleSheet(kFailureStyle);
        choiceLabel->setToolTip(*chosen);
        choiceLabel->setVisible(true);
        // The error's number alone on the first line, the reason under it.
        desktop_.showMessage(this, {QString::number(error.number()), QString(), platform::Icon::None,
                                    platform::Buttons::Ok, reason});
    }
}

void ExcelImportWindow::showCounts(qint64 row, const ImportCounts &counts)
{
    progressBar->setValue(static_cast<int>(row));
    writtenLabel_->setText(QString::number(counts.written));
    notProcessedLabel_->setText(QString::number(counts.notProcessed));
}

void ExcelImportWindow::onImportClicked()
{
    if (busy())
        return;
    // The same contents imported twice is most often a slip: asked, 否 keeps the database as it is.
    if (!platform::confirmImportAgain(this, desktop_, db::importedBefore(import_.appFolder(), chosenPath_), windowTitle()))
        return;
    // The preview's dry run holds the database for writing until it ends.
    counting->stop();
    if (previewPanel->isVisible())
        previewPanel->setCounts(platform::kStalePreviewText);
    bool completed = false;
    {
        platform::BusyScope scope(*this, desktop_, {importButton_, previewButton, mappingButton_, chooseButton, recentButton, exitButton});
        platform::ProgressPacer pacer(desktop_);
        qint64 lastRow = 0;
        ImportCounts last;
        ImportObserver observer;
        observer.started = [this](qint64 lastRow) {
            progressBar->setRange(0, static_cast<int>(std::min<qint64>(lastRow + 1, INT_MAX)));
            progressBar->setValue(0);
            readingLabel->setVisible(true);
        };
        observer.stopped = [&](const ImportCounts &stored) {
            // The counters say what is really stored, not what was done before a failed commit.
            last = stored;
        };
        observer.rowDone = [&](qint64 row, const ImportCounts &counts) {
            lastRow = row;
            last = counts;
            pacer.step([&] { showCounts(row, counts); });
        };
        try {
            import_.run(chosenPath_, sheetBox->currentText(), observer);
            if (lastRow > 0)
                showCounts(lastRow, last);
            // The red 讀檔中 says the run goes on: gone before the box says it ended.
            readingLabel->setVisible(false);
            scope.pointerBack();
            // Rows refused for what their cells hold are named under the message.
            desktop_.showMessage(this, {kImportDone, QString(), platform::Icon::None, platform::Buttons::Ok,
                                        last.problems.join(u'\n')});
            completed = true;
        } catch (const platform::Error &error) {
            if (lastRow > 0)
                showCounts(lastRow, last);
            readingLabel->setVisible(false);
            scope.pointerBack();
            desktop_.showMessage(this, {error.description(), QString()});
        }
    }
    if (completed) {
        // The same or another worksheet can be imported at once, with the same or a corrected
        // mapping: an import that matched nothing is most often a wrong mapping.
        importButton_->setEnabled(true);
        mappingButton_->setEnabled(true);
        emit imported();
    }
}

void ExcelImportWindow::onMappingClicked()
{
    if (busy() || !openMapping_)
        return;
    // Saving a mapping writes the database, which the preview's dry run holds.
    counting->stop();
    Headings headings;
    if (!chosenPath_.isEmpty()) {
        try {
            headings = Headings::read(chosenPath_, sheetBox->currentText());
        } catch (const platform::Error &) {
            // The boxes are shown without headings: the import itself says what is wrong with the file.
        }
    }
    if (openMapping_(this, headings)) {
        choiceLabel->setText(QStringLiteral("欄位對應已儲存"));
        choiceLabel->setToolTip(QString());
        choiceLabel->setStyleSheet(QStringLiteral("color: #006000;"));
        choiceLabel->setVisible(true);
    }
    // A preview on screen shows the mapping in force.
    if (previewPanel->isVisible() && previewButton->isEnabled())
        onPreviewClicked();
}

void ExcelImportWindow::onPreviewClicked()
{
    if (busy() || chosenPath_.isEmpty())
        return;
    counting->stop();
    Preview preview;
    {
        platform::BusyScope scope(*this, desktop_, {});
        try {
            preview = previewRows(import_, chosenPath_, sheetBox->currentText());
        } catch (const platform::Error &error) {
            scope.pointerBack();
            desktop_.showMessage(this, {error.description(), QString()});
            return;
        }
    }
    std::vector<QStringList> rows;
    for (const db::ShownRow &row : preview.rows)
        rows.push_back(QStringList{QString::number(row.row)} + row.values + QStringList{row.outcome});
    platform::showPreview(*this, *previewPanel, desktop_, QStringLiteral("列"), preview.fields, rows, 560);
    startCounting();
}

void ExcelImportWindow::startCounting()
{
    std::shared_ptr<WorkbookImport> dryRun = import_.dryRun();
    const QString path = chosenPath_, sheet = sheetBox->currentText();
    previewPanel->setCounts(platform::kCountingText);
    counting->run<ImportCounts>(
        [dryRun, path, sheet](const platform::BackgroundJob::StopRequested &stopRequested) {
            ImportObserver observer;
            observer.stopRequested = stopRequested;
            return dryRun->run(path, sheet, observer);
        },
        [this](const platform::JobOutcome<ImportCounts> &outcome) {
            if (outcome.result) {
                const ImportCounts &c = *outcome.result;
                previewPanel->setCounts(QStringLiteral("試算整個工作表：正確筆數 %1，不處理筆數 %2；")
                                            .arg(c.written)
                                            .arg(c.notProcessed)
                                        + platform::changesSentence(c.inserted, c.updated, c.unchanged, c.paidChanged)
                                        + db::kDryRunDone);
            } else {
                previewPanel->setCounts(QStringLiteral("試算失敗：") + outcome.failure->description());
            }
            emit previewCounted();
        });
}

void ExcelImportWindow::onExitClicked()
{
    if (busy())
        return;
    counting->stop();
    if (!chosenPath_.isEmpty())
        endWorkbook();
    reject();
}


} // namespace talvesk::workbookimport
