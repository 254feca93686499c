#include "shell/RemainMenu.h"

#include "credentials/ChgPasWd.h"
#include "payments/BankImport.h"
#include "payments/PaymentWindows.h"
#include "payments/TextImportWindow.h"
#include "store/StoreImport.h"
#include "store/StoreWindows.h"
#include "payments/PaymentsImport.h"
#include "receivables/ExcelImportWindow.h"
#include "receivables/MappingWindow.h"
#include "receivables/ReceivablesImport.h"
#include "shell/Compaction.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace talvesk::shell {

RemainMenu::RemainMenu(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : QMainWindow(parent), app_(app), desktop_(desktop)
{
    setObjectName(QStringLiteral("remainmenu"));
    setWindowTitle(platform::kProgramCaption);
    setCentralWidget(new QWidget(this));

    QMenuBar *bar = menuBar();
    connect(addCommand(bar, "readdisk", QStringLiteral("讀入應收帳款資料(EXCEL)")), &QAction::triggered, this,
            &RemainMenu::readdisk_Click);

    QMenu *work = bar->addMenu(QStringLiteral("處理作業"));
    work->setObjectName(QStringLiteral("MENU5"));
    connect(addCommand(work, "READBANK", QStringLiteral("讀入入帳明細(EXCEL)")), &QAction::triggered, this,
            &RemainMenu::READBANK_Click);
    connect(addCommand(work, "MENDO", QStringLiteral("讀入入帳明細(TXT)")), &QAction::triggered, this,
            &RemainMenu::MENDO_Click);
    addCommand(work, "errorfile", QStringLiteral("銷帳結果轉存EXCEL檔"));

    QMenu *store = bar->addMenu(QStringLiteral("超商銷帳資料處理"));
    store->setObjectName(QStringLiteral("PrtRec"));
    connect(addCommand(store, "READ711", QStringLiteral("讀入便利超商銷帳磁片")), &QAction::triggered, this,
            &RemainMenu::READ711_Click);
    addCommand(store, "PrtRecALL", QStringLiteral("超商銷帳資料轉EXCEL檔"));

    QMenu *system = bar->addMenu(QStringLiteral("系統作業"));
    system->setObjectName(QStringLiteral("syswork"));
    addCommand(system, "BACKUP", QStringLiteral("備份資料庫"));
    addCommand(system, "RESTORE", QStringLiteral("回復資料庫"));
    addCommand(system, "RClearFile", QStringLiteral("應收帳款清檔作業"));
    addCommand(system, "SClearFile", QStringLiteral("超商資料清檔作業"));
    connect(addCommand(system, "ChgPas", QStringLiteral("變更密碼")), &QAction::triggered, this,
            &RemainMenu::ChgPas_Click);

    connect(addCommand(bar, "EXITMENU", QStringLiteral("結束")), &QAction::triggered, this,
            &RemainMenu::EXITMENU_Click);

    const QSize screen = desktop_.screenSize();
    resize(platform::sizeForScreen(screen, kDesignedSize));
    move(platform::placementFor(screen, size()));
}

QAction *RemainMenu::addCommand(QWidget *menu, const char *name, const QString &caption)
{
    auto *action = new QAction(caption, menu);
    action->setObjectName(QString::fromLatin1(name));
    menu->addAction(action);
    return action;
}

bool RemainMenu::EXITMENU_Click()
{
    const auto answer = desktop_.showMessage(
        this, {QStringLiteral("確認結束系統?"), windowTitle(), platform::Icon::Information, platform::Buttons::OkCancel});
    if (answer != platform::Answer::Ok)
        return false;
    desktop_.setPointer(platform::Pointer::Hourglass);
    // A compaction that fails leaves the database as it was; the exit goes on regardless.
    compactDatabase(app_);
    desktop_.setPointer(platform::Pointer::Default);
    close();
    return true;
}

void RemainMenu::readdisk_Click()
{
    receivables::ReceivablesImport import(app_);
    receivables::ExcelImportWindow window(
        {QStringLiteral("frmExcelToAccess"), QStringLiteral("讀入應收帳款資料(EXCEL)")}, import,
        [this](QWidget *parent) {
            receivables::MappingWindow mapping(receivables::receivablesMappingDesign(), app_, desktop_, parent);
            mapping.exec();
        },
        desktop_, this);
    window.exec();
}

void RemainMenu::READBANK_Click()
{
    payments::PaymentsImport import(app_);
    receivables::ExcelImportWindow window(
        {QStringLiteral("frmExcelToAccess1"), QStringLiteral("讀入入帳明細(EXCEL)")}, import,
        [this](QWidget *parent) {
            receivables::MappingWindow mapping(payments::paymentsMappingDesign(), app_, desktop_, parent);
            mapping.exec();
        },
        desktop_, this);
    window.exec();
}

void RemainMenu::MENDO_Click()
{
    payments::BankImport import(app_);
    payments::TextImportWindow window(payments::bankWindowDesign(), import, desktop_, this);
    window.exec();
}

void RemainMenu::READ711_Click()
{
    store::StoreImport import(app_);
    payments::TextImportWindow window(store::storeWindowDesign(), import, desktop_, this);
    window.exec();
}

void RemainMenu::ChgPas_Click()
{
    credentials::ChgPasWd dialog(app_, desktop_, this);
    dialog.exec();
}

} // namespace talvesk::shell
