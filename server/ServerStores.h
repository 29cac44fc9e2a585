#pragma once

#include <QString>

#include <memory>

namespace vts {

namespace db {
class Database;
class Recordset;
}  // namespace db

// The two stores the server holds open for its whole run and the tables it
// keeps open on them: the configuration store with tblClients (client
// registration) and the log store with tblLog (new rows). Open once at
// start-up, closed once by the exit sequence.
class ServerStores final {
public:
    // How long a log write waits for another program's lock.
    static constexpr int kLogBusyMs = 200;

    ServerStores();
    ~ServerStores();

    // Opens both stores and both tables; throws db::DbError, leaving open
    // what did open until close().
    void open(const QString& workingDir);
    void close();
    bool isOpen() const { return m_logDb != nullptr; }

    db::Database* config() const { return m_cfgDb.get(); }
    db::Database* log() const { return m_logDb.get(); }
    db::Recordset* clients() const { return m_clients.get(); }
    db::Recordset* logTable() const { return m_log.get(); }

private:
    std::unique_ptr<db::Database> m_cfgDb;
    std::unique_ptr<db::Database> m_logDb;
    std::unique_ptr<db::Recordset> m_clients;
    std::unique_ptr<db::Recordset> m_log;
};

}  // namespace vts
