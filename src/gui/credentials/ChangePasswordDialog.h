#pragma once

#include "credentials/CredentialDialog.h"
#include "platform/AppFolder.h"

namespace talvesk::credentials {

// 更改密碼: writes a new user name and password to the credential file, used from the next start.
class ChangePasswordDialog : public CredentialDialog {
    Q_OBJECT
public:
    ChangePasswordDialog(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent = nullptr);

protected:
    void confirm() override; // the save action

private:
    platform::AppFolder app_;
};

} // namespace talvesk::credentials
