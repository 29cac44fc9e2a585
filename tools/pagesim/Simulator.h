#pragma once

#include "EndpointKinds.h"

#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <vector>

// pagesim's running part: the endpoints of every COM port (sessions on
// pseudo-terminals linked as DIR/COMn, listeners on loopback TCP ports) and
// one poll loop that feeds them bytes and time until SIGTERM or SIGINT.
namespace vts::sim {

class Simulator final {
public:
    // Takes SIGTERM and SIGINT as the stop signal from now on.
    explicit Simulator(QString dir);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Records pages and calls as JSON lines (an empty name records nothing).
    static Sink recorder(const QString& pagesFile, const QString& callsFile);
    // Starts `kind` on COM port `context.com` and prints its line; false
    // with *error when the pseudo-terminal, link or listener cannot be made.
    bool add(const EndpointKind& kind, const EndpointContext& context, QString* error);
    // calvex.ini's [ports] entries, by COM port number.
    QList<QPair<QString, QString>> iniPorts() const;
    // Serves until a stop signal; false with *error when polling fails.
    bool run(QString* error);

private:
    struct Pty;
    struct Listener;
    struct Connection;

    QString m_dir;
    std::vector<Pty> m_ptys;
    std::vector<Listener> m_listeners;
    std::vector<Connection> m_connections;
    QList<QPair<int, QString>> m_entries;
};

}  // namespace vts::sim
