#include "credentials/LoginDialog.h"

#include "platform/Error.h"

#include <QLineEdit>
#include <QShowEvent>

namespace talvesk::credentials {

namespace {
const QString kTitle = QStringLiteral("使用者登入系統");
}

LoginDialog::LoginDialog(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : CredentialDialog(desktop,
                       {QStringLiteral("PassLogIn"), platform::kProgramCaption, QStringLiteral("使用者名稱 :"),
                        QStringLiteral("使用者密碼 :"), kTitle, true},
                       parent)
{
    load(app);
}

void LoginDialog::load(const platform::AppFolder &app)
{
    try {
        stored_ = LoadStoredCredentials(app.credentialFile());
        placeOnScreen();
        emptyBoxes();
        desktop_.processPendingEvents();
    } catch (const platform::Error &error) {
        desktop_.showMessage(this, {QStringLiteral("系統發生錯誤訊息 =") + QString::number(error.number())
                                        + QStringLiteral("，請通知系統設計員!"),
                                    QStringLiteral("Dunmarrow")});
    }
}

void LoginDialog::showEvent(QShowEvent *event)
{
    CredentialDialog::showEvent(event);
    userEdit->setFocus(Qt::ActiveWindowFocusReason);
}

void LoginDialog::refuse(const QString &message)
{
    desktop_.setPointer(platform::Pointer::Default);
    showMessage(message, kTitle);
    emptyBoxes();
    userEdit->setFocus(Qt::OtherFocusReason);
}

void LoginDialog::confirm()
{
    desktop_.setPointer(platform::Pointer::Hourglass);
    if (userEdit->text().isEmpty()) {
        refuse(credentialProblemText(CredentialTextProblem::Empty, true));
        return;
    }
    // A stored value without a whole cipher block (a missing file or key) can match nothing.
    const bool matches = holdsCipherBlock(stored_.userName) && holdsCipherBlock(stored_.password)
        && userEdit->text() == DecryptCredential(stored_.userName).toUpper()
        && passwordEdit->text() == DecryptCredential(stored_.password).toUpper();
    if (!matches) {
        refuse(QStringLiteral("使用者登入錯誤！"));
        return;
    }
    accept();
    desktop_.setPointer(platform::Pointer::Default);
}

} // namespace talvesk::credentials
