#pragma once

#include "core/displayhealth.h"

#include <QDateTime>
#include <QList>
#include <QObject>

#include <deque>
#include <functional>
#include <vector>

class AddressList;
class TcpSocketArray;

// One health record per display entry, kept from the socket events and the
// supervisor's ticks: which display is down, since when and why. The records
// follow the entries through Add, Del and a reload, and are shown as the
// entries' tooltips. Nothing here changes what the console does.
class HealthBook : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    HealthBook(AddressList &list, TcpSocketArray &tcp, Clock clock, QObject *parent = nullptr);

    // What the supervisor saw, told as it happens.
    void connected(int index);
    void closed(int index);
    void failed(int index, const QString &description);
    void recoverySent(int index);
    // At each supervisor tick: states that follow from marks and sockets, and
    // every entry's tooltip while the list is on screen.
    void refresh();

    int count() const { return int(m_entries.size()); }
    DisplayHealth record(int index) const;
    QList<DisplayHealth> records() const;
    // The lamp's tooltip for the records as they stand; reads no socket, so it
    // is cheap enough for every tick.
    QString lampToolTip() const;

    // The tooltip texts, from records alone.
    static QString entryToolTip(const DisplayHealth &health, const QDateTime &now);
    static QString lampToolTip(const QList<DisplayHealth> &records);

signals:
    // Any record may have changed.
    void changed();

private:
    struct Entry
    {
        DisplayHealth health;
        // Pruned to the last hour whenever they are counted.
        mutable std::deque<QDateTime> connects;
        mutable std::deque<QDateTime> losses;
    };

    void added(int index);
    void removed(int index);
    void reloaded();
    void setState(Entry &entry, DisplayHealth::State state, const QDateTime &now);
    void showToolTip(int index, const QDateTime &now);
    Entry *at(int index);

    AddressList &m_list;
    TcpSocketArray &m_tcp;
    Clock m_clock;
    std::vector<Entry> m_entries; // index for index with the list
};
