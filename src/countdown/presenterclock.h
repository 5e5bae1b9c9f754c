#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <array>

class QCheckBox;
class QLineEdit;
class QTimer;

// What the presenter's view needs from the countdown beyond its fields:
// whether a run has reached zero, the time since (the overtime, counted while
// the displays show "------"), and the last set time, for the part that has
// passed. It only watches the fields and Run; it writes neither.
class PresenterClock : public QObject
{
    Q_OBJECT
public:
    PresenterClock(const std::array<QLineEdit *, 3> &fields, QCheckBox *swGo,
                   QObject *parent = nullptr);

    // The fields' total as the tick reads it; 0 or less reads as zero.
    int secondsLeft() const;
    bool reachedZero() const { return m_reachedZero; }
    // Whole seconds since zero, to the nearest: the count's own timer may fire
    // a little early or late, never showing a second twice or skipping one.
    int overtime() const;
    int length() const { return m_length; }

    // Ends the overtime count: any set, Run or Reset does.
    void end();

signals:
    // Zero reached or left, the overtime's second, or a new set time.
    void changed();

private:
    void onRunToggled(bool on);
    void onFieldChanged();
    void settle();

    std::array<QLineEdit *, 3> m_fields;
    QCheckBox *m_swGo;
    QTimer *m_overtimeTimer;
    QElapsedTimer m_sinceZero;
    bool m_reachedZero = false;
    bool m_counting = false; // Run is on, and the fields have read above zero since
    int m_length = 0;
    int m_lastLeft = 0;
    bool m_settling = false;
};
