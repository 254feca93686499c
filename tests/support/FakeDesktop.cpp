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
