#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class QCloseEvent;
class QKeyEvent;

namespace talvesk::platform {

// A label or a button with the name the program knows it by.
QLabel *namedLabel(QWidget *parent, const char *name, const QString &text);
// Buttons of the program's windows never press themselves on Enter in another control.
QPushButton *namedButton(QWidget *parent, const char *name, const QString &text);

// A window that cannot be closed, by its title bar or by Escape, while it is busy with a run.
class BusyDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    bool busy() const { return busy_; }

protected:
    void setBusy(bool busy) { busy_ = busy; }
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool busy_ = false;
};

} // namespace talvesk::platform
