#pragma once

#include <QObject>

#include <array>
#include <functional>

class QLineEdit;
class TcpSocketArray;

// The fields' change handling: every change of a countdown field sends the
// time frame to every display entry marked connected, in ascending order.
class TimeFrameSender : public QObject
{
    Q_OBJECT
public:
    // The display entries' connected marks, read afresh on every change; the
    // entry count is the socket array's, which always matches the list.
    using IsMarked = std::function<bool(int index)>;

    // Wires each field's textChanged to INP_DELAY_Change(its index).
    TimeFrameSender(const std::array<QLineEdit *, 3> &fields, TcpSocketArray &sockets,
                    IsMarked isMarked, QObject *parent = nullptr);

    // Whether this console drives the displays now, asked before every frame.
    void setMayDrive(std::function<bool()> mayDrive) { m_mayDrive = std::move(mayDrive); }

    // Never fails towards its caller: a failed send is ignored, the loop goes on.
    void INP_DELAY_Change(int index);

private:
    std::array<QLineEdit *, 3> m_fields;
    TcpSocketArray &m_sockets;
    IsMarked m_isMarked;
    std::function<bool()> m_mayDrive;
};
