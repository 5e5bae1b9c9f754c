// Baseline for start-up: the smallest Qt Widgets window, reporting like the
// console does in its start-up benchmark build when it is first painted.

#include "shownreporter.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    ShownReporter reporter;
    QApplication app(argc, argv);
    QWidget window;
    window.resize(239, 163);
    window.setWindowTitle(QStringLiteral("minimal"));
    window.installEventFilter(&reporter);
    window.show();
    return app.exec();
}
