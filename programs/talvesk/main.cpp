#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)"));
    window.show();
    return app.exec();
}
