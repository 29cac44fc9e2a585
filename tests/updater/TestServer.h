#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vts::test {

// An HTTP server on 127.0.0.1 in a child process, on a port the system
// picks: either Python's own http.server or the test script
// update_server.py. Stopped (and waited for) when the object goes away.
class TestServer {
public:
    // python3 -m http.server serving `root`.
    static std::unique_ptr<TestServer> pythonHttpServer(const QString& root);
    // update_server.py serving `root`, recording requests into `recordDir`,
    // with per-path modes such as "/zupdate/vtupdate.exe=broken".
    static std::unique_ptr<TestServer> script(const QString& root, const QString& recordDir,
                                              const QStringList& modes = {}, int pauseAfter = 0);
    ~TestServer();

    quint16 port() const { return m_port; }
    bool ok() const { return m_port != 0; }
    // Lets a paused transfer go on.
    void resume();
    QString output() const { return m_output; }

private:
    bool start(const QString& program, const QStringList& args);
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_output;
};

// Runs Qt events (blocking while none are there) until `done` holds or
// `timeoutMs` of real time have passed. Returns whether `done` held.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// A port on 127.0.0.1 where nothing listens.
quint16 closedPort();

// The folder that holds the test scripts.
QString scriptDir();

}  // namespace vts::test
