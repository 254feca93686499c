#include "backup/BackupWindow.h"

#include "platform/Error.h"
#include "platform/Widgets.h"

#include <algorithm>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace talvesk::backup {

namespace {

const QString kBackupCaption = QStringLiteral("備份資料庫");
const QString kRestoreCaption = QStringLiteral("回復資料庫");
const QString kOtherFolder = QStringLiteral("其他資料夾…");
const QString kNotReady = QStringLiteral(" 磁碟機, 裝置尚未就緒！請確認.");

bool isEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

BackupWindow::BackupWindow(Mode mode, const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : QDialog(parent), mode_(mode), app_(app), desktop_(desktop)
{
    const bool restoring = mode == Mode::Restore;
    setObjectName(restoring ? QStringLiteral("FRMRECOVERY") : QStringLiteral("frmbackup"));
    setWindowTitle(restoring ? kRestoreCaption : kBackupCaption);

    auto *driveLabel = new QLabel(QStringLiteral("磁碟機 : "), this);
    driveLabel->setObjectName(QStringLiteral("Label2"));
    driveBox = new QComboBox(this);
    driveBox->setObjectName(QStringLiteral("Drive"));
    fillDrives();
    auto *instructionLabel = new QLabel(restoring ? QStringLiteral("請先選擇具有備份檔案的磁碟機(來源)以供回復， 再按下確認鍵。")
                                        : QStringLiteral("請先選擇欲備份的磁碟機或將已格式化磁片放妥至磁碟機中，再按下確認鍵."),
                              this);
    instructionLabel->setObjectName(QStringLiteral("Label1"));
    instructionLabel->setWordWrap(true);

    auto *frame = new QGroupBox(QStringLiteral("選擇"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    // One slot a line: a filled slot's caption, date and size take more than half the window.
    auto *slotGrid = new QGridLayout(frame);
    slotGrid->setVerticalSpacing(2);
    for (int i = 0; i < kSlots; ++i) {
        auto *option = new QRadioButton(frame);
        option->setObjectName(QStringLiteral("opn%1").arg(i + 1));
        option->setMinimumWidth(300);
        slotGrid->addWidget(option, i, 0);
        options_[static_cast<std::size_t>(i)] = option;
    }

    confirmButton = new QPushButton(QStringLiteral("確 認"), this);
    confirmButton->setObjectName(QStringLiteral("cmdcfi"));
    cancelButton = new QPushButton(QStringLiteral("取 消"), this);
    cancelButton->setObjectName(QStringLiteral("cmdcancel"));
    for (QPushButton *b : {confirmButton, cancelButton})
        b->setAutoDefault(false);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 16, 20, 16);
    auto *driveRow = new QHBoxLayout;
    driveRow->addWidget(driveLabel);
    driveRow->addWidget(driveBox, 1);
    outer->addLayout(driveRow);
    outer->addWidget(instructionLabel);
    if (restoring) {
        auto *warningLabel = new QLabel(QStringLiteral("** 注意 : 執行完此回復作業後, 原資料庫之內容") + QString(20, u' ')
                                      + QStringLiteral("將會被備份磁片的資料覆蓋 !"),
                                  this);
        warningLabel->setObjectName(QStringLiteral("Label3"));
        warningLabel->setWordWrap(true);
        warningLabel->setStyleSheet(QStringLiteral("color: red;"));
        outer->addWidget(warningLabel);
    }
    outer->addWidget(frame);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(confirmButton);
    buttons->addWidget(cancelButton);
    buttons->addStretch();
    outer->addLayout(buttons);

    for (QWidget *w : std::initializer_list<QWidget *>{driveBox, confirmButton, cancelButton})
        w->installEventFilter(this);
    connect(driveBox, &QComboBox::activated, this, &BackupWindow::onDriveActivated);
    connect(driveBox, &QComboBox::currentIndexChanged, this, [this] { refreshCaptions(); });
    connect(confirmButton, &QPushButton::clicked, this, &BackupWindow::onConfirmClicked);
    connect(cancelButton, &QPushButton::clicked, this, &BackupWindow::onCancelClicked);

    platform::fixWindowSize(*this, {680, restoring ? 420 : 380});
    platform::placeWithin(*this, desktop_);
    desktop_.setPointer(platform::Pointer::Default);
}

void BackupWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    refreshCaptions();
    // A restore offers the newest backup on the drive; a backup starts at the first slot.
    std::size_t chosen = 0;
    if (mode_ == Mode::Restore) {
        for (std::size_t at = 0; at < contents_.size(); ++at) {
            if (contents_[at].found && (!contents_[chosen].found || contents_[at].written > contents_[chosen].written))
                chosen = at;
        }
    }
    options_[chosen]->setChecked(true);
}

QString BackupWindow::driveText() const
{
    return driveBox->currentData().toString();
}

QString BackupWindow::settingsFile() const
{
    return platform::windowSettingsFile(app_.root());
}

void BackupWindow::addDrive(const QString &path)
{
    const QString home = QDir::homePath();
    QString name;
    if (path == home)
        name = QStringLiteral("個人資料夾");
    else if (path == QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        name = QStringLiteral("文件");
    else if (QStorageInfo volume(path); volume.isValid() && volume.rootPath() == path && !volume.displayName().isEmpty()
                                        && volume.displayName() != path)
        name = QStringLiteral("卸除式磁碟 ") + volume.displayName();
    else
        name = QFileInfo(path).fileName();
    driveBox->insertItem(driveBox->count() - 1, name.isEmpty() ? path : name + QStringLiteral(" (") + path + u')', path);
}

void BackupWindow::fillDrives()
{
    // The last item lets any folder be chosen; it carries no path of its own.
    driveBox->addItem(kOtherFolder);
    for (const QString &path : desktop_.drives())
        addDrive(path);
    // The place used last time, when it is still there; never the system's root.
    const QString last = QSettings(settingsFile(), QSettings::IniFormat).value(QStringLiteral("backup/lastDrive")).toString();
    if (!last.isEmpty() && last != QDir::rootPath() && QFileInfo(last).isDir()) {
        if (driveBox->findData(last) < 0)
            addDrive(last);
        driveBox->setCurrentIndex(driveBox->findData(last));
    } else {
        driveBox->setCurrentIndex(0);
    }
}

void BackupWindow::onDriveActivated(int index)
{
    if (!driveBox->itemData(index).isNull())
        return;
    const auto folder = desktop_.chooseFolder(this, kOtherFolder);
    const QSignalBlocker quiet(driveBox);
    if (!folder) {
        driveBox->setCurrentIndex(previousDrive_);
        return;
    }
    if (driveBox->findData(*folder) < 0)
        addDrive(*folder);
    driveBox->setCurrentIndex(driveBox->findData(*folder));
    previousDrive_ = driveBox->currentIndex();
    refreshCaptions();
}

void BackupWindow::rememberDrive()
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("backup/lastDrive"), driveText());
    settings.sync();
}

void BackupWindow::refreshCaptions()
{
    if (!driveBox->currentData().isNull())
        previousDrive_ = driveBox->currentIndex();
    // Each slot says what it holds on this drive (when, how big) or plainly that it holds nothing,
    // so nothing is offered, or asked about, that is not there.
    contents_ = slotContents(drivePrefix(driveText()));
    for (int i = 0; i < kSlots; ++i) {
        const auto at = static_cast<std::size_t>(i);
        options_[at]->setText(slotDescription(i + 1, contents_[at]));
    }
}

BackupWindow::ChosenSlot BackupWindow::chosenSlot() const
{
    for (int i = 0; i < kSlots; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (options_[at]->isChecked())
            return {i + 1, slotFileName(i + 1), contents_[at].found};
    }
    return {0, slotFileName(0), false};
}

void BackupWindow::onConfirmClicked()
{
    if (mode_ == Mode::Backup)
        backup();
    else
        restore();
}

void BackupWindow::backup()
{
    const auto [slot, fileName, shown] = chosenSlot();
    const QString prefix = drivePrefix(driveText());
    if (slot > 0) {
        // The backup as it is now, not as the slots were last drawn: one written since is asked
        // about too, and the date said is that of the backup about to be replaced.
        const auto at = static_cast<std::size_t>(slot - 1);
        const SlotContent now = slotContents(prefix)[at];
        const SlotContent &replaced = now.found ? now : contents_[at];
        // The only good backup may be in this slot: a slipped Enter answers No.
        if ((shown || now.found)
            && desktop_.showMessage(this, {QStringLiteral("是否覆蓋") + fileName + u'!', kBackupCaption,
                                           platform::Icon::None, platform::Buttons::YesNo, replacedBackupText(slot, replaced),
                                           platform::Answer::No})
                   != platform::Answer::Yes)
            return;
    }
    desktop_.setPointer(platform::Pointer::Hourglass);
    try {
        backupDatabase(app_, slotPath(prefix, fileName));
    } catch (const platform::Error &error) {
        failed(error);
        return;
    }
    rememberDrive();
    desktop_.showMessage(this, {kBackupDone, QStringLiteral("備份")});
    desktop_.setPointer(platform::Pointer::Default);
    refreshCaptions();
}

void BackupWindow::restore()
{
    const auto [slot, fileName, offered] = chosenSlot();
    const bool anyChosen = std::any_of(options_.begin(), options_.end(), [](const QRadioButton *o) { return o->isChecked(); });
    if (!anyChosen) {
        desktop_.showMessage(this, {QStringLiteral("請選擇檔案!"), QStringLiteral("回復"), platform::Icon::Information});
        return;
    }
    if (!offered) {
        // A slot that is simply empty on this drive: say so, rather than ask for a choice made.
        desktop_.showMessage(this, {QStringLiteral("此磁碟機的這一格沒有備份檔案 (") + fileName
                                        + QStringLiteral("),請選擇有備份的一格或另一個磁碟機。"),
                                    QStringLiteral("回復"), platform::Icon::Information});
        return;
    }
    // Overwriting the database is what a slipped Enter must not do: No is the default.
    if (desktop_.showMessage(this, {QStringLiteral("是否確定以 ") + fileName + QStringLiteral(" 覆蓋目前資料庫!"),
                                    kRestoreCaption, platform::Icon::None, platform::Buttons::YesNo, QString(),
                                    platform::Answer::No})
        != platform::Answer::Yes)
        return;
    const QString prefix = drivePrefix(driveText());
    desktop_.setPointer(platform::Pointer::Hourglass);
    RestoreOutcome outcome;
    try {
        outcome = restoreDatabase(app_, slotPath(prefix, fileName));
    } catch (const platform::Error &error) {
        failed(error);
        return;
    }
    rememberDrive();
    desktop_.showMessage(this, {kRestoreDone, QStringLiteral("回復"), platform::Icon::Information,
                                platform::Buttons::Ok, restoreReport(outcome)});
    desktop_.setPointer(platform::Pointer::Default);
    driveBox->setEnabled(false);
    confirmButton->setEnabled(false);
    cancelButton->setFocus(Qt::OtherFocusReason);
}

void BackupWindow::failed(const platform::Error &error)
{
    using platform::Icon;
    namespace errnum = platform::errnum;
    desktop_.setPointer(platform::Pointer::Default);
    const bool restoring = mode_ == Mode::Restore;
    const QString title = restoring ? QStringLiteral("回復") : QStringLiteral("備份");
    QString text = error.description();
    Icon icon = restoring ? Icon::Exclamation : Icon::Critical;
    QWidget *focus = nullptr;
    // A place that is write-protected or full is said as such, not as the database in use; the
    // system's words go under the message.
    if (const PlaceProblem problem = placeProblem(error); !restoring && problem != PlaceProblem::None) {
        desktop_.showMessage(this, {placeProblemText(problem, driveBox->currentText()), title, Icon::Critical,
                                    platform::Buttons::Ok, error.description()});
        driveBox->setFocus(Qt::OtherFocusReason);
        return;
    }
    switch (error.number()) {
    case errnum::FileNotFound:
        if (restoring) {
            text = QStringLiteral(" 檔案不存在, 請確認.");
            focus = driveBox;
        }
        break;
    case errnum::DeviceIo:
    case errnum::ObjectInvalid:
        icon = Icon::Critical;
        if (!restoring)
            focus = driveBox;
        break;
    case errnum::DiskNotReady:
        text = driveText() + kNotReady;
        icon = Icon::Critical;
        focus = confirmButton;
        break;
    case errnum::PermissionDenied:
        if (!restoring)
            text = QStringLiteral("資料庫正在使用中，無法備份，請先關閉資料庫");
        break;
    default:
        break;
    }
    desktop_.showMessage(this, {text, title, icon});
    if (focus && focus->isEnabled())
        focus->setFocus(Qt::OtherFocusReason);
}

void BackupWindow::onCancelClicked()
{
    reject();
    desktop_.processPendingEvents();
}

bool BackupWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    // Focus moves never land on a disabled control.
    auto go = [](QWidget *target) {
        if (target && target->isEnabled())
            target->setFocus(Qt::OtherFocusReason);
        return true;
    };
    if (watched == driveBox) {
        if (isEnter(key)) {
            onConfirmClicked();
            return true;
        }
        if (key == Qt::Key_Up)
            return go(cancelButton);
        if (key == Qt::Key_Down)
            return go(confirmButton->isEnabled() ? static_cast<QWidget *>(confirmButton) : cancelButton);
    } else if (watched == confirmButton) {
        if (key == Qt::Key_Up)
            return go(driveBox);
        if (key == Qt::Key_Down)
            return go(cancelButton);
    } else if (watched == cancelButton) {
        if (key == Qt::Key_Up)
            return go(confirmButton);
        if (key == Qt::Key_Down)
            return go(driveBox);
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace talvesk::backup
