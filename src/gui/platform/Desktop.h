#pragma once

#include "platform/AppFolder.h" // kProgramCaption

#include <QElapsedTimer>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace talvesk::platform {


enum class Icon { None, Information, Exclamation, Critical };
enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };
enum class Pointer { Default, Hourglass };

struct Message {
    Message(QString text_, QString title_, Icon icon_ = Icon::None, Buttons buttons_ = Buttons::Ok,
            QString informativeText_ = QString(), std::optional<Answer> defaultAnswer_ = std::nullopt)
        : text(std::move(text_)), title(std::move(title_)), icon(icon_), buttons(buttons_),
          informativeText(std::move(informativeText_)), defaultAnswer(defaultAnswer_)
    {
    }

    QString text;
    QString title;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    QString informativeText; // a second line under the text, such as a saved file's path
    // The button Enter presses; nothing means the box's first button. A question whose Yes
    // destroys data names No here, so that a slipped Enter keeps it.
    std::optional<Answer> defaultAnswer;
};

// A file-open dialog: the filter in the classic "description|pattern|description|pattern" form and
// the initial folder ("c:\\" means the user's home folder).
struct FileChoice {
    QString filter;
    QString initialFolder;
    QString title;
    QString kind; // what is chosen (a receivables workbook, a bank file...): its last folder is kept
};

// Kinds of files whose folders are remembered apart.
namespace filekind {
inline const QString ReceivablesWorkbook = QStringLiteral("receivablesWorkbook");
inline const QString PaymentsWorkbook = QStringLiteral("paymentsWorkbook");
inline const QString BankFile = QStringLiteral("bankFile");
inline const QString StoreFile = QStringLiteral("storeFile");
inline const QString BackupFolder = QStringLiteral("backupFolder");
inline const QString ExportedWorkbook = QStringLiteral("exportedWorkbook");
} // namespace filekind

// The filter of the workbook imports: every format the readers take, then all files.
inline const QString kWorkbookFilter = QStringLiteral("活頁簿|*.xlsx;*.xlsm;*.xls;*.ods;*.csv|所有檔案|*.*");

// The settings file of the windows (last folders, last backup place), in the application folder.
QString windowSettingsFile(const QString &appRoot);

// The folder each kind of file was last chosen in, kept in a settings file, so a dialog opens
// where the clerk left off.
class FolderMemory {
public:
    explicit FolderMemory(QString settingsFile) : settingsFile_(std::move(settingsFile)) {}
    // The folder last used for `kind` while it still exists; otherwise `fallback`.
    QString folderFor(const QString &kind, const QString &fallback) const;
    // Keeps the folder of `chosen` (a file, or a folder itself when `isFolder`) for `kind`; a file
    // also goes first among the recent files of its kind.
    void remember(const QString &kind, const QString &chosen, bool isFolder = false);
    // The last files chosen of `kind`, newest first, at most kRecentFiles.
    QStringList recentFiles(const QString &kind) const;
    static constexpr int kRecentFiles = 5;

private:
    QString settingsFile_;
};

// What the windows ask of the desktop: message boxes, the mouse pointer, the screen, and letting
// pending window events run. Tests replace it with a fake that records and answers as scripted.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Shows a modal message box over `parent` and gives the button chosen.
    virtual Answer showMessage(QWidget *parent, const Message &message) = 0;
    virtual void setPointer(Pointer pointer) = 0;
    // Shows a file-open dialog; the chosen file's full path, or nothing when cancelled.
    virtual std::optional<QString> chooseFile(QWidget *parent, const FileChoice &choice) = 0;
    // A file of `kind` taken without the dialog (dropped on a window, picked from the recent
    // files): kept as a choice in the dialog is, its folder and its place among the recent files.
    virtual void fileTaken(const QString &kind, const QString &path) = 0;
    // The last files of `kind` chosen or taken, newest first.
    virtual QStringList recentFiles(const QString &kind) const = 0;
    // Opens a file in the desktop's application for it (a workbook in the spreadsheet program), or
    // a folder in the file manager. Returns false when the desktop has nothing to open it with.
    virtual bool openDocument(const QString &path) = 0;
    // The places a backup can go to, most likely first: removable volumes, then the user's own
    // folders. Never the system's root.
    virtual QStringList drives() const = 0;
    // Shows a folder dialog (where the last one was chosen); the chosen folder, or nothing when
    // cancelled.
    virtual std::optional<QString> chooseFolder(QWidget *parent, const QString &title) = 0;
    // Shows a save dialog for an .xlsx workbook, offering `suggested` (its folder, or where the
    // last one was saved, and its name); the chosen path, ending in .xlsx, or nothing when
    // cancelled. The dialog asks itself before an existing file is replaced.
    virtual std::optional<QString> chooseSaveFile(QWidget *parent, const QString &title, const QString &suggested) = 0;
    // The whole screen, in pixels.
    virtual QSize screenSize() const = 0;
    // The part of the screen windows may take: the screen less the desktop's panels.
    virtual QRect availableGeometry() const = 0;
    // Lets pending window events run; in long loops at most every ~30 ms, so repainting does not
    // slow the work down.
    virtual void processPendingEvents() = 0;
};

