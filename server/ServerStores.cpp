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
