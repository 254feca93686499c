#include "platform/Desktop.h"

#include <algorithm>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QGuiApplication>
#include <QMessageBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QGridLayout>
#include <QSpacerItem>
#include <QStorageInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace talvesk::platform {

namespace {

// Room a window manager's title bar takes beside the title: its icon and its buttons.
constexpr int kTitleBarButtons = 110;
// How long the desktop's opener may take to say whether it could open a file: without a desktop
// environment xdg-open tries several ways and gives up after about three seconds.
constexpr int kOpenerWaitMs = 6000;

} // namespace

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
    // The title bar cuts a title wider than the box (the program's caption was cut to a few
    // characters): the box is made wide enough for its title, frame buttons included.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        const int titleWidth = box.fontMetrics().horizontalAdvance(box.windowTitle()) * 6 / 5 + kTitleBarButtons;
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
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

QString windowSettingsFile(const QString &appRoot)
{
    return appRoot + QStringLiteral("/Windows.ini");
}

QString FolderMemory::folderFor(const QString &kind, const QString &fallback) const
{
    if (settingsFile_.isEmpty() || kind.isEmpty())
        return fallback;
    const QString folder = QSettings(settingsFile_, QSettings::IniFormat).value(QStringLiteral("folders/") + kind).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void FolderMemory::remember(const QString &kind, const QString &chosen, bool isFolder)
{
    if (settingsFile_.isEmpty() || kind.isEmpty())
        return;
    QSettings settings(settingsFile_, QSettings::IniFormat);
    settings.setValue(QStringLiteral("folders/") + kind, isFolder ? chosen : QFileInfo(chosen).absolutePath());
    if (!isFolder) {
        QStringList recent = settings.value(QStringLiteral("recent/") + kind).toStringList();
        const QString file = QFileInfo(chosen).absoluteFilePath();
        recent.removeAll(file);
        recent.prepend(file);
        settings.setValue(QStringLiteral("recent/") + kind, recent.mid(0, kRecentFiles));
    }
    settings.sync(); // a folder not kept costs the clerk a few clicks, nothing more
}

QStringList FolderMemory::recentFiles(const QString &kind) const
{
    if (settingsFile_.isEmpty() || kind.isEmpty())
        return {};
    return QSettings(settingsFile_, QSettings::IniFormat).value(QStringLiteral("recent/") + kind).toStringList().mid(0, kRecentFiles);
}

namespace {

// The file dialog's list: a folder's type reads 資料夾 (the translations lack it) and a date
// reads 2026/12/09 05:36 (the zh_TW short time form has a day-period letter Qt shows as "B").
class FileListTexts : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole) {
            if (const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel())) {
                const QModelIndex source = mapToSource(index);
                if (index.column() == 2 && files->isDir(source))
                    return QStringLiteral("資料夾");
                if (index.column() == 3)
                    return files->lastModified(source).toString(QStringLiteral("yyyy/MM/dd HH:mm"));
            }
        }
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace

