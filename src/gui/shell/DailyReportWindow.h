#pragma once

#include "platform/AppFolder.h"
#include "platform/Desktop.h"
#include "platform/Error.h"

#include <QDialog>

#include <functional>

class QDateEdit;
class QPrinter;
class QPushButton;

namespace talvesk::shell {

// 日報表: picks a day (today at first) and prints its report or saves it as a PDF file.
class DailyReportWindow : public QDialog {
    Q_OBJECT
public:
    // Shows the system's print dialog for `printer`; true when the clerk chose to print.
    using PrinterChoice = std::function<bool(QPrinter &printer, QWidget *parent)>;
    static bool askWithPrintDialog(QPrinter &printer, QWidget *parent);

    DailyReportWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent = nullptr,
                      PrinterChoice choosePrinter = &DailyReportWindow::askWithPrintDialog);

    void onPrintClicked();
    void onSavePdfClicked();

private:
    void showFailure(const platform::Error &error);

    platform::AppFolder app_;
    platform::Desktop &desktop_;
    PrinterChoice choosePrinter_;
    QDateEdit *date_;
    QPushButton *print_;
    QPushButton *savePdf_;
};

} // namespace talvesk::shell
