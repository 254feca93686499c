#include "credentials/LoginDialog.h"
#include "db/FirstStart.h"
#include "platform/AppFolder.h"
#include "platform/Desktop.h"
#include "platform/Error.h"
#include "platform/Process.h"
#include "shell/MainWindow.h"

#include <QApplication>

#include <cstdio>
#include <optional>

namespace {

// Without a folder named on the command line: the program's own folder, or the user's data
// folder (made on the first start). Nothing when that cannot be had, which has then been told.
std::optional<talvesk::platform::AppFolder> defaultAppFolder()
{
    try {
        return talvesk::db::appFolderFor(QCoreApplication::applicationDirPath()).app;
    } catch (const talvesk::platform::Error &error) {
        talvesk::platform::QtDesktop desktop;
        desktop.showMessage(nullptr, {talvesk::platform::errorText(error), talvesk::platform::kProgramCaption,
                                      talvesk::platform::Icon::Critical});
        return std::nullopt;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    talvesk::platform::prepareProcess();
    QApplication application(argc, argv);
    // Without it Qt's own buttons and dialogs speak English in a Chinese program.
    if (!talvesk::platform::installQtTranslation())
        qWarning("Qt's zh_TW translation (qt6-translations-l10n) is not installed");
    // `talvesk [--app-dir DIR]`: a folder named is taken as it is, as the batch tool takes it.
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool named = arguments.size() == 2 && arguments.front() == QStringLiteral("--app-dir");
    if (!arguments.isEmpty() && !named) {
        std::fputs("usage: talvesk [--app-dir DIR]\n", stderr);
        return 2;
    }
    const auto chosen = named ? talvesk::platform::AppFolder(arguments.at(1)) : defaultAppFolder();
    if (!chosen)
        return 1;
    const talvesk::platform::AppFolder &app = *chosen;
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
    talvesk::shell::warnOfNetworkShare(app, desktop, &menu);
    return application.exec();
}
