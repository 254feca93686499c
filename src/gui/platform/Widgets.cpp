#include "platform/Widgets.h"

#include <QCloseEvent>
#include <QKeyEvent>

namespace talvesk::platform {

QLabel *namedLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton *namedButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

void BusyDialog::closeEvent(QCloseEvent *event)
{
    if (busy_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void BusyDialog::keyPressEvent(QKeyEvent *event)
{
    if (busy_ && event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

BusyScope::BusyScope(BusyDialog &dialog, Desktop &desktop, std::initializer_list<QWidget *> controls)
    : dialog_(dialog), desktop_(desktop)
{
    dialog_.setBusy(true);
    for (QWidget *control : controls) {
        controls_.emplace_back(control, control->isEnabled());
        control->setEnabled(false);
    }
    desktop_.setPointer(Pointer::Hourglass);
}

BusyScope::~BusyScope()
{
    desktop_.setPointer(Pointer::Default);
    for (const auto &[control, enabled] : controls_) {
        if (control)
            control->setEnabled(enabled);
    }
    dialog_.setBusy(false);
}

void BusyScope::pointerBack()
{
    desktop_.setPointer(Pointer::Default);
}

} // namespace talvesk::platform
