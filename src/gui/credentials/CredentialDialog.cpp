#include "credentials/CredentialDialog.h"

#include "credentials/Credentials.h"
#include "platform/Widgets.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace talvesk::credentials {

namespace {

bool isEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Whether a key press delivers a character to the box, as opposed to moving the cursor, leaving
// the box or a shortcut; only those go through the character rules.
bool deliversCharacter(const QKeyEvent *key)
{
    if (isEnter(key->key()) || key->key() == Qt::Key_Backspace)
        return true;
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Delete)
        return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    return !key->text().isEmpty();
}

QString userNameTooLong() { return credentialProblemText(CredentialTextProblem::TooLong, true); }
QString passwordTooLong() { return credentialProblemText(CredentialTextProblem::TooLong, false); }

} // namespace

CredentialDialog::CredentialDialog(platform::Desktop &desktop, const Texts &texts, QWidget *parent)
    : QDialog(parent), desktop_(desktop), messageTitle_(texts.messageTitle), buttonKeys_(texts.buttonKeys)
{
    setObjectName(texts.objectName);
    setWindowTitle(texts.caption);

    userLabel = new QLabel(texts.userLabel, this);
    userLabel->setObjectName(QStringLiteral("LblUserId"));
    userEdit = new QLineEdit(this);
    userEdit->setObjectName(QStringLiteral("TxtInUserId"));
    passwordLabel = new QLabel(texts.passwordLabel, this);
    passwordLabel->setObjectName(QStringLiteral("LblPassWd"));
    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("TxtPassWd"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    if (!texts.repeatLabel.isEmpty()) {
        repeatLabel = new QLabel(texts.repeatLabel, this);
        repeatLabel->setObjectName(QStringLiteral("LblPassWd2"));
        repeatEdit = new QLineEdit(this);
        repeatEdit->setObjectName(QStringLiteral("TxtPassWd2"));
        repeatEdit->setEchoMode(QLineEdit::Password);
        repeatEdit->setStyleSheet(passwordEdit->styleSheet());
    }
    okButton = new QPushButton(QStringLiteral("確 認"), this);
    okButton->setObjectName(QStringLiteral("CmdOK"));
    quitButton = new QPushButton(QStringLiteral("離 開"), this);
    quitButton->setObjectName(QStringLiteral("CmdQuit"));

    for (QLineEdit *box : {userEdit, passwordEdit, repeatEdit}) {
        if (!box)
            continue;
        box->setMaxLength(kMaxLength);
        box->setDragEnabled(false);
        box->setAcceptDrops(false);
        box->installEventFilter(this);
        // Text that arrives by other ways than typing (the context menu, a middle click) is
        // brought under the same rules.
        connect(box, &QLineEdit::textEdited, this, [this, box] { keepToTheRules(box); });
    }
    for (QPushButton *button : {okButton, quitButton}) {
        button->setAutoDefault(true);
        button->installEventFilter(this);
    }
    connect(okButton, &QPushButton::clicked, this, [this] { confirm(); });
    connect(quitButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *grid = new QGridLayout;
    grid->addWidget(userLabel, 0, 0);
    grid->addWidget(userEdit, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(passwordEdit, 1, 1);
    if (repeatEdit) {
        grid->addWidget(repeatLabel, 2, 0);
        grid->addWidget(repeatEdit, 2, 1);
    }
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(quitButton);
    buttons->addStretch();
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(28, 24, 28, 20);
    outer->setSpacing(16);
    outer->addLayout(grid);
    outer->addLayout(buttons);

    setTabOrder(userEdit, passwordEdit);
    setTabOrder(passwordEdit, lastPasswordBox());
    setTabOrder(lastPasswordBox(), okButton);
    setTabOrder(okButton, quitButton);
    platform::fixWindowSize(*this, {360, repeatEdit ? 210 : 170});
}

void CredentialDialog::placeOnScreen()
{
    platform::placeWithin(*this, desktop_);
}

void CredentialDialog::emptyBoxes()
{
    userEdit->clear();
    passwordEdit->clear();
    if (repeatEdit)
        repeatEdit->clear();
}

bool CredentialDialog::isBox(QObject *watched) const
{
    return watched && (watched == userEdit || watched == passwordEdit || watched == repeatEdit);
}

void CredentialDialog::showMessage(const QString &text, const QString &title)
{
    desktop_.showMessage(this, {text, title});
}

bool CredentialDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (isBox(watched))
            return boxKey(static_cast<QLineEdit *>(watched), key);
        if (buttonKeys_ && (watched == okButton || watched == quitButton))
            return buttonKey(static_cast<QPushButton *>(watched), key);
    } else if (event->type() == QEvent::FocusOut && isBox(watched)) {
        // Leaving a box trims it and turns it to upper case; a message box popping up over the
        // dialog is not leaving the box.
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        auto *box = static_cast<QLineEdit *>(watched);
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && !box->text().isEmpty())
            box->setText(box->text().trimmed().toUpper());
    }
    return QDialog::eventFilter(watched, event);
}

