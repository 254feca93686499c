#pragma once

#include "platform/Desktop.h"

#include <QHash>

#include <deque>
#include <functional>
#include <vector>

namespace talvesk::test {

// Records every message box and pointer change; answers message boxes from a script, and with
// the box's first button when the script has run out.
class FakeDesktop : public platform::Desktop {
public:
    platform::Answer showMessage(QWidget *parent, const platform::Message &message) override;
    void setPointer(platform::Pointer pointer) override { pointers.push_back(pointer); }
    std::optional<QString> chooseFile(QWidget *, const platform::FileChoice &choice) override;
    void fileTaken(const QString &kind, const QString &path) override
    {
        recent[kind].removeAll(path);
        recent[kind].prepend(path);
        taken.push_back(path);
    }
    QStringList recentFiles(const QString &kind) const override { return recent.value(kind); }
    bool openDocument(const QString &path) override
    {
        opened.push_back(path);
        return openSucceeds;
    }
    QStringList drives() const override { return driveList; }
    std::optional<QString> chooseFolder(QWidget *, const QString &) override
    {
        ++folderDialogs;
        if (folders.empty() || folders.front().isEmpty())
            return std::nullopt;
        QString folder = folders.front();
        folders.pop_front();
        return folder;
    }
    std::optional<QString> chooseSaveFile(QWidget *, const QString &, const QString &suggested) override
    {
        suggestedSaves.push_back(suggested);
        if (saveFiles.empty())
            return std::nullopt;
        const QString file = saveFiles.front();
        saveFiles.pop_front();
        return file.isEmpty() ? std::nullopt : std::optional<QString>(file);
    }
    QSize screenSize() const override { return screen; }
    QRect availableGeometry() const override { return available.isEmpty() ? QRect(QPoint(), screen) : available; }
    void processPendingEvents() override;

    platform::Pointer pointer() const
    {
        return pointers.empty() ? platform::Pointer::Default : pointers.back();
    }
    // The texts of the messages shown so far.
    QStringList texts() const;

    std::vector<platform::Message> messages;
    std::deque<platform::Answer> answers;
    std::vector<platform::Pointer> pointers;
    std::deque<QString> files; // answers of the file dialog; an empty one, or none left: cancelled
    std::vector<platform::FileChoice> fileChoices;
    QStringList opened; // documents handed to the desktop
    QStringList taken;  // files taken without the dialog (dropped, picked from the recent ones)
    QHash<QString, QStringList> recent; // the recent files by kind
    bool openSucceeds = true; // false: the desktop has no program for them
    QStringList driveList;
    std::deque<QString> folders; // answers of the folder dialog; an empty one, or none left: cancelled
    int folderDialogs = 0;
    std::deque<QString> saveFiles; // answers of the save dialog, one each; an empty one, or none left: cancelled
    QStringList suggestedSaves;    // what each save dialog offered
    QSize screen{1024, 768};
    QRect available; // empty: the whole screen
    int eventRuns = 0;
    std::function<void()> onEvents; // runs inside processPendingEvents, may throw
    std::function<void(const platform::Message &)> onMessage;
};

} // namespace talvesk::test
