#include "credentials/ChangePasswordDialog.h"

#include "credentials/Credentials.h"
#include "platform/Error.h"

#include <QLineEdit>

namespace talvesk::credentials {

namespace {
const QString kTitle = QStringLiteral("更改密碼");
const QString kPasswordsDifferMessage = QStringLiteral("兩次輸入的密碼不相同，請重新輸入!");
}

ChangePasswordDialog::ChangePasswordDialog(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : CredentialDialog(desktop,
                       {QStringLiteral("ChgPasWd"), kTitle, QStringLiteral("新使用者名稱 :"),
                        QStringLiteral("新使用者密碼 :"), kTitle, false, QStringLiteral("再輸入一次密碼 :")},
                       parent),
      app_(app)
{
    placeOnScreen();
    emptyBoxes();
    desktop_.processPendingEvents();
}

void ChangePasswordDialog::confirm()
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
    // A typo in the one password box would lock the clerk out: the password is typed twice.
    if (repeatEdit->text().trimmed().toUpper() != passwordEdit->text().trimmed().toUpper()) {
        desktop_.setPointer(platform::Pointer::Default);
        showMessage(kPasswordsDifferMessage, kTitle);
        repeatEdit->clear();
        repeatEdit->setFocus(Qt::OtherFocusReason);
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