bool CredentialDialog::boxKey(QLineEdit *box, QKeyEvent *key)
{
    const bool isUser = box == userEdit;
    const int code = key->key();

    // Key down: focus moves, and Enter upper-cases the password box.
    if (isUser) {
        if (isEnter(code) || code == Qt::Key_Down)
            passwordEdit->setFocus(Qt::OtherFocusReason);
        else if (code == Qt::Key_Up)
            quitButton->setFocus(Qt::OtherFocusReason);
    } else {
        // The first password box leads to the second where there is one; the last to 確 認.
        QWidget *next = box == lastPasswordBox() ? static_cast<QWidget *>(okButton) : repeatEdit;
        QWidget *previous = box == repeatEdit ? passwordEdit : userEdit;
        if (isEnter(code)) {
            if (!box->text().isEmpty())
                box->setText(box->text().trimmed().toUpper());
            next->setFocus(Qt::OtherFocusReason);
        } else if (code == Qt::Key_Up) {
            previous->setFocus(Qt::OtherFocusReason);
        } else if (code == Qt::Key_Down) {
            next->setFocus(Qt::OtherFocusReason);
        }
    }
    if (code == Qt::Key_Up || code == Qt::Key_Down)
        return true;

    if (key->matches(QKeySequence::Paste)) {
        paste(box);
        return true;
    }
    if (!deliversCharacter(key))
        return false;

    // Key press: the character rules.
    if (box->text().size() >= kMaxLength) {
        if (isEnter(code))
            return true;
        if (code == Qt::Key_Backspace)
            return false;
        tooLong(box);
        return true;
    }
    if (isEnter(code)) {
        if (box == lastPasswordBox())
            confirm();
        return true;
    }
    if (code == Qt::Key_Backspace)
        return false;
    const QString text = key->text();
    const QChar c = text.front();
    if (text.size() != 1 || !isCredentialCharacter(c))
        return true; // dropped without a word
    if (isUser && c.isLower()) {
        box->insert(QString(c.toUpper()));
        return true;
    }
    return false;
}

bool CredentialDialog::buttonKey(QPushButton *button, QKeyEvent *key)
{
    const int code = key->key();
    if (code != Qt::Key_Up && code != Qt::Key_Down)
        return false;
    if (button == okButton)
        (code == Qt::Key_Up ? static_cast<QWidget *>(lastPasswordBox()) : quitButton)->setFocus(Qt::OtherFocusReason);
    else
        (code == Qt::Key_Up ? static_cast<QWidget *>(okButton) : userEdit)->setFocus(Qt::OtherFocusReason);
    return true;
}

void CredentialDialog::paste(QLineEdit *box)
{
    const bool isUser = box == userEdit;
    QString accepted;
    for (const QChar c : QGuiApplication::clipboard()->text()) {
        if (isCredentialCharacter(c))
            accepted += isUser ? c.toUpper() : c;
    }
    if (accepted.isEmpty())
        return;
    const qsizetype room = kMaxLength - (box->text().size() - box->selectedText().size());
    if (box->text().size() >= kMaxLength || room <= 0) {
        tooLong(box);
        return;
    }
    box->insert(accepted.left(room));
}

void CredentialDialog::keepToTheRules(QLineEdit *box)
{
    const bool isUser = box == userEdit;
    QString kept;
    for (const QChar c : box->text()) {
        if (isCredentialCharacter(c))
            kept += isUser ? c.toUpper() : c;
    }
    kept.truncate(kMaxLength);
    if (kept != box->text())
        box->setText(kept);
}

void CredentialDialog::tooLong(QLineEdit *box)
{
    showMessage(box == userEdit ? userNameTooLong() : passwordTooLong(), messageTitle_);
}

void CredentialDialog::keyPressEvent(QKeyEvent *event)
{
    // Escape does not close these dialogs: only 離 開 or the title bar does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace talvesk::credentials
