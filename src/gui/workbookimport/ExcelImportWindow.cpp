#include "workbookimport/ExcelImportWindow.h"

#include "platform/Error.h"
#include "platform/Workbook.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace talvesk::workbookimport {

namespace {

const QString kDone = QStringLiteral("Excel 轉入 Access 資料庫完畢！");

} // namespace

ExcelImportWindow::ExcelImportWindow(const Design &design, WorkbookImport &import,
                                     std::function<void(QWidget *)> openMapping, platform::Desktop &desktop,
                                     QWidget *parent)
    : platform::BusyDialog(parent), import_(import), openMapping_(std::move(openMapping)), desktop_(desktop)
{
    setObjectName(design.objectName);
    setWindowTitle(design.caption);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(20, 18, 20, 18);
    grid->setVerticalSpacing(10);
    grid->addWidget(platform::namedLabel(this, "lblFieldLabel_1", QStringLiteral("匯入檔案")), 0, 0);
    txtField = new QLineEdit(this);
    txtField->setObjectName(QStringLiteral("txtField"));
    cmdChoose = platform::namedButton(this, "cmdChoose", QStringLiteral("..."));
    cmdChoose->setFixedWidth(36);
    grid->addWidget(txtField, 0, 1, 1, 3);
    grid->addWidget(cmdChoose, 0, 4);
    grid->addWidget(platform::namedLabel(this, "lblFieldLabel_0", QStringLiteral("指定工作表")), 1, 0);
    cmbWorksheets = new QComboBox(this);
    cmbWorksheets->setObjectName(QStringLiteral("cmbWorksheets"));
    cmbWorksheets->setEditable(true);
    grid->addWidget(cmbWorksheets, 1, 1, 1, 3);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    grid->addWidget(ProgressBar1, 2, 0, 1, 5);

    auto *counts = new QHBoxLayout;
    counts->addWidget(platform::namedLabel(this, "Label2", QStringLiteral("正確筆數：")));
    Label1 = platform::namedLabel(this, "Label1", QStringLiteral("0"));
    counts->addWidget(Label1);
    counts->addSpacing(30);
    counts->addWidget(platform::namedLabel(this, "Label3", QStringLiteral("不處理筆數：")));
    Label4 = platform::namedLabel(this, "Label4", QStringLiteral("0"));
    counts->addWidget(Label4);
    counts->addStretch();
    LblRMsg = platform::namedLabel(this, "LblRMsg", QStringLiteral("讀檔中,請稍候 !"));
    LblRMsg->setStyleSheet(QStringLiteral("color: red;"));
    counts->addWidget(LblRMsg);
    grid->addLayout(counts, 3, 0, 1, 5);

    auto *buttons = new QHBoxLayout;
    Command1 = platform::namedButton(this, "Command1", QStringLiteral("讀入檔案"));
    Command2 = platform::namedButton(this, "Command2", QStringLiteral("設定EXCEL欄位對應"));
    cmdCancel = platform::namedButton(this, "cmdCancel", QStringLiteral("離開"));
    buttons->addStretch();
    for (QPushButton *b : {Command1, Command2, cmdCancel})
        buttons->addWidget(b);
    buttons->addStretch();
    grid->addLayout(buttons, 4, 0, 1, 5);

    connect(cmdChoose, &QPushButton::clicked, this, &ExcelImportWindow::cmdChoose_Click);
    connect(Command1, &QPushButton::clicked, this, &ExcelImportWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &ExcelImportWindow::Command2_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &ExcelImportWindow::cmdCancel_Click);

    setFixedSize(520, 240);
    move(platform::placementFor(desktop_.screenSize(), size()));
    ProgressBar1->setVisible(true);
    Command1->setEnabled(false);
    Command2->setEnabled(true);
    cmdCancel->setEnabled(true);
    LblRMsg->setVisible(false);
}

void ExcelImportWindow::endWorkbook()
{
    cmbWorksheets->clear();
    txtField->clear();
    chosenPath_.clear();
}