std::optional<QString> QtDesktop::runFileDialog(QWidget *parent, const QString &title, const QString &folder,
                                                const QString &filter, bool saving, const QString &offeredName)
{
    const bool wasBusy = busy_;
    if (wasBusy)
        setPointer(Pointer::Default);
    // Qt's own dialog, so that its lists read in Chinese whatever the desktop: the file list's
    // type and date columns are given in the program's words (see FileListTexts).
    QFileDialog dialog(parent, title, folder, qtFileFilter(filter));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setProxyModel(new FileListTexts(&dialog));
    if (saving) {
        // The only files saved are workbooks: a name typed bare is the workbook's, and is the name
        // the dialog asks about before it replaces a file.
        dialog.setDefaultSuffix(QStringLiteral("xlsx"));
        dialog.selectFile(offeredName);
    }
    const QString path = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
        ? dialog.selectedFiles().constFirst()
        : QString();
    if (wasBusy)
        setPointer(Pointer::Hourglass);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> QtDesktop::chooseFile(QWidget *parent, const FileChoice &choice)
{
    QString folder = choice.initialFolder;
    if (folder.isEmpty() || folder.compare(QStringLiteral("c:\\"), Qt::CaseInsensitive) == 0)
        folder = QDir::homePath();
    const std::optional<QString> path =
        runFileDialog(parent, choice.title, folders_.folderFor(choice.kind, folder), choice.filter, false);
    if (path)
        folders_.remember(choice.kind, *path);
    return path;
}

std::optional<QString> QtDesktop::chooseSaveFile(QWidget *parent, const QString &title, const QString &suggested)
{
    const QFileInfo offered(suggested);
    std::optional<QString> path =
        runFileDialog(parent, title, folders_.folderFor(filekind::ExportedWorkbook, offered.absolutePath()),
                      QStringLiteral("Excel 活頁簿|*.xlsx"), true, offered.fileName());
    if (!path)
        return std::nullopt;
    // Whatever the dialog made of the name typed, the workbook must open as one.
    if (!path->endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        *path += QStringLiteral(".xlsx");
    folders_.remember(filekind::ExportedWorkbook, *path);
    return path;
}

namespace {

#ifdef Q_OS_LINUX
// QDesktopServices only starts xdg-open and reports that it started, so a desktop where nothing
// opens workbooks looked like success. xdg-open tells by its exit code (3: nothing can open the
// file); it may also run as long as the program it started, so a wait of a few seconds, with the
// window's events running, tells the two apart. Nothing when there is no xdg-open to ask.
std::optional<bool> openWithXdgOpen(const QString &path)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return std::nullopt;
    auto *process = new QProcess;
    process->setProgram(opener);
    process->setArguments({path});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start();
    if (!process->waitForStarted(kOpenerWaitMs)) {
        delete process;
        return std::nullopt;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kOpenerWaitMs) {
        if (process->waitForFinished(50)) {
            const bool opened = process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
            delete process;
            return opened;
        }
        QCoreApplication::processEvents();
    }
    // Still running: it is the program that shows the file. It is left alone (deleting the
    // process object would end it) and forgotten once it ends.
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    return true;
}
#endif

} // namespace

bool QtDesktop::openDocument(const QString &path)
{
#ifdef Q_OS_LINUX
    if (const auto opened = openWithXdgOpen(path))
        return *opened;
#endif
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool isRemovableVolume(const QString &rootPath, const QString &device, const QString &sysClassBlock)
{
    static const QRegularExpression userMedia(QStringLiteral("^(/run)?/media/[^/]+/[^/]+$"));
    if (userMedia.match(rootPath).hasMatch())
        return true;
    if (!device.startsWith(QStringLiteral("/dev/")))
        return false;
    // /dev/disk/by-label/STICK and the like lead to the device's own name.
    const QString resolved = QFileInfo(device).canonicalFilePath();
    const QString name = QFileInfo(resolved.isEmpty() ? device : resolved).fileName();
    const QString entry = QFileInfo(sysClassBlock + u'/' + name).canonicalFilePath();
    if (name.isEmpty() || entry.isEmpty())
        return false;
    auto markedRemovable = [](const QString &folder) {
        QFile flag(folder + QStringLiteral("/removable"));
        return flag.open(QIODevice::ReadOnly) && flag.readAll().trimmed() == "1";
    };
    // A partition has no flag of its own; its disk, the folder above it, has.
    return markedRemovable(entry) || (!QFileInfo::exists(entry + QStringLiteral("/removable"))
                                      && markedRemovable(QFileInfo(entry).absolutePath()));
}

QStringList QtDesktop::drives() const
{
    QStringList places;
#ifdef Q_OS_WIN
    // The drive letters, in lower case as the backup's drive text is read ("a:" is never probed),
    // removable drives first; every other kind after them, the system's drive among them.
    QStringList others;
    const DWORD letters = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(letters & (DWORD(1) << i)))
            continue;
        const QString root = QChar(u'a' + i) + QStringLiteral(":/");
        const UINT type = ::GetDriveTypeW(QDir::toNativeSeparators(root).toStdWString().c_str());
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN)
            continue;
        (type == DRIVE_REMOVABLE ? places : others) << root;
    }
    places << others;
#else
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (root != QDir::rootPath() && volume.isValid() && volume.isReady() && !places.contains(root)
            && isRemovableVolume(root, QString::fromLocal8Bit(volume.device())))
            places << root;
    }
#endif
    for (const QString &folder : {QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                  QDir::homePath()}) {
        if (!folder.isEmpty() && folder != QDir::rootPath() && QFileInfo(folder).isDir() && !places.contains(folder))
            places << folder;
    }
    return places;
}

std::optional<QString> QtDesktop::chooseFolder(QWidget *parent, const QString &title)
{
    const QString folder = QFileDialog::getExistingDirectory(
        parent, title, folders_.folderFor(filekind::BackupFolder, QDir::homePath()));
    if (folder.isEmpty())
        return std::nullopt;
    folders_.remember(filekind::BackupFolder, folder, true);
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
        const QString filter = parts.at(i) + QStringLiteral(" (") + pattern + u')';
        if (!filters.contains(filter))
            filters << filter;
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

void reportExportedWorkbook(Desktop &desktop, QWidget *parent, const QString &title, const QString &text,
                            const QString &note, const QString &path)
{
    if (desktop.openDocument(path)) {
        desktop.showMessage(parent, {text, title, Icon::Information, Buttons::Ok, note});
        return;
    }
    const Answer answer =
        desktop.showMessage(parent, {text + QStringLiteral("\n但這台電腦沒有可以開啟活頁簿的程式。要開啟它所在的資料夾嗎?"), title,
                                     Icon::Exclamation, Buttons::YesNo, note});
    if (answer == Answer::Yes && !desktop.openDocument(QFileInfo(path).absolutePath()))
        desktop.showMessage(parent, {QStringLiteral("也無法開啟資料夾,活頁簿在:"), title, Icon::Exclamation, Buttons::Ok, path});
}

} // namespace talvesk::platform
