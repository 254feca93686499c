#pragma once

#include "platform/Desktop.h"
#include "workbookimport/WorkbookImport.h"

#include "platform/Widgets.h"

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace talvesk::workbookimport {

// The window that imports one worksheet of a chosen workbook: choose the file, pick the
// worksheet, set the column mapping, run the import and watch it count.
class ExcelImportWindow : public platform::BusyDialog {
    Q_OBJECT
public:
    struct Design {
        QString objectName;
        QString caption;
    };
    ExcelImportWindow(const Design &design, WorkbookImport &import, std::function<void(QWidget *)> openMapping,
                      platform::Desktop &desktop, QWidget *parent = nullptr);

    void cmdChoose_Click();
    void Command1_Click();
    void Command2_Click();
    void cmdCancel_Click();


private:
    void endWorkbook();
    void showCounts(qint64 row, const ImportCounts &counts);

    WorkbookImport &import_;
    std::function<void(QWidget *)> openMapping_;
    platform::Desktop &desktop_;
    QString chosenPath_;

    QLineEdit *txtField;
    QPushButton *cmdChoose;
    QComboBox *cmbWorksheets;
    QPushButton *Command1;
    QPushButton *Command2;
    QPushButton *cmdCancel;
    QProgressBar *ProgressBar1;
    QLabel *Label1;
    QLabel *Label4;
    QLabel *LblRMsg;
};

} // namespace talvesk::workbookimport
