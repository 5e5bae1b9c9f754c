#include "simulator/simwindow.h"

#include "simulator/displaysimulator.h"
#include "simulator/headlessreport.h"
#include "simulator/segmentface.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QTime>
#include <QVBoxLayout>

namespace {
constexpr int kColumns = 3;
}

SimWindow::SimWindow(DisplaySimulator &simulator, QWidget *parent)
    : QWidget(parent), m_simulator(simulator)
{
    setWindowTitle(QStringLiteral("RV-38T display simulator"));
    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    outer->addLayout(grid);

    for (int i = 0; i < simulator.displayCount(); ++i) {
        Tile tile;
        tile.frame = new QFrame(this);
        tile.frame->setObjectName(QStringLiteral("display_%1").arg(i));
        tile.frame->setFrameShape(QFrame::StyledPanel);
        tile.frame->setLineWidth(2);
        auto *box = new QVBoxLayout(tile.frame);
        auto *name = new QLabel(simulator.displayName(i), tile.frame);
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
        tile.face = new SegmentFace(tile.frame);
        tile.status = new QLabel(tile.frame);
        tile.frames = new QLabel(tile.frame);
        box->addWidget(name);
        box->addWidget(tile.face, 1);
        box->addWidget(tile.status);
        box->addWidget(tile.frames);
        grid->addWidget(tile.frame, i / kColumns, i % kColumns);
        m_tiles.append(tile);
        showState(i);
    }

    m_recovery = new QLabel(QStringLiteral("No recovery frame yet."), this);
    m_recovery->setObjectName(QStringLiteral("recovery"));
    m_recovery->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(m_recovery);

    connect(&simulator, &DisplaySimulator::connectionOpened, this,
            [this](int display, const QString &) { showState(display); });
    connect(&simulator, &DisplaySimulator::connectionClosed, this,
            [this](int display, const QString &) { showState(display); });
    connect(&simulator, &DisplaySimulator::ready, this,
            [this](int display) { showState(display); });
    connect(
        &simulator, &DisplaySimulator::frameReceived, this,
        [this](int display, const QString &text) {
            Tile &tile = m_tiles[display];
            tile.face->setText(text);
            ++tile.frameCount;
            tile.frames->setText(
                QStringLiteral("%1 %2, last %3 at %4")
                    .arg(tile.frameCount)
                    .arg(tile.frameCount == 1 ? QStringLiteral("frame") : QStringLiteral("frames"))
                    .arg(HeadlessReport::quoted(text),
                         QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))));
        });
    connect(&simulator, &DisplaySimulator::recoveryReceived, this,
            [this](const QString &text, int display, const QString &from) {
                m_recovery->setText(
                    QStringLiteral("Recovery frame at %1 from %2 names %3 (%4)")
                        .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), from,
                             HeadlessReport::quoted(text),
                             display < 0 ? QStringLiteral("none of these displays")
                                         : m_simulator.displayName(display)));
                markRecovery(display);
            });
    connect(&simulator, &DisplaySimulator::datagramReceived, this,
            [this](const QByteArray &bytes, const QString &from) {
                m_recovery->setText(
                    QStringLiteral("Datagram at %1 from %2, not a recovery frame: %3")
                        .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), from,
                             QString::fromLatin1(bytes.left(32).toHex(' '))));
            });
}

void SimWindow::showState(int display)
{
    const SimulatorOptions &options = m_simulator.options();
    const int connections = m_simulator.connectionCount(display);
    Tile &tile = m_tiles[display];
    QString state;
    if (options.refuse)
        state = QStringLiteral("refusing connections");
    else if (options.noAccept)
        state = QStringLiteral("never accepting");
    else if (connections == 0)
        state = QStringLiteral("waiting for the console");
    else
        state = connections == 1 ? QStringLiteral("console connected")
                                 : QStringLiteral("%1 connections").arg(connections);
    if (display == m_recoveryDisplay)
        state += QStringLiteral(" \u2014 RECOVERY REQUESTED");
    tile.status->setText(state);
    tile.face->setLit(connections > 0);
}

void SimWindow::markRecovery(int display)
{
    const int previous = m_recoveryDisplay;
    m_recoveryDisplay = display;
    for (int i : {previous, display}) {
        if (i < 0)
            continue;
        m_tiles[i].frame->setStyleSheet(
            i == display
                ? QStringLiteral("QFrame#display_%1 { border: 3px solid rgb(255, 140, 0); }").arg(i)
                : QString());
        showState(i);
    }
}

#include "moc_simwindow.cpp"
