#include "credentials/LoginDialog.h"
#include "platform/AppFolder.h"
#include "platform/Desktop.h"
#include "platform/Process.h"
#include "shell/MainWindow.h"

#include <QApplication>


int main(int argc, char *argv[])
{
    talvesk::platform::prepareProcess();
    QApplication application(argc, argv);
    // Without it Qt's own buttons and dialogs speak English in a Chinese program.
    if (!talvesk::platform::installQtTranslation())
        qWarning("Qt's zh_TW translation (qt6-translations-l10n) is not installed");
    const auto app = talvesk::platform::AppFolder::ofProgram();
    talvesk::platform::QtDesktop desktop(talvesk::platform::windowSettingsFile(app.root()));
    // A second copy on the same database would write beside the first unnoticed: it is told and stops.
    talvesk::shell::InstanceLock lock(app);
    if (!talvesk::shell::claimDatabase(lock, desktop))
        return 1;

    {
        talvesk::credentials::LoginDialog login(app, desktop);
        if (login.exec() != QDialog::Accepted)
            return 0; // 離 開, or the login window closed
    }
    talvesk::shell::MainWindow menu(app, desktop);
    menu.show();
    return application.exec();
}
