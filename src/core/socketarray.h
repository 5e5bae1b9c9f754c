#pragma once

#include "core/socketlayer.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// TCPIP_TCP: one TCP socket per display entry, elements 0..n-1, created and
// destroyed only at the top. Index 99 is the template element: it only gives
// new elements their settings (no remote host, port 0, Tag "0") and is never
// connected, so at most 99 elements serve displays.
class TcpSocketArray : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTemplateIndex = 99;
    static constexpr int kMaxElements = 99;

    explicit TcpSocketArray(SocketFactory &factory, QObject *parent = nullptr);
    ~TcpSocketArray() override;

    int count() const;
    // Creates element count() as a closed socket with the template's settings.
    // False when the array is full.
    bool createElement();
    // Destroys the highest element; its connection ends, its pending events die with it.
    void destroyHighest();

    // Out-of-range indices read as a closed socket with nothing in it; writes are ignored.
    SocketState state(int index) const;
    void connectTo(int index, const QString &host, quint16 port);
    QString remoteHost(int index) const;
    void setRemoteHost(int index, const QString &host);
    bool sendData(int index, const QByteArray &bytes);
    // Frames sent on the element's current connection (counted from its last
    // connectTo), and the last of them; for the displays' health records.
    qint64 sentCount(int index) const;
    QByteArray lastSent(int index) const;
    qint64 roundTripMicros(int index) const;
    void close(int index);
    QString tag(int index) const;
    void setTag(int index, const QString &tag);

signals:
    void connectEvent(int index);
    void closeEvent(int index);
    void errorEvent(int index, const QString &description);

private:
    struct Element
    {
        std::unique_ptr<TcpEndpoint> socket;
        QString tag;
        qint64 sentCount = 0;
        QByteArray lastSent;
    };
    Element *at(int index);
    const Element *at(int index) const;

    SocketFactory &m_factory;
    std::vector<Element> m_elements;
};
