#include "TestServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>

namespace vts::test {

QString scriptDir() { return QStringLiteral(VTS_UPDATER_TEST_DIR); }

std::unique_ptr<TestServer> TestServer::pythonHttpServer(const QString& root) {
    auto s = std::unique_ptr<TestServer>(new TestServer);
    s->start(QStringLiteral("python3"),
             {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
              QStringLiteral("0"), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
              QStringLiteral("--directory"), root});
    return s;
}

std::unique_ptr<TestServer> TestServer::script(const QString& root, const QString& recordDir,
                                               const QStringList& modes, int pauseAfter) {
    auto s = std::unique_ptr<TestServer>(new TestServer);
    QStringList args{QStringLiteral("-u"), scriptDir() + QStringLiteral("/update_server.py"),
                     QStringLiteral("--root"), root};
    if (!recordDir.isEmpty()) args << QStringLiteral("--record") << recordDir;
    for (const QString& m : modes) args << QStringLiteral("--mode") << m;
    if (pauseAfter > 0) args << QStringLiteral("--pause-after") << QString::number(pauseAfter);
    s->start(QStringLiteral("python3"), args);
    return s;
}

bool TestServer::start(const QString& program, const QStringList& args) {
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(program, args);
    if (!m_process->waitForStarted(10000)) return false;
    static const QRegularExpression portRe(QStringLiteral("(?:PORT |port )(\\d+)"));
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (!m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) break;
        m_output += QString::fromUtf8(m_process->readAll());
        const auto m = portRe.match(m_output);
        if (m.hasMatch()) {
            m_port = static_cast<quint16>(m.captured(1).toUInt());
            return true;
        }
    }
    return false;
}

TestServer::~TestServer() {
    if (!m_process) return;
    m_process->closeWriteChannel();
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

void TestServer::resume() {
    m_process->write("go\n");
    m_process->waitForBytesWritten(5000);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;  // bounds each blocking wait, so the deadline is noticed
    wake.start(50);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

quint16 closedPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    const quint16 p = s.serverPort();
    s.close();
    return p;
}

}  // namespace vts::test
