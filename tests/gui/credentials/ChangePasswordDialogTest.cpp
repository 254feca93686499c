#include "credentials/ChangePasswordDialog.h"
#include "credentials/Credentials.h"
#include "credentials/LoginDialog.h"
#include "platform/Codec950.h"
#include "support/FakeDesktop.h"
#include "support/TestApp.h"
#include "support/Widgets.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

class ChangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        before = test::readFile(app.folder().credentialFile());
        dialog = std::make_unique<credentials::ChangePasswordDialog>(app.folder(), desktop);
        test::showActive(*dialog);
        user = test::child<QLineEdit>(*dialog, "TxtInUserId");
        password = test::child<QLineEdit>(*dialog, "TxtPassWd");
        repeat = test::child<QLineEdit>(*dialog, "TxtPassWd2");
        ok = test::child<QPushButton>(*dialog, "CmdOK");
    }

    // The name, Enter, the password, Enter, and the password again (`again` when given).
    void type(const QString &name, const QString &pass, const QString &again = QString())
    {
        user->setFocus();
        QTest::keyClicks(user, name);
        QTest::keyClick(user, Qt::Key_Return);
        QTest::keyClicks(password, pass);
        QTest::keyClick(password, Qt::Key_Return);
        QTest::keyClicks(repeat, again.isNull() ? pass : again);
    }

    test::TestApp app;
    test::FakeDesktop desktop;
    QByteArray before;
    std::unique_ptr<credentials::ChangePasswordDialog> dialog;
    QLineEdit *user = nullptr;
    QLineEdit *password = nullptr;
    QLineEdit *repeat = nullptr;
    QPushButton *ok = nullptr;
};

} // namespace

TEST_F(ChangeTest, CaptionsAndLabels)
{
    EXPECT_EQ(dialog->objectName(), QStringLiteral("ChgPasWd"));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("更改密碼"));
    EXPECT_EQ(test::child<QWidget>(*dialog, "LblUserId")->property("text").toString(), QStringLiteral("新使用者名稱 :"));
    EXPECT_EQ(test::child<QWidget>(*dialog, "LblPassWd")->property("text").toString(), QStringLiteral("新使用者密碼 :"));
}

TEST_F(ChangeTest, EnterInAShortPasswordSavesExactlyTheThreeLinesAndTheNewPairLogsInAfterARestart)
{
    test::writeFile(app.folder().credentialFile(), "[Other]\r\nx=1\r\n[ENV]\r\nold=1\r\n");
    type(QStringLiteral("clerk2"), QStringLiteral("pw77"));
    QTest::keyClick(repeat, Qt::Key_Return);

    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("修改成功 ! 下次請用新名稱密碼 !")});
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("更改密碼"));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);

    const QByteArray file = test::readFile(app.folder().credentialFile());
    EXPECT_EQ(file, credentials::credentialFileContent(QStringLiteral("CLERK2"), QStringLiteral("PW77")));
    EXPECT_TRUE(file.startsWith("[ENV]\r\n"));
    EXPECT_TRUE(file.endsWith("\r\n\r\n"));
    EXPECT_EQ(file.count("\r\n"), 4);
    EXPECT_EQ(platform::codec950::decode(file).count(u'\n'), 4);

    // The next start reads the new pair; it is typed here in lower case.
    test::FakeDesktop loginDesktop;
    credentials::LoginDialog login(app.folder(), loginDesktop);
    test::showActive(login);
    QTest::keyClicks(test::child<QLineEdit>(login, "TxtInUserId"), QStringLiteral("clerk2"));
    QTest::keyClick(test::child<QLineEdit>(login, "TxtInUserId"), Qt::Key_Return);
    QTest::keyClicks(test::child<QLineEdit>(login, "TxtPassWd"), QStringLiteral("pw77"));
    QTest::keyClick(test::child<QLineEdit>(login, "TxtPassWd"), Qt::Key_Return);
    EXPECT_EQ(login.result(), QDialog::Accepted) << loginDesktop.texts().join(u'|').toStdString();
}

