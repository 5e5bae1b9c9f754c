#include "app/mainwindow.h"
#include "links/qtsockets.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QStyleFactory>

#include <cstdio>

namespace {

// RV38T_REPORT_SHOWN=1 (for the start-up benchmark): one line on standard
// output when the window is first painted, with the time since main().
class ShownReporter : public QObject
{
public:
    QElapsedTimer since;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            std::printf("shown %lld ms\n", static_cast<long long>(since.elapsed()));
            std::fflush(stdout);
            watched->removeEventFilter(this);
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    ShownReporter shown;
    shown.since.start();
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
