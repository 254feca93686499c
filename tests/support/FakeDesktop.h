#pragma once

#include "platform/Desktop.h"

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
    void openDocument(const QString &path) override { opened.push_back(path); }
    QStringList drives() const override { return driveList; }
    QSize screenSize() const override { return screen; }
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
    QStringList driveList;
    QSize screen{1024, 768};
    int eventRuns = 0;
    std::function<void()> onEvents; // runs inside processPendingEvents, may throw
    std::function<void(const platform::Message &)> onMessage;
};

} // namespace talvesk::test