// The real desktop: Qt message boxes, the override cursor, the primary screen. File and folder
// dialogs open where the same kind was last chosen, as kept in `settingsFile` (none: nothing kept).
class QtDesktop : public Desktop {
public:
    explicit QtDesktop(QString settingsFile = QString()) : folders_(std::move(settingsFile)) {}
    Answer showMessage(QWidget *parent, const Message &message) override;
    void setPointer(Pointer pointer) override;
    std::optional<QString> chooseFile(QWidget *parent, const FileChoice &choice) override;
    void fileTaken(const QString &kind, const QString &path) override { folders_.remember(kind, path); }
    QStringList recentFiles(const QString &kind) const override { return folders_.recentFiles(kind); }
    bool openDocument(const QString &path) override;
    QStringList drives() const override;
    std::optional<QString> chooseFolder(QWidget *parent, const QString &title) override;
    std::optional<QString> chooseSaveFile(QWidget *parent, const QString &title, const QString &suggested) override;
    QSize screenSize() const override;
    QRect availableGeometry() const override;
    void processPendingEvents() override;

private:
    // Qt's own open or save dialog in `folder`; the chosen path, or nothing when cancelled.
    std::optional<QString> runFileDialog(QWidget *parent, const QString &title, const QString &folder,
                                         const QString &filter, bool saving, const QString &offeredName = QString());

    bool busy_ = false;
    QElapsedTimer sinceEvents_;
    FolderMemory folders_;
};

// Whether a mounted volume is removable media, to be offered first for a backup: one mounted in a
// user's media folder (/media/<user>/<name>, /run/media/<user>/<name>), or one whose block device
// the kernel marks removable (`sysClassBlock`/<device>/removable, or its disk's for a partition).
// Anything else mounted, /mnt included, is the machine's own.
bool isRemovableVolume(const QString &rootPath, const QString &device,
                       const QString &sysClassBlock = QStringLiteral("/sys/class/block"));

// Loads Qt's own Traditional Chinese translation (standard buttons, file dialogs) into the
// application, from Qt's translations folder. Returns whether it was found and installed.
bool installQtTranslation();

// The placement every window follows: centred across, and 420 twips (28 pixels) higher than
// centred down. Returns the top-left corner.
QPoint placementFor(QSize screen, QSize window);
// The classic filter text ("Excel|*|All|*.*") as a Qt file-dialog filter ("Excel (*);;All (*)");
// an entry that repeats an earlier one is left out.
QString qtFileFilter(const QString &classicFilter);

// Windows that grow on an 800 x 600 screen take 1.25 times their designed size there.
QSize sizeForScreen(QSize screen, QSize designed);

// The frame a window manager typically adds (title bar and borders), assumed until the window is
// shown and its real frame is known.
inline constexpr QMargins kAssumedFrame{4, 30, 4, 4};
// Where a window of `wanted` size (without its frame) goes so that it, frame included, lies within
// `available`: shrunk where it must be, placed as placementFor places it, and never above or left
// of the available area. Returns the geometry without the frame.
QRect fitWithin(const QRect &available, QSize wanted, const QMargins &frame);

// After an export: hands the workbook at `path` to the desktop's spreadsheet program and says the
// export is done (`text`, with `note` under it); where the desktop has nothing to open workbooks
// with, says so and offers the workbook's folder instead.
void reportExportedWorkbook(Desktop &desktop, QWidget *parent, const QString &title, const QString &text,
                            const QString &note, const QString &path);

} // namespace talvesk::platform
