// Second baseline for start-up: a minimal Qt Widgets window that shows text,
// one label and one line edit in the console's families and sizes (Liberation
// Sans 8.25 pt for the label, Liberation Mono 24 pt bold for the line edit, as
// in the countdown fields). Every window that draws text pays for setting up
// the font database and rasterising glyphs; the smallest window draws none.
// Reports like the console does in its start-up benchmark build when first painted.

#include "shownreporter.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace {

QFont font(const char *family, qreal points, bool bold)
{
    QFont f;
    f.setFamilies({QString::fromLatin1(family)});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}
} // namespace

int main(int argc, char **argv)
{
    ShownReporter reporter;
    QApplication app(argc, argv);
    QWidget window;
    window.resize(239, 163);
    window.setWindowTitle(QStringLiteral("text"));
    window.setFont(font("Liberation Sans", 8.25, false));
    auto *label = new QLabel(QStringLiteral("X = CONNECTION OK"), &window);
    label->setGeometry(8, 8, 200, 20);
    auto *edit = new QLineEdit(QStringLiteral("00"), &window);
    edit->setFont(font("Liberation Mono", 24, true));
    edit->setGeometry(8, 40, 80, 48);
    window.installEventFilter(&reporter);
    window.show();
    return app.exec();
}
