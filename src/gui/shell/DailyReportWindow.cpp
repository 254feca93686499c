#include "shell/DailyReportWindow.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Widgets.h"
#include "report/DailyReport.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace talvesk::shell {

bool DailyReportWindow::askWithPrintDialog(QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("列印日報表"));
    return dialog.exec() == QDialog::Accepted;
}

DailyReportWindow::DailyReportWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent,
                                     PrinterChoice choosePrinter)
    : QDialog(parent), app_(app), desktop_(desktop), choosePrinter_(std::move(choosePrinter))
{
    setObjectName(QStringLiteral("frmDailyReport"));
    setWindowTitle(QStringLiteral("日報表"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    date_ = new QDateEdit(QDate::currentDate(), this);
    date_->setObjectName(QStringLiteral("dtpDate"));
    date_->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    date_->setCalendarPopup(true);
    date_->setMaximumDate(QDate::currentDate().addYears(1));
    print_ = platform::namedButton(this, "cmdPrint", QStringLiteral("列印…"));
    savePdf_ = platform::namedButton(this, "cmdSavePdf", QStringLiteral("存成 PDF…"));
    QPushButton *leave = platform::namedButton(this, "cmdExit", QStringLiteral("離開"));

    auto *dateLine = new QHBoxLayout;
    dateLine->addWidget(new QLabel(QStringLiteral("日期："), this));
    dateLine->addWidget(date_, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(print_);
    buttons->addWidget(savePdf_);
    buttons->addStretch();
    buttons->addWidget(leave);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(dateLine);
    layout->addWidget(new QLabel(QStringLiteral("日報表列出製表時的帳款概況，以及這一天的作業、入帳與問題行。"), this));
    layout->addLayout(buttons);

    connect(print_, &QPushButton::clicked, this, &DailyReportWindow::onPrintClicked);
    connect(savePdf_, &QPushButton::clicked, this, &DailyReportWindow::onSavePdfClicked);
    connect(leave, &QPushButton::clicked, this, &QDialog::reject);
}

void DailyReportWindow::showFailure(const platform::Error &error)
{
    desktop_.showMessage(this, {QStringLiteral("無法製作日報表"), windowTitle(), platform::Icon::Critical,
                                platform::Buttons::Ok, platform::errorText(error)});
}

void DailyReportWindow::onPrintClicked()
{
    QPrinter printer(QPrinter::HighResolution);
    report::setUpPages(printer);
    printer.setDocName(QStringLiteral("日報表 ") + overview::dayCaption(date_->date()));
    if (!choosePrinter_(printer, this))
        return;
    int pages = 0;
    desktop_.setPointer(platform::Pointer::Hourglass);
    try {
        pages = report::paintDailyReport(printer, report::readDailyReport(app_, date_->date()));
    } catch (const platform::Error &error) {
        desktop_.setPointer(platform::Pointer::Default);
        showFailure(error);
        return;
    }
    desktop_.setPointer(platform::Pointer::Default);
    desktop_.showMessage(this, {QStringLiteral("日報表已送出列印，共 %1 頁").arg(pages), windowTitle(),
                                platform::Icon::Information});
}

void DailyReportWindow::onSavePdfClicked()
{
    const std::optional<QString> folder = desktop_.chooseFolder(this, QStringLiteral("選擇存放日報表的資料夾"));
    if (!folder)
        return;
    const QString path = QDir(*folder).filePath(report::dailyReportFileName(date_->date()));
    if (platform::fileExists(path)
        && desktop_.showMessage(this, {QStringLiteral("已有同名的檔案，要取代它嗎?"), windowTitle(), platform::Icon::Exclamation,
                                       platform::Buttons::YesNo, path, platform::Answer::No})
               != platform::Answer::Yes)
        return;
    int pages = 0;
    desktop_.setPointer(platform::Pointer::Hourglass);
    try {
        pages = report::writeDailyReportPdf(report::readDailyReport(app_, date_->date()), path);
    } catch (const platform::Error &error) {
        desktop_.setPointer(platform::Pointer::Default);
        showFailure(error);
        return;
    }
    desktop_.setPointer(platform::Pointer::Default);
    desktop_.showMessage(this, {QStringLiteral("日報表存檔完畢，共 %1 頁").arg(pages), windowTitle(),
                                platform::Icon::Information, platform::Buttons::Ok, path});
}

} // namespace talvesk::shell
