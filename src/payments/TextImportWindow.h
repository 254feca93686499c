#pragma once

#include "payments/TextImport.h"
#include "platform/Desktop.h"

#include "platform/Widgets.h"

class QLabel;
class QPushButton;

namespace talvesk::payments {

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
    };
    TextImportWindow(const Design &design, TextImport &import, platform::Desktop &desktop, QWidget *parent = nullptr);

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

private:
    void message(const QString &text, platform::Icon icon);

    Design design_;
    TextImport &import_;
    platform::Desktop &desktop_;
    QLabel *cur_file;
    QLabel *lblsuccess;
    QLabel *lblfail;
    QPushButton *Command1;
    QPushButton *Command2;
    QPushButton *Command3;
};

// frmreadbank1: the bank's credited-payment text file.
TextImportWindow::Design bankWindowDesign();

// The completion messages of a text import.
inline const QString kReadDone = QStringLiteral("讀入檔案完成!");
inline const QString kReadDoneWithErrors =
    QStringLiteral("讀入檔案完成,部份資料有錯誤,請查看應用程式目錄下的 ErrLog.Txt!");

// The message for a failed run, chosen by the error's number.
QString textImportFailureText(int errorNumber);

} // namespace talvesk::payments
