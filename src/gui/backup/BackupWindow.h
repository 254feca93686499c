#pragma once

#include "backup/Backup.h"
#include "platform/Desktop.h"
#include "platform/Error.h"

#include <QDialog>

#include <array>

class QComboBox;
class QPushButton;
class QRadioButton;

namespace talvesk::backup {

// frmbackup and FRMRECOVERY: a drive, six slots, and 確 認 to back the database up to the chosen
// slot or to restore it from there.
class BackupWindow : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Backup, Restore };
    BackupWindow(Mode mode, const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent = nullptr);

    void onConfirmClicked();
    void onCancelClicked();
    // Sets each slot's caption from the files on the chosen drive.
    void refreshCaptions();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void backup();
    void restore();
    // The chosen slot (1 to 6; 0 when none is), its file name and whether its file is on the
    // chosen drive.
    struct ChosenSlot {
        int slot = 0;
        QString fileName;
        bool found = false;
    };
    ChosenSlot chosenSlot() const;
    // The chosen place's path.
    QString driveText() const;
    void fillDrives();
    // Adds a place before 其他資料夾…, under a name a clerk recognises, with its path.
    void addDrive(const QString &path);
    // 其他資料夾…: a folder dialog; cancelling goes back to the place chosen before.
    void onDriveActivated(int index);
    // The place of the last backup or restore is offered first next time.
    void rememberDrive();
    QString settingsFile() const;
    void failed(const platform::Error &error);

    Mode mode_;
    platform::AppFolder app_;
    platform::Desktop &desktop_;
    QComboBox *driveBox;
    std::array<QRadioButton *, kSlots> options_{};
    std::array<SlotContent, kSlots> contents_{}; // what each slot holds on the chosen drive
    QPushButton *confirmButton;
    QPushButton *cancelButton;
    int previousDrive_ = 0;
};

} // namespace talvesk::backup
