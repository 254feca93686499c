#include "platform/Widgets.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QResizeEvent>

#include <algorithm>

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

void fixWindowSize(QWidget &window, QSize size)
{
    window.setFixedSize(size);
    // Without the customised hints the window manager still offers to maximise a window that
    // cannot grow.
    const bool dialog = (window.windowFlags() & Qt::WindowType_Mask) == Qt::Dialog;
    window.setWindowFlags((dialog ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

PathLabel::PathLabel(QWidget *parent) : QLabel(parent)
{
    // The label takes the width the layout gives it, not the width of the whole path.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathLabel::setPath(const QString &path)
{
    path_ = path;
    setToolTip(path);
    showElided();
}

void PathLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showElided();
}

void PathLabel::showElided()
{
    setText(fontMetrics().elidedText(path_, Qt::ElideMiddle, std::max(contentsRect().width(), 40)));
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