void ExcelImportWindow::cmdChoose_Click()
{
    if (busy())
        return;
    if (!txtField->text().isEmpty())
        endWorkbook();
    const auto chosen = desktop_.chooseFile(this, {QStringLiteral("Excel|*"), QStringLiteral("c:\\"), QString()});
    if (!chosen)
        return; // Cancel: silent; the list and the path are already empty
    chosenPath_ = *chosen;
    txtField->setText(*chosen);
    try {
        const auto book = platform::Workbook::open(*chosen);
        for (const QString &name : book->worksheetNames())
            cmbWorksheets->addItem(name);
        cmbWorksheets->setCurrentIndex(0);
        cmdChoose->setEnabled(true);
        Command1->setEnabled(true);
    } catch (const platform::Error &error) {
        desktop_.showMessage(this, {QString::number(error.number()) + error.description(), QString()});
    }
}

void ExcelImportWindow::showCounts(qint64 row, const ImportCounts &counts)
{
    ProgressBar1->setValue(static_cast<int>(row));
    Label1->setText(QString::number(counts.written));
    Label4->setText(QString::number(counts.notProcessed));
}

void ExcelImportWindow::Command1_Click()
{
    if (busy())
        return;
    setBusy(true);
    // Nothing that could start a second run or drop the workbook may be clicked meanwhile.
    const bool wasEnabled[] = {Command1->isEnabled(), Command2->isEnabled(), cmdChoose->isEnabled(), cmdCancel->isEnabled()};
    for (QPushButton *b : {Command1, Command2, cmdChoose, cmdCancel})
        b->setEnabled(false);

    desktop_.setPointer(platform::Pointer::Hourglass);
    QElapsedTimer sinceShown;
    qint64 lastRow = 0;
    ImportCounts last;
    ImportObserver observer;
    observer.started = [this](qint64 lastRow) {
        ProgressBar1->setRange(0, static_cast<int>(std::min<qint64>(lastRow + 1, INT_MAX)));
        ProgressBar1->setValue(0);
        LblRMsg->setVisible(true);
    };
    observer.stopped = [&](const ImportCounts &stored) {
        // The counters say what is really stored, not what was done before a failed commit.
        last = stored;
    };
    observer.rowDone = [&](qint64 row, const ImportCounts &counts) {
        lastRow = row;
        last = counts;
        // Repainting every row would cost more than the import itself; a few times a second is enough.
        if (!sinceShown.isValid() || sinceShown.elapsed() >= 30) {
            showCounts(row, counts);
            sinceShown.start();
        }
        desktop_.processPendingEvents();
    };
    try {
        import_.run(txtField->text(), cmbWorksheets->currentText(), observer);
        if (lastRow > 0)
            showCounts(lastRow, last);
        desktop_.setPointer(platform::Pointer::Default);
        // Rows refused for what their cells hold are named under the message.
        desktop_.showMessage(this, {kDone, QString(), platform::Icon::None, platform::Buttons::Ok,
                                    last.problems.join(u'\n')});
        Command1->setEnabled(true);
        Command2->setEnabled(false);
        cmdChoose->setEnabled(wasEnabled[2]);
        cmdCancel->setEnabled(wasEnabled[3]);
    } catch (const platform::Error &error) {
        if (lastRow > 0)
            showCounts(lastRow, last);
        desktop_.setPointer(platform::Pointer::Default);
        desktop_.showMessage(this, {error.description(), QString()});
        QPushButton *all[] = {Command1, Command2, cmdChoose, cmdCancel};
        for (int i = 0; i < 4; ++i)
            all[i]->setEnabled(wasEnabled[i]);
    }
    LblRMsg->setVisible(false);
    setBusy(false);
}

void ExcelImportWindow::Command2_Click()
{
    if (!busy() && openMapping_)
        openMapping_(this);
}

void ExcelImportWindow::cmdCancel_Click()
{
    if (busy())
        return;
    if (!txtField->text().isEmpty())
        endWorkbook();
    reject();
}


} // namespace talvesk::workbookimport
