#include "links/addresslist.h"

#include "core/cfgfile.h"
#include "core/socketarray.h"

#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

namespace {

// What a screen reader says for an entry: its address and its mark.
void nameByMark(QListWidgetItem *item)
{
    const bool marked = item->checkState() == Qt::Checked;
    item->setData(Qt::AccessibleTextRole, item->text()
                                              + (marked ? QStringLiteral(", X = CONNECTION OK")
                                                        : QStringLiteral(", not connected")));
}

} // namespace

AddressList::AddressList(QListWidget *lstIp, QLineEdit *inpIp, QPushButton *bAdd, QPushButton *bDel,
                         TcpSocketArray &sockets, Log log, QObject *parent)
    : QObject(parent), m_list(lstIp), m_input(inpIp), m_sockets(sockets), m_log(std::move(log))
{
    connect(bAdd, &QPushButton::clicked, this, &AddressList::B_IP_ADD_Click);
    connect(bDel, &QPushButton::clicked, this, &AddressList::B_IP_DEL_Click);
    // Program writes to entries run with the list's signals blocked, so every
    // itemChanged that arrives here is the operator toggling a mark.
    connect(m_list, &QListWidget::itemChanged, this, &AddressList::onItemChanged);
    connect(m_list, &QListWidget::itemClicked, this, &AddressList::onItemClicked);
    m_viewport = m_list->viewport();
    m_viewport->installEventFilter(this);
}

bool AddressList::eventFilter(QObject *watched, QEvent *event)
{
    // Every mouse click starts with a press: what an earlier keyboard toggle left behind is stale.
    if (watched == m_viewport && event->type() == QEvent::MouseButtonPress)
        m_toggledByClick = nullptr;
    return QObject::eventFilter(watched, event);
}

void AddressList::onItemChanged(QListWidgetItem *item)
{
    // A mouse click on the check box toggles the mark and then reports the click;
    // the Space key only toggles. Either way LST_IP_Click runs once.
    m_toggledByClick = item;
    {
        const QSignalBlocker blocker(m_list);
        nameByMark(item);
    }
    m_list->setCurrentItem(item);
    LST_IP_Click();
}

void AddressList::onItemClicked(QListWidgetItem *item)
{
    if (m_toggledByClick == item) {
        m_toggledByClick = nullptr;
        return;
    }
    m_toggledByClick = nullptr;
    m_list->setCurrentItem(item);
    LST_IP_Click();
}

int AddressList::count() const
{
    return m_list->count();
}

QString AddressList::text(int index) const
{
    const QListWidgetItem *item = m_list->item(index);
    return item ? item->text() : QString();
}

bool AddressList::isMarked(int index) const
{
    const QListWidgetItem *item = m_list->item(index);
    return item && item->checkState() == Qt::Checked;
}

void AddressList::setMarked(int index, bool marked)
{
    QListWidgetItem *item = m_list->item(index);
    if (!item)
        return;
    const QSignalBlocker blocker(m_list);
    item->setCheckState(marked ? Qt::Checked : Qt::Unchecked);
    nameByMark(item);
}

int AddressList::currentIndex() const
{
    return m_list->currentRow();
}

bool AddressList::appendEntry(const QString &text)
{
    // The list and the socket array stay the same length: no socket, no entry.
    if (count() >= kMaxEntries || !m_sockets.createElement())
        return false;
    const QSignalBlocker blocker(m_list);
    auto *item = new QListWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    nameByMark(item);
    m_list->addItem(item);
    emit entryAdded(count() - 1);
    return true;
}

void AddressList::B_IP_ADD_Click()
{
    // A 100th entry is refused: list, sockets and file stay as they were.
    if (!appendEntry(m_input->text()))
        return;
    IP_LIST_SAVE();
}

void AddressList::B_IP_DEL_Click()
{
    const int k = currentIndex();
    if (k < 0 || k >= count())
        return;
    m_sockets.destroyHighest();
    {
        const QSignalBlocker blocker(m_list);
        QListWidgetItem *item = m_list->takeItem(k);
        // Compared while the item lives: after the delete it is only an address.
        if (m_toggledByClick == item)
            m_toggledByClick = nullptr;
        delete item;
        emit entryRemoved(k);
        // The operator chooses the next entry to delete; none is chosen for them.
        m_list->setCurrentRow(-1);
        m_list->clearSelection();
    }
    TCP_READDRESS();
    IP_LIST_SAVE();
}

void AddressList::LST_IP_Click()
{
    const int k = currentIndex();
    if (k < 0 || k >= count())
        return;
    if (!isMarked(k))
        m_sockets.close(k);
}

void AddressList::IP_LIST_LOAD()
{
    if (!QFileInfo::exists(m_fileName))
        return;
    // Lines beyond the 99th have no socket to go with them and are not read.
    setEntries(cfgfile::readLines(m_fileName, kMaxEntries));
}

void AddressList::setEntries(const QStringList &texts)
{
    {
        const QSignalBlocker blocker(m_list);
        m_list->clear();
    }
    emit entriesCleared();
    m_toggledByClick = nullptr;
    while (m_sockets.count() > 0)
        m_sockets.destroyHighest();
    for (const QString &text : texts.mid(0, kMaxEntries))
        appendEntry(text);
}

bool AddressList::IP_LIST_SAVE()
{
    QStringList lines;
    lines.reserve(count());
    for (int i = 0; i < count(); ++i)
        lines.append(text(i));
    QString why;
    if (cfgfile::save(m_fileName, cfgfile::joinLines(lines), &why))
        return true;
    // The list on screen stays valid and the old file intact, but the operator
    // must learn that a restart would not bring this list back.
    if (m_log)
        m_log(QFileInfo(m_fileName).fileName() + QStringLiteral("= ") + why);
    return false;
}

void AddressList::TCP_READDRESS()
{
    for (int i = 0; i < count(); ++i) {
        m_sockets.setRemoteHost(i, text(i));
        setMarked(i, false);
        m_sockets.close(i);
    }
}

void AddressList::setEntryToolTip(int index, const QString &text)
{
    QListWidgetItem *item = m_list->item(index);
    if (!item || item->toolTip() == text)
        return;
    const QSignalBlocker blocker(m_list);
    item->setToolTip(text);
}

bool AddressList::entriesOnScreen() const
{
    return !m_list->visibleRegion().isEmpty();
}

#include "moc_addresslist.cpp"
