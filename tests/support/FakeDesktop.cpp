#include "support/FakeDesktop.h"

namespace talvesk::test {

platform::Answer FakeDesktop::showMessage(QWidget *, const platform::Message &message)
{
    messages.push_back(message);
    if (onMessage)
        onMessage(message);
    if (!answers.empty()) {
        const platform::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return message.buttons == platform::Buttons::YesNo ? platform::Answer::Yes : platform::Answer::Ok;
}

std::optional<QString> FakeDesktop::chooseFile(QWidget *, const platform::FileChoice &choice)
{
    fileChoices.push_back(choice);
    QString file;
    if (!files.empty()) {
        file = files.front();
        files.pop_front();
    }
    if (file.isEmpty())
        return std::nullopt;
    return std::optional<QString>(std::in_place, file);
}

void FakeDesktop::processPendingEvents()
{
    ++eventRuns;
    if (onEvents)
        onEvents();
}

QStringList FakeDesktop::texts() const
{
    QStringList list;
    for (const auto &m : messages)
        list << m.text;
    return list;
}

} // namespace talvesk::test
