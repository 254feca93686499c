#include "platform/Desktop.h"

#include <algorithm>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStorageInfo>

namespace talvesk::platform {

Answer QtDesktop::showMessage(QWidget *parent, const Message &message)
{
    QMessageBox box(parent);
    // A box without a title of its own speaks for the program, not for the executable's name.
    box.setWindowTitle(message.title.isEmpty() ? kProgramCaption : message.title);
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
    if (message.defaultAnswer) {
        switch (*message.defaultAnswer) {
        case Answer::Ok:
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case Answer::Cancel:
            box.setDefaultButton(QMessageBox::Cancel);
            break;
        case Answer::Yes:
            box.setDefaultButton(QMessageBox::Yes);
            break;
        case Answer::No:
            box.setDefaultButton(QMessageBox::No);
            break;
        }
    }
    // A busy pointer must not hide that the program now waits for an answer.
    const bool wasBusy = busy_;
    if (wasBusy)
        setPointer(Pointer::Default);
    const int chosen = box.exec();
    if (wasBusy)
        setPointer(Pointer::Hourglass);
    switch (chosen) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        // Closing a box by its title bar answers as Escape would.
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

bool QtDesktop::openDocument(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QStringList QtDesktop::drives() const
{
    // Removable media are mounted under these; everything else mounted is the system's own.
    static const QStringList removableParents{QStringLiteral("/media/"), QStringLiteral("/run/media/"),
                                              QStringLiteral("/mnt/")};
    QStringList places;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        const bool removable = std::any_of(removableParents.begin(), removableParents.end(),
                                           [&root](const QString &parent) { return root.startsWith(parent); });
        if (removable && volume.isValid() && volume.isReady() && !places.contains(root))
            places << root;
    }
    for (const QString &folder : {QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                  QDir::homePath()}) {
        if (!folder.isEmpty() && folder != QDir::rootPath() && QFileInfo(folder).isDir() && !places.contains(folder))
            places << folder;
    }
    return places;
}

std::optional<QString> QtDesktop::chooseFolder(QWidget *parent, const QString &title)
{
    const QString folder = QFileDialog::getExistingDirectory(parent, title, QDir::homePath());
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
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

QRect QtDesktop::availableGeometry() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void QtDesktop::processPendingEvents()
{
    if (sinceEvents_.isValid() && sinceEvents_.elapsed() < 30)
        return;
    QCoreApplication::processEvents();
    sinceEvents_.start();
}

bool installQtTranslation()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_TW"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::Taiwan));
    return QCoreApplication::installTranslator(translator);
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

QRect fitWithin(const QRect &available, QSize wanted, const QMargins &frame)
{
    const QSize room(available.width() - frame.left() - frame.right(), available.height() - frame.top() - frame.bottom());
    const QSize size = wanted.boundedTo(room);
    const QSize framed(size.width() + frame.left() + frame.right(), size.height() + frame.top() + frame.bottom());
    QPoint corner = available.topLeft() + placementFor(available.size(), framed);
    corner.setX(std::max(corner.x(), available.left()));
    corner.setY(std::max(corner.y(), available.top()));
    return {corner + QPoint(frame.left(), frame.top()), size};
}

} // namespace talvesk::platform