TEST_F(ChangeTest, ThePasswordIsTypedTwiceAndTwoThatDifferChangeNothing)
{
    EXPECT_EQ(test::child<QLabel>(*dialog, "LblPassWd2")->text(), QStringLiteral("再輸入一次密碼 :"));
    EXPECT_EQ(repeat->echoMode(), QLineEdit::Password);
    // Enter in the first password box moves on to the second and saves nothing.
    user->setFocus();
    QTest::keyClicks(user, QStringLiteral("clerk2"));
    QTest::keyClick(user, Qt::Key_Return);
    QTest::keyClicks(password, QStringLiteral("pw77"));
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtPassWd2"));
    EXPECT_TRUE(desktop.messages.empty());
    // A typo in the second: said, nothing written, the second box emptied for another try.
    QTest::keyClicks(repeat, QStringLiteral("pw78"));
    QTest::keyClick(repeat, Qt::Key_Return);
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("兩次輸入的密碼不相同，請重新輸入!")});
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("更改密碼"));
    EXPECT_EQ(test::readFile(app.folder().credentialFile()), before);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(repeat->text(), QString());
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtPassWd2"));
    // The same letters in either case are the same password (the boxes keep upper case).
    QTest::keyClicks(repeat, QStringLiteral("PW77"));
    QTest::keyClick(repeat, Qt::Key_Return);
    EXPECT_EQ(desktop.texts().last(), QStringLiteral("修改成功 ! 下次請用新名稱密碼 !"));
    EXPECT_EQ(test::readFile(app.folder().credentialFile()),
              credentials::credentialFileContent(QStringLiteral("CLERK2"), QStringLiteral("PW77")));

    // The login keeps its one password box.
    test::FakeDesktop loginDesktop;
    credentials::LoginDialog login(app.folder(), loginDesktop);
    EXPECT_EQ(login.findChild<QLineEdit *>(QStringLiteral("TxtPassWd2")), nullptr);
}

TEST_F(ChangeTest, QuitLeavesTheFileByteForByte)
{
    type(QStringLiteral("NEW"), QStringLiteral("NEW"));
    QTest::mouseClick(test::child<QPushButton>(*dialog, "CmdQuit"), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(test::readFile(app.folder().credentialFile()), before);
}

TEST_F(ChangeTest, EmptyBoxesAreAskedForAndKeepWhatWasTyped)
{
    password->setFocus();
    QTest::keyClicks(password, QStringLiteral("PW"));
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("請輸入使用者名稱!")});
    EXPECT_EQ(desktop.messages.back().title, QStringLiteral("更改密碼"));
    EXPECT_EQ(password->text(), QStringLiteral("PW"));
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtInUserId"));

    password->clear();
    QTest::keyClicks(user, QStringLiteral("U"));
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(desktop.texts().last(), QStringLiteral("請輸入使用者密碼!"));
    EXPECT_EQ(user->text(), QStringLiteral("U"));
    EXPECT_EQ(test::focusName(), QStringLiteral("TxtPassWd"));
    EXPECT_EQ(test::readFile(app.folder().credentialFile()), before);
    EXPECT_EQ(desktop.pointer(), platform::Pointer::Default);
}

TEST_F(ChangeTest, ANinthCharacterGetsTheMessageUnderThisDialogsTitle)
{
    QTest::keyClicks(user, QStringLiteral("ABCDEFGHI"));
    EXPECT_EQ(user->text(), QStringLiteral("ABCDEFGH"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("更改密碼"));
}

TEST_F(ChangeTest, AFailedWriteIsReportedTheOldFileStaysAndTheDialogStaysOpen)
{
    QFile::setPermissions(app.folder().credentialFile(), QFile::ReadOwner);
    type(QStringLiteral("NEW"), QStringLiteral("NEW"));
    QTest::mouseClick(ok, Qt::LeftButton);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(desktop.messages[0].text.startsWith(credentials::kSaveFailedMessage));
    EXPECT_EQ(desktop.messages[0].icon, platform::Icon::Critical);
    EXPECT_EQ(test::readFile(app.folder().credentialFile()), before);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(dialog->result(), QDialog::Accepted);

    QDir(app.folder().credentialFolder()).removeRecursively();
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(desktop.messages.size(), 2u);
    EXPECT_TRUE(dialog->isVisible());
}
