// Baseline for start-up: the smallest Qt Widgets window, reporting like the
// console does under RV38T_REPORT_SHOWN when it is first painted.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QWidget>

#include <cstdio>

namespace {
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

int main(int argc, char **argv)
{
    ShownReporter reporter;
    reporter.since.start();
    QApplication app(argc, argv);
    QWidget window;
    window.resize(239, 163);
    window.setWindowTitle(QStringLiteral("minimal"));
    window.installEventFilter(&reporter);
    window.show();
    return app.exec();
}
