#pragma once

#include "credentials/CredentialDialog.h"
#include "credentials/Credentials.h"
#include "platform/AppFolder.h"

namespace talvesk::credentials {

// The login: the program's first window. Accepted on a matching pair; rejected by 離 開.
class LoginDialog : public CredentialDialog {
    Q_OBJECT
public:
    LoginDialog(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent = nullptr);

    const StoredCredentials &stored() const { return stored_; }

protected:
    void confirm() override; // the OK action
    void showEvent(QShowEvent *event) override;

private:
    void load(const platform::AppFolder &app);
    void refuse(const QString &message);

    StoredCredentials stored_;
};

} // namespace talvesk::credentials
