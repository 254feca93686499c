#pragma once

#include "platform/Desktop.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace talvesk::credentials {

// The form shared by the login and the change dialog: a user-name box and a masked password box,
// each taking at most 8 letters or digits, and the buttons 確 認 and 離 開. The boxes' key rules
// live here; what 確 認 does is the subclass's.
class CredentialDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 8;

protected:
    struct Texts {
        QString objectName;
        QString caption;
        QString userLabel;
        QString passwordLabel;
        QString messageTitle; // title of the boxes' own messages
        bool buttonKeys;      // whether Up / Down move the focus from the buttons too
        QString repeatLabel{}; // when given, a second password box under it asks for the password again
    };
    CredentialDialog(platform::Desktop &desktop, const Texts &texts, QWidget *parent);

    // 確 認: clicked, or Enter in the last password box while it holds fewer than 8 characters.
    virtual void confirm() = 0;

    void placeOnScreen();
    void emptyBoxes();
    void showMessage(const QString &text, const QString &title);

    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

    platform::Desktop &desktop_;
    QLabel *userLabel;
    QLineEdit *userEdit;
    QLabel *passwordLabel;
    QLineEdit *passwordEdit;
    QLabel *repeatLabel = nullptr;
    QLineEdit *repeatEdit = nullptr; // only with Texts::repeatLabel
    QPushButton *okButton;
    QPushButton *quitButton;

private:
    bool boxKey(QLineEdit *box, QKeyEvent *key);
    bool buttonKey(QPushButton *button, QKeyEvent *key);
    bool isBox(QObject *watched) const;
    QLineEdit *lastPasswordBox() const { return repeatEdit ? repeatEdit : passwordEdit; }
    void paste(QLineEdit *box);
    void keepToTheRules(QLineEdit *box);
    void tooLong(QLineEdit *box);

    QString messageTitle_;
    bool buttonKeys_;
};

} // namespace talvesk::credentials
