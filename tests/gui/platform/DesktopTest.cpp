#include "platform/Desktop.h"
#include "support/Widgets.h"

#include <QMessageBox>

#include <gtest/gtest.h>

using namespace talvesk;
using platform::Answer;
using platform::Buttons;

// Every button of every kind of box, pressed in a real QMessageBox, gives its own answer.
TEST(QtDesktop, EachPressedButtonGivesItsAnswer)
{
    const struct {
        Buttons buttons;
        QMessageBox::StandardButton pressed;
        Answer expected;
    } cases[] = {
        {Buttons::Ok, QMessageBox::Ok, Answer::Ok},
        {Buttons::OkCancel, QMessageBox::Ok, Answer::Ok},
        {Buttons::OkCancel, QMessageBox::Cancel, Answer::Cancel},
        {Buttons::YesNo, QMessageBox::Yes, Answer::Yes},
        {Buttons::YesNo, QMessageBox::No, Answer::No},
    };
    platform::QtDesktop desktop;
    for (const auto &c : cases) {
        test::SeenBox seen;
        test::pressInNextBox(seen, c.pressed);
        const Answer answer = desktop.showMessage(nullptr, {QStringLiteral("確認?"), QStringLiteral("標題"),
                                                            platform::Icon::Information, c.buttons});
        EXPECT_TRUE(seen.seen);
        EXPECT_EQ(answer, c.expected) << int(c.buttons) << ' ' << int(c.pressed);
    }
}

TEST(QtDesktop, EnterPressesTheNamedDefaultButton)
{
    platform::QtDesktop desktop;
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    EXPECT_EQ(desktop.showMessage(nullptr, {QStringLiteral("確定?"), QStringLiteral("標題"), platform::Icon::Exclamation,
                                            Buttons::YesNo, QString(), Answer::No}),
              Answer::No);

    test::SeenBox seenOk;
    test::pressInNextBox(seenOk, QMessageBox::NoButton);
    EXPECT_EQ(desktop.showMessage(nullptr, {QStringLiteral("確定?"), QStringLiteral("標題"), platform::Icon::None,
                                            Buttons::OkCancel, QString(), Answer::Ok}),
              Answer::Ok);
}

// Qt's own buttons in Chinese, and a box without a title under the program's caption.
TEST(QtDesktop, StandardButtonsInChineseAndAnEmptyTitleIsTheProgramCaption)
{
    ASSERT_TRUE(platform::installQtTranslation()) << "qt6-translations-l10n is needed";
    platform::QtDesktop desktop;
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::Cancel);
    desktop.showMessage(nullptr, {QStringLiteral("確認?"), QString(), platform::Icon::None, Buttons::OkCancel});
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, platform::kProgramCaption);
    ASSERT_EQ(seen.buttonTexts.size(), 2);
    for (const QString &text : seen.buttonTexts) {
        EXPECT_FALSE(text.contains(QStringLiteral("OK"), Qt::CaseInsensitive)) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("Cancel"), Qt::CaseInsensitive)) << text.toStdString();
    }
}
