#include "app/mainwindow.h"
#include "app/shownreporter.h"
#include "links/qtsockets.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    ShownReporter shown; // RV38T_REPORT_SHOWN=1: the start-up benchmark's one line
    QApplication app(argc, argv);
    // One look on every desktop: the layout is fixed to the pixel.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QtSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    if (qEnvironmentVariableIsSet("RV38T_REPORT_SHOWN"))
        window.installEventFilter(&shown);
    window.show();
    return app.exec();
}
