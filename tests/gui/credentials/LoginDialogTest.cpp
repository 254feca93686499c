#include "credentials/LoginDialog.h"
#include "platform/Error.h"
#include "support/FakeDesktop.h"
#include "support/TestApp.h"
#include "support/Widgets.h"

#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace talvesk;
using platform::Pointer;

namespace {

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog = std::make_unique<credentials::LoginDialog>(app.folder(), desktop);
        test::showActive(*dialog);
        user = test::child<QLineEdit>(*dialog, "TxtInUserId");
        password = test::child<QLineEdit>(*dialog, "TxtPassWd");
        ok = test::child<QPushButton>(*dialog, "CmdOK");
        quit = test::child<QPushButton>(*dialog, "CmdQuit");
    }

    test::TestApp app;
    test::FakeDesktop desktop;
    std::unique_ptr<credentials::LoginDialog> dialog;
    QLineEdit *user = nullptr;
    QLineEdit *password = nullptr;
    QPushButton *ok = nullptr;
    QPushButton *quit = nullptr;
};

} // namespace

TEST_F(LoginTest, ControlsCaptionsAndFocusAtStart)
{
    EXPECT_EQ(dialog->objectName(), QStringLiteral("PassLogIn"));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)"));
    EXPECT_EQ(test::child<QWidget>(*dialog, "LblUserId")->property("text").toString(), QStringLiteral("使用者名稱 :"));
    EXPECT_EQ(test::child<QWidget>(*dialog, "LblPassWd")->property("text").toString(), QStringLiteral("使用者密碼 :"));
    EXPECT_EQ(ok->text(), QStringLiteral("確 認"));
    EXPECT_EQ(quit->text(), QStringLiteral("離 開"));
    EXPECT_EQ(user->maxLength(), 8);
    EXPECT_EQ(password->maxLength(), 8);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtInUserId"));
    EXPECT_EQ(dialog->pos(), QPoint((1024 - dialog->width()) / 2, (768 - dialog->height() - 28) / 2));
    EXPECT_GE(desktop.eventRuns, 1);

    // Tab order: name, password, 確 認, 離 開.
    for (const char *next : {"TxtPassWd", "CmdOK", "CmdQuit", "TxtInUserId"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(test::focusName(), QString::fromLatin1(next));
    }
}

TEST_F(LoginTest, LowerCaseInTheUserBoxTurnsUpperAtOnceWhileThePasswordWaits)
{
    QTest::keyClicks(user, QStringLiteral("adm1"));
    EXPECT_EQ(user->text(), QStringLiteral("ADM1"));

    password->setFocus();
    QTest::keyClicks(password, QStringLiteral("ab"));
    EXPECT_EQ(password->text(), QStringLiteral("ab"));
    QTest::keyClick(password, Qt::Key_Up); // leaves the box
    EXPECT_EQ(password->text(), QStringLiteral("AB"));
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtInUserId"));

    password->setFocus();
    password->setText(QStringLiteral("abcdefgh"));
    QTest::keyClick(password, Qt::Key_Return); // 8 characters: upper-case and move on, no login
    EXPECT_EQ(password->text(), QStringLiteral("ABCDEFGH"));
    EXPECT_EQ(test::focusName(), QStringLiteral("CmdOK"));
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(LoginTest, ANinthCharacterIsRefusedWithItsMessageEvenOverASelection)
{
    QTest::keyClicks(user, QStringLiteral("ABCDEFGH"));
    QTest::keyClick(user, Qt::Key_X);
    EXPECT_EQ(user->text(), QStringLiteral("ABCDEFGH"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("使用者名稱至多8位數!"));
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("使用者登入系統"));
    EXPECT_EQ(desktop.messages[0].buttons, platform::Buttons::Ok);

    user->selectAll();
    QTest::keyClick(user, Qt::Key_Y);
    EXPECT_EQ(user->text(), QStringLiteral("ABCDEFGH"));
    EXPECT_EQ(desktop.messages.size(), 2u);

    QTest::keyClick(user, Qt::Key_End);
    QTest::keyClick(user, Qt::Key_Backspace);
    EXPECT_EQ(user->text(), QStringLiteral("ABCDEFG"));

    password->setFocus();
    QTest::keyClicks(password, QStringLiteral("12345678"));
    QTest::keyClick(password, Qt::Key_9);
    EXPECT_EQ(password->text(), QStringLiteral("12345678"));
    EXPECT_EQ(desktop.messages.back().text, QStringLiteral("使用者密碼只能有8位數!"));
    EXPECT_EQ(desktop.messages.size(), 3u);
}

TEST_F(LoginTest, OtherCharactersAreDroppedSilently)
{
    for (QLineEdit *box : {user, password}) {
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("A-_ "));
        test::typeText(box, QStringLiteral("王"));
        QTest::keyClicks(box, QStringLiteral(".1"));
        QTest::keyClick(box, Qt::Key_Escape);
        EXPECT_EQ(box->text(), QStringLiteral("A1")) << box->objectName().toStdString();
    }
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(dialog->isVisible()) << "Escape does not close the login";
}

