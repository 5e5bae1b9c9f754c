#pragma once

#include <QString>

#include <memory>

class OscServer;
class RemoteHub;
class RemoteServer;
struct Options;

// What the remote options ask to listen on, bound before any window exists.
class RemoteServices
{
public:
    ~RemoteServices();

    // Null with an empty error when no remote option is given: nothing listens.
    // Null with an error when an option cannot be honoured.
    static std::unique_ptr<RemoteServices> start(const Options &options, QString *error);

    RemoteHub &hub() { return *m_hub; }
    RemoteServer *http() const { return m_http.get(); }
    OscServer *osc() const { return m_osc.get(); }

    // One line per listener, for the operator's terminal.
    QString summary() const;

private:
    RemoteServices();

    std::unique_ptr<RemoteHub> m_hub;
    std::unique_ptr<RemoteServer> m_http;
    std::unique_ptr<OscServer> m_osc;
};
