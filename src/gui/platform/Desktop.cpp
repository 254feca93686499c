#include "platform/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStorageInfo>

namespace talvesk::platform {

Answer QtDesktop::showMessage(QWidget *parent, const Message &message)
{
    QMessageBox box(parent);
    box.setWindowTitle(message.title);
    box.setText(message.text);
    if (!message.informativeText.isEmpty())
        box.setInformativeText(message.informativeText);
    switch (message.icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    switch (message.buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    // A busy pointer must not hide that the program now waits for an answer.
    const bool wasBusy = busy_;
    if (wasBusy)
        setPointer(Pointer::Default);
    const int chosen = box.exec();
    if (wasBusy)
        setPointer(Pointer::Hourglass);
    switch (chosen) {
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        // Closing a box without Cancel or No answers as its only button does.
        return message.buttons == Buttons::OkCancel ? Answer::Cancel
             : message.buttons == Buttons::YesNo    ? Answer::No
                                                    : Answer::Ok;
    }
}

void QtDesktop::setPointer(Pointer pointer)
{
    const bool busy = pointer == Pointer::Hourglass;
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

std::optional<QString> QtDesktop::chooseFile(QWidget *parent, const FileChoice &choice)
{
    QString folder = choice.initialFolder;
    if (folder.isEmpty() || folder.compare(QStringLiteral("c:\\"), Qt::CaseInsensitive) == 0)
        folder = QDir::homePath();
    const bool wasBusy = busy_;
    if (wasBusy)
        setPointer(Pointer::Default);
    const QString path = QFileDialog::getOpenFileName(parent, choice.title, folder, qtFileFilter(choice.filter));
    if (wasBusy)
        setPointer(Pointer::Hourglass);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

void QtDesktop::openDocument(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QStringList QtDesktop::drives() const
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && !roots.contains(volume.rootPath()))
            roots << volume.rootPath();
    }
    return roots;
}

QString qtFileFilter(const QString &classicFilter)
{
    const QStringList parts = classicFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts.at(i + 1);
        // "*.*" also means files without a dot here.
        pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        pattern.replace(u';', u' ');
        filters << parts.at(i) + QStringLiteral(" (") + pattern + u')';
    }
    return filters.join(QStringLiteral(";;"));
}

QSize QtDesktop::screenSize() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1024, 768);
}

void QtDesktop::processPendingEvents()
{
    if (sinceEvents_.isValid() && sinceEvents_.elapsed() < 30)
        return;
    QCoreApplication::processEvents();
    sinceEvents_.start();
}

QPoint placementFor(QSize screen, QSize window)
{
    constexpr int kRaise = 28; // 420 twips at 15 twips a pixel
    return {(screen.width() - window.width()) / 2, (screen.height() - window.height() - kRaise) / 2};
}

QSize sizeForScreen(QSize screen, QSize designed)
{
    if (screen == QSize(800, 600))
        return designed * 1.25;
    return designed;
}

} // namespace talvesk::platform
