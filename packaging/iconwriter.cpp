// rv38t-icons OUTDIR: writes the menu icons into OUTDIR as the hicolor theme
// lays them out, NxN/apps/rv38t-timer.png for every size the window icon has
// and scalable/apps/rv38t-timer.svg, all painted by the window icon's own code.
// Run at build time; not installed.

#include "controls/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

int main(int argc, char **argv)
{
    // No screen is needed to paint into files.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: rv38t-icons OUTDIR\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const int size : artwork::kIconSizes) {
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = out.filePath(dir + QStringLiteral("/rv38t-timer.png"));
        if (!out.mkpath(dir) || !artwork::iconImage(size).save(file)) {
            std::fprintf(stderr, "rv38t-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }

    // The same strokes as vector shapes on the 32 x 32 grid.
    const QString svg = out.filePath(QStringLiteral("scalable/apps/rv38t-timer.svg"));
    if (!out.mkpath(QStringLiteral("scalable/apps"))) {
        std::fprintf(stderr, "rv38t-icons: cannot make %s\n",
                     qPrintable(out.filePath("scalable/apps")));
        return 1;
    }
    QSvgGenerator generator;
    generator.setFileName(svg);
    generator.setSize(QSize(32, 32));
    generator.setViewBox(QRect(0, 0, 32, 32));
    generator.setTitle(QStringLiteral("RV-38T Timer"));
    generator.setDescription(QStringLiteral("An RV-38T display unit showing 12:30"));
    QPainter p;
    if (!p.begin(&generator)) {
        std::fprintf(stderr, "rv38t-icons: cannot write %s\n", qPrintable(svg));
        return 1;
    }
    artwork::paintIcon(p);
    p.end();
    return 0;
}