TEST_F(LoginTest, PastedTextFollowsTheSameRules)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("ab-c d王ef1234"));
    QTest::keyClick(user, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(user->text(), QStringLiteral("ABCDEF12"));

    password->setFocus();
    QTest::keyClick(password, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(password->text(), QStringLiteral("abcdef12"));
    EXPECT_TRUE(desktop.messages.empty());

    QTest::keyClick(password, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(password->text(), QStringLiteral("abcdef12"));
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("使用者密碼只能有8位數!")});

    // Text that arrives without a key press is kept to the rules as well.
    user->setText(QStringLiteral("x-y"));
    emit user->textEdited(user->text());
    EXPECT_EQ(user->text(), QStringLiteral("XY"));
}

TEST_F(LoginTest, EnterUpAndDownMoveTheFocusInTheirOrder)
{
    const struct {
        const char *from;
        Qt::Key key;
        const char *to;
    } moves[] = {
        {"TxtInUserId", Qt::Key_Return, "TxtPassWd"}, {"TxtInUserId", Qt::Key_Down, "TxtPassWd"},
        {"TxtInUserId", Qt::Key_Up, "CmdQuit"},       {"TxtPassWd", Qt::Key_Up, "TxtInUserId"},
        {"TxtPassWd", Qt::Key_Down, "CmdOK"},         {"CmdOK", Qt::Key_Up, "TxtPassWd"},
        {"CmdOK", Qt::Key_Down, "CmdQuit"},           {"CmdQuit", Qt::Key_Up, "CmdOK"},
        {"CmdQuit", Qt::Key_Down, "TxtInUserId"},
    };
    for (const auto &m : moves) {
        QWidget *from = test::child<QWidget>(*dialog, m.from);
        from->setFocus();
        QTest::keyClick(from, m.key);
        EXPECT_EQ(test::focusName(), QString::fromLatin1(m.to)) << m.from << " key " << m.key;
    }
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(LoginTest, EmptyUserNameIsAskedFor)
{
    QTest::keyClicks(password, QStringLiteral("1234"));
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("請輸入使用者名稱!")});
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("使用者登入系統"));
    EXPECT_TRUE(user->text().isEmpty());
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtInUserId"));
    EXPECT_EQ(desktop.pointer(), Pointer::Default);
    EXPECT_NE(dialog->result(), QDialog::Accepted);
}

TEST_F(LoginTest, AWrongPairEmptiesBothBoxesAndReturnsToTheName)
{
    QTest::keyClicks(user, QStringLiteral("admin"));
    QTest::keyClick(user, Qt::Key_Return);
    QTest::keyClicks(password, QStringLiteral("9999"));
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("使用者登入錯誤！")});
    EXPECT_TRUE(user->text().isEmpty());
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtInUserId"));
    EXPECT_EQ(desktop.pointers, (std::vector<Pointer>{Pointer::Hourglass, Pointer::Default}));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LoginTest, TheRightPairTypedInLowerCaseLogsInOnEnter)
{
    QTest::keyClicks(user, QStringLiteral("admin"));
    QTest::keyClick(user, Qt::Key_Return);
    QTest::keyClicks(password, QStringLiteral("1234"));
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_TRUE(desktop.messages.empty()) << desktop.texts().join(u'|').toStdString();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(desktop.pointer(), Pointer::Default);
}

TEST_F(LoginTest, QuitRejects)
{
    QTest::mouseClick(quit, Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
}

TEST(Login, AMissingCredentialFileIsAPlainFailedLogin)
{
    test::TestApp app;
    QDir(app.folder().credentialFolder()).removeRecursively();
    test::FakeDesktop desktop;
    credentials::LoginDialog dialog(app.folder(), desktop);
    test::showActive(dialog);
    EXPECT_EQ(dialog.stored().userName, QStringLiteral("*"));
    auto *user = test::child<QLineEdit>(dialog, "TxtInUserId");
    QTest::keyClicks(user, QStringLiteral("A"));
    QTest::mouseClick(test::child<QPushButton>(dialog, "CmdOK"), Qt::LeftButton);
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("使用者登入錯誤！")});
    EXPECT_NE(dialog.result(), QDialog::Accepted);
}

TEST(Login, AFailureWhileLoadingIsReportedToTheOperator)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    desktop.onEvents = [] { throw platform::Error(platform::errnum::DeviceIo, QStringLiteral("I/O")); };
    credentials::LoginDialog dialog(app.folder(), desktop);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("系統發生錯誤訊息 =57，請通知系統設計員!"));
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("Dunmarrow"));
}
