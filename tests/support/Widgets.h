#pragma once

#include <QApplication>
#include <QAbstractButton>
#include <QKeyEvent>
#include <QPushButton>
#include <QMessageBox>
#include <QTimer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace talvesk::test {

// Shows a window and waits until it is the active one, so that focus moves can be observed.
inline void showActive(QWidget &window)
{
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

template <typename T>
T *child(QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no child named " << name;
    return found;
}

// Types text that has no key of its own on the keyboard (a Chinese character, say).
inline void typeText(QWidget *widget, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

inline QString focusName()
{
    QWidget *w = QApplication::focusWidget();
    return w ? w->objectName() : QString();
}

// Once a real message box is up, records what it shows and presses `button` in it, or Enter when
// `button` is NoButton (so the box's default button answers). Polls, so it works for a box
// opened by whatever the test triggers next.
struct SeenBox {
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString defaultButtonText;
    QStringList buttonTexts;
    bool seen = false;
};

inline void pressInNextBox(SeenBox &seen, QMessageBox::StandardButton button)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, &seen, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        seen.seen = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.informativeText = box->informativeText();
        seen.icon = box->icon();
        if (QPushButton *d = box->defaultButton())
            seen.defaultButtonText = d->text();
        for (QAbstractButton *b : box->buttons())
            seen.buttonTexts << b->text();
        if (button == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Return);
        else
            box->button(button)->click();
    });
    timer->start();
}

// Closes any real message box that comes up once `first` has been answered, for as long as
// `owner` lives: a question answered the wrong way then fails its test instead of leaving it
// waiting on the box that follows.
inline void closeBoxesAfter(const SeenBox &first, QObject *owner)
{
    auto *timer = new QTimer(owner);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [&first] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (first.seen && box && box->isVisible())
            box->done(QMessageBox::Ok);
    });
    timer->start();
}

} // namespace talvesk::test
