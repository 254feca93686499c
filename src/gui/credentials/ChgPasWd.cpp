#include "credentials/ChgPasWd.h"

#include "credentials/Credentials.h"
#include "platform/Error.h"

#include <QLineEdit>

namespace talvesk::credentials {

namespace {
const QString kTitle = QStringLiteral("更改密碼");
}

ChgPasWd::ChgPasWd(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : CredentialDialog(desktop,
                       {QStringLiteral("ChgPasWd"), kTitle, QStringLiteral("新使用者名稱 :"),
                        QStringLiteral("新使用者密碼 :"), kTitle, false},
                       parent),
      app_(app)
{
    placeOnScreen();
    emptyBoxes();
    desktop_.processPendingEvents();
}

void ChgPasWd::confirm()
{
    desktop_.setPointer(platform::Pointer::Hourglass);
    if (userEdit->text().isEmpty()) {
        desktop_.setPointer(platform::Pointer::Default);
        showMessage(credentialProblemText(CredentialTextProblem::Empty, true), kTitle);
        userEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (passwordEdit->text().isEmpty()) {
        desktop_.setPointer(platform::Pointer::Default);
        showMessage(credentialProblemText(CredentialTextProblem::Empty, false), kTitle);
        passwordEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    try {
        saveCredentials(app_.credentialFile(), userEdit->text().trimmed(), passwordEdit->text().trimmed());
    } catch (const platform::Error &error) {
        // The old file is untouched; the operator can fix the cause and save again.
        desktop_.setPointer(platform::Pointer::Default);
        desktop_.showMessage(this, {kSaveFailedMessage + QString::number(error.number()),
                                    kTitle, platform::Icon::Critical, platform::Buttons::Ok, error.description()});
        return;
    }
    showMessage(kSavedMessage, kTitle);
    accept();
    desktop_.setPointer(platform::Pointer::Default);
}

} // namespace talvesk::credentials
