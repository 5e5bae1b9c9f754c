#include "app/remoteservices.h"

#include "app/options.h"
#include "remote/listenaddress.h"
#include "remote/oscserver.h"
#include "remote/remotehub.h"
#include "remote/remoteserver.h"

RemoteServices::RemoteServices() : m_hub(std::make_unique<RemoteHub>()) {}

RemoteServices::~RemoteServices()
{
    // The servers hold on to the hub; they go first.
    m_http.reset();
    m_osc.reset();
}

std::unique_ptr<RemoteServices> RemoteServices::start(const Options &o, QString *error)
{
    error->clear();
    if (o.remote.isEmpty() && o.osc.isEmpty()) {
        if (!o.remoteToken.isEmpty())
            *error = QStringLiteral("--remote-token needs --remote.");
        else if (!o.remoteNames.isEmpty())
            *error = QStringLiteral("--remote-name needs --remote.");
        else if (!o.oscAllow.isEmpty())
            *error = QStringLiteral("--osc-allow needs --osc.");
        return nullptr;
    }
    std::unique_ptr<RemoteServices> s(new RemoteServices);

    if (!o.remote.isEmpty()) {
        listenaddress::Where where;
        if (!listenaddress::parse(o.remote, &where, error)) {
            *error = QStringLiteral("--remote ") + *error;
            return nullptr;
        }
        if (!listenaddress::isLoopback(where.address) && o.remoteToken.isEmpty()) {
            *error = QStringLiteral(
                         "--remote %1 listens beyond this machine: give --remote-token TOKEN too.")
                         .arg(o.remote);
            return nullptr;
        }
        QByteArrayList names;
        for (const QString &n : o.remoteNames) {
            QByteArray name;
            if (!listenaddress::parseName(n, &name, error))
                return nullptr;
            names.append(name);
        }
        s->m_http = std::make_unique<RemoteServer>(*s->m_hub);
        s->m_http->setToken(o.remoteToken.toUtf8());
        s->m_http->setNames(names);
        if (!s->m_http->listen(where.address, where.port, error)) {
            *error = QStringLiteral("--remote: ") + *error + QLatin1Char('.');
            return nullptr;
        }
    } else if (!o.remoteToken.isEmpty() || !o.remoteNames.isEmpty()) {
        *error = QStringLiteral("%1 needs --remote.")
                     .arg(o.remoteToken.isEmpty() ? QStringLiteral("--remote-name")
                                                  : QStringLiteral("--remote-token"));
        return nullptr;
    }

    if (!o.osc.isEmpty()) {
        listenaddress::Where where;
        if (!listenaddress::parse(o.osc, &where, error)) {
            *error = QStringLiteral("--osc ") + *error;
            return nullptr;
        }
        QList<listenaddress::Subnet> allowed;
        if (!listenaddress::parseSubnets(o.oscAllow, &allowed, error))
            return nullptr;
        s->m_osc = std::make_unique<OscServer>(*s->m_hub);
        s->m_osc->setAllowed(allowed);
        if (!s->m_osc->listen(where.address, where.port, error)) {
            *error = QStringLiteral("--osc: ") + *error + QLatin1Char('.');
            return nullptr;
        }
    } else if (!o.oscAllow.isEmpty()) {
        *error = QStringLiteral("--osc-allow needs --osc.");
        return nullptr;
    }
    return s;
}

QString RemoteServices::summary() const
{
    QString out;
    auto host = [](const QHostAddress &a) {
        return a.protocol() == QAbstractSocket::IPv6Protocol
                   ? QLatin1Char('[') + a.toString() + QLatin1Char(']')
                   : a.toString();
    };
    if (m_http) {
        const QString base
            = QStringLiteral("http://%1:%2").arg(host(m_http->address())).arg(m_http->port());
        out += QStringLiteral("Remote control: %1/ (display page), %1/control (control page), "
                              "%1/presenter (presenter page), %1/api/state\n")
                   .arg(base);
    }
    if (m_osc)
        out += QStringLiteral("OSC: UDP port %1\n").arg(m_osc->port());
    return out;
}
