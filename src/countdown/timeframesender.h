#pragma once

#include <QObject>

#include <array>

class QLineEdit;
class AddressList;
class TcpSocketArray;

// The fields' change handling: every change of a countdown field sends the
// time frame to every display entry marked connected, in ascending order.
class TimeFrameSender : public QObject
{
    Q_OBJECT
public:
    // Wires each field's textChanged to INP_DELAY_Change(its index).
    TimeFrameSender(const std::array<QLineEdit *, 3> &fields, AddressList &list,
                    TcpSocketArray &sockets, QObject *parent = nullptr);

    // Never fails towards its caller: a failed send is ignored, the loop goes on.
    void INP_DELAY_Change(int index);

private:
    std::array<QLineEdit *, 3> m_fields;
    AddressList &m_list;
    TcpSocketArray &m_sockets;
};
