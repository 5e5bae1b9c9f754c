#pragma once

#include <QList>
#include <QWidget>

class QFrame;
class QLabel;
class DisplaySimulator;
class SegmentFace;

// One tile per simulated display, with its face and whether the console is
// connected, and the last recovery frame below them.
class SimWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SimWindow(DisplaySimulator &simulator, QWidget *parent = nullptr);

private:
    struct Tile
    {
        QFrame *frame;
        SegmentFace *face;
        QLabel *status;
        QLabel *frames;
        int frameCount = 0;
    };

    void showState(int display);
    void markRecovery(int display);

    DisplaySimulator &m_simulator;
    QList<Tile> m_tiles;
    QLabel *m_recovery;
    int m_recoveryDisplay = -1;
};
