#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLineEdit;
class QEvent;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class TcpSocketArray;

// LST_IP: the display entries, each with its connected mark (the entry's check
// box) and its socket at the same index, and their file "LST_IP.CFG".
class AddressList : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxEntries = 99;

    using Log = std::function<void(const QString &message)>;

    // Wires "Add", "Del" and the list's clicks and mark toggles to the handlers.
    // `log` takes the one line that tells the operator a save failed.
    AddressList(QListWidget *lstIp, QLineEdit *inpIp, QPushButton *bAdd, QPushButton *bDel,
                TcpSocketArray &sockets, Log log, QObject *parent = nullptr);

    // Relative to the current directory unless absolute.
    void setFileName(const QString &fileName) { m_fileName = fileName; }
    QString fileName() const { return m_fileName; }

    int count() const;
    QString text(int index) const;
    bool isMarked(int index) const;
    // Program writes of a mark never raise LST_IP_Click.
    void setMarked(int index, bool marked);
    // The entry that has the list's focus, -1 for none.
    int currentIndex() const;

    void B_IP_ADD_Click();
    void B_IP_DEL_Click();
    void LST_IP_Click();
    void IP_LIST_LOAD();
    // Replaces every entry by `texts` (at most 99), marks off, one socket
    // each, as loading does; nothing is saved.
    void setEntries(const QStringList &texts);
    // False when the file could not be written; the old file is then untouched
    // and one log line names the file and the reason.
    bool IP_LIST_SAVE();
    void TCP_READDRESS();

    // Shown when the pointer rests on the entry; set only when it differs, with
    // the list's signals blocked (a tooltip is no operator toggle).
    void setEntryToolTip(int index, const QString &text);
    // False while no part of the list is on screen (the panel hidden, the
    // window minimised): nobody can rest the pointer on an entry then.
    bool entriesOnScreen() const;

signals:
    // The entries as they come and go, for what keeps something per entry.
    void entryAdded(int index);
    void entryRemoved(int index);
    void entriesCleared();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool appendEntry(const QString &text);
    void onItemChanged(QListWidgetItem *item);
    void onItemClicked(QListWidgetItem *item);

    QListWidget *m_list;
    QLineEdit *m_input;
    TcpSocketArray &m_sockets;
    Log m_log;
    QString m_fileName = QStringLiteral("LST_IP.CFG");
    // The entry whose mark the current mouse click toggled: the click that
    // follows the toggle belongs to the same operator action.
    QListWidgetItem *m_toggledByClick = nullptr;
    // Kept, not asked for: the filter still sees events while the list is being destroyed.
    QObject *m_viewport = nullptr;
};
