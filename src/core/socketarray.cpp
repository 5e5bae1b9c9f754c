#include "core/socketarray.h"

namespace {
const QString kTemplateTag = QStringLiteral("0");
}

TcpSocketArray::TcpSocketArray(SocketFactory &factory, QObject *parent)
    : QObject(parent), m_factory(factory)
{}

TcpSocketArray::~TcpSocketArray() = default;

int TcpSocketArray::count() const
{
    return static_cast<int>(m_elements.size());
}

bool TcpSocketArray::createElement()
{
    if (count() >= kMaxElements)
        return false;
    Element element{m_factory.createTcp(), kTemplateTag, 0, {}};
    TcpEndpoint *socket = element.socket.get();
    const int index = count();
    // The index is fixed for the element's life: only the top element is ever destroyed.
    connect(socket, &TcpEndpoint::connected, this, [this, index] {
        m_elements[std::size_t(index)].sentCount = 0; // a new connection counts afresh
        emit connectEvent(index);
    });
    connect(socket, &TcpEndpoint::closedByPeer, this, [this, index] { emit closeEvent(index); });
    connect(socket, &TcpEndpoint::failed, this,
            [this, index](const QString &description) { emit errorEvent(index, description); });
    m_elements.push_back(std::move(element));
    return true;
}

void TcpSocketArray::destroyHighest()
{
    if (m_elements.empty())
        return;
    std::unique_ptr<TcpEndpoint> socket = std::move(m_elements.back().socket);
    m_elements.pop_back();
    socket->disconnect(this);
    socket->close();
}

TcpSocketArray::Element *TcpSocketArray::at(int index)
{
    return index >= 0 && index < count() ? &m_elements[static_cast<std::size_t>(index)] : nullptr;
}

const TcpSocketArray::Element *TcpSocketArray::at(int index) const
{
    return index >= 0 && index < count() ? &m_elements[static_cast<std::size_t>(index)] : nullptr;
}

SocketState TcpSocketArray::state(int index) const
{
    const Element *e = at(index);
    return e ? e->socket->state() : SocketState::Closed;
}

void TcpSocketArray::connectTo(int index, const QString &host, quint16 port)
{
    if (Element *e = at(index)) {
        e->sentCount = 0;
        e->lastSent.clear();
        e->socket->connectTo(host, port);
    }
}

QString TcpSocketArray::remoteHost(int index) const
{
    const Element *e = at(index);
    return e ? e->socket->remoteHost() : QString();
}

void TcpSocketArray::setRemoteHost(int index, const QString &host)
{
    if (Element *e = at(index))
        e->socket->setRemoteHost(host);
}

bool TcpSocketArray::sendData(int index, const QByteArray &bytes)
{
    Element *e = at(index);
    if (!e || !e->socket->sendData(bytes))
        return false;
    ++e->sentCount;
    e->lastSent = bytes;
    return true;
}

qint64 TcpSocketArray::sentCount(int index) const
{
    const Element *e = at(index);
    return e ? e->sentCount : 0;
}

QByteArray TcpSocketArray::lastSent(int index) const
{
    const Element *e = at(index);
    return e ? e->lastSent : QByteArray();
}

qint64 TcpSocketArray::roundTripMicros(int index) const
{
    const Element *e = at(index);
    return e ? e->socket->roundTripMicros() : -1;
}

void TcpSocketArray::close(int index)
{
    if (Element *e = at(index))
        e->socket->close();
}

QString TcpSocketArray::tag(int index) const
{
    const Element *e = at(index);
    return e ? e->tag : (index == kTemplateIndex ? kTemplateTag : QString());
}

void TcpSocketArray::setTag(int index, const QString &tag)
{
    if (Element *e = at(index))
        e->tag = tag;
}

#include "moc_socketarray.cpp"
// The socket interface has no source of its own: its moc output is built here.
#include "moc_socketlayer.cpp"
