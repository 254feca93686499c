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
    if (TxtInUserId->text().isEmpty()) {
        desktop_.setPointer(platform::Pointer::Default);
        showMessage(QStringLiteral("請輸入使用者名稱!"), kTitle);
        TxtInUserId->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (TxtPassWd->text().isEmpty()) {
        desktop_.setPointer(platform::Pointer::Default);
        showMessage(QStringLiteral("請輸入使用者密碼!"), kTitle);
        TxtPassWd->setFocus(Qt::OtherFocusReason);
        return;
    }
    try {
        saveCredentials(app_.credentialFile(), TxtInUserId->text().trimmed(), TxtPassWd->text().trimmed());
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
