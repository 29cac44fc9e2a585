#include "ServerStores.h"

#include "ConfigStore.h"
#include "Database.h"
#include "LogStore.h"

namespace vts {

ServerStores::ServerStores() = default;

ServerStores::~ServerStores() = default;

void ServerStores::open(const QString& workingDir) {
    m_cfgDb = configstore::open(workingDir);
    m_clients = m_cfgDb->openTable(QStringLiteral("tblClients"));
    m_logDb = logstore::open(workingDir);
    // The server's one thread scans, dispatches and collects: a log held by
    // another program must not stop it for seconds per write. A write that
    // finds the log locked fails fast; results are then kept in the journal
    // and new queue files wait in the queue folder.
    m_logDb->setBusyTimeout(kLogBusyMs);
    m_log = m_logDb->openTable(QStringLiteral("tblLog"));
}

void ServerStores::close() {
    m_clients.reset();
    m_log.reset();
    if (m_cfgDb) {
        m_cfgDb->close();
    }
    if (m_logDb) {
        m_logDb->close();
    }
    m_cfgDb.reset();
    m_logDb.reset();
}

}  // namespace vts
