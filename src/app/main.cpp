#include "app/mainwindow.h"
#include "links/qtsockets.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // One look on every desktop: the layout is fixed to the pixel.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QtSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    window.show();
    return app.exec();
}
