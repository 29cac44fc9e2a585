// Pages per second that vtsgate accepts over SNPP, SMTP and HTTP on loopback
// with 4 concurrent clients, against the rate at which vtspage writes queue
// files in the same run (4 vtspage processes at a time, as scripts run it).
// Figures are printed as ratios to that baseline.
//
// usage: bench_gateway [pages per client, default 250]
#include "ConfigStore.h"
#include "QueueFileWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kClients = 4;
const QString kBin = QStringLiteral(VTS_BIN_DIR);

// A blocking loopback connection that reads replies line by line.
class Conn {
public:
    explicit Conn(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Conn() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;
    bool ok() const { return m_fd >= 0; }
    void send(const std::string& s) const {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = ::write(m_fd, s.data() + done, s.size() - done);
            if (n <= 0) {
                return;
            }
            done += static_cast<size_t>(n);
        }
    }
    // The next reply line; for multi-line replies ("250-") the last one.
    std::string reply() {
        for (;;) {
            std::string line = nextLine();
            if (line.size() < 4 || line[3] != '-') {
                return line;
            }
        }
    }
    std::string readAll() {
        std::string all = m_buf;
        char b[4096];
        ssize_t n = 0;
        while ((n = ::read(m_fd, b, sizeof b)) > 0) {
            all.append(b, static_cast<size_t>(n));
        }
        return all;
    }

private:
    std::string nextLine() {
        for (;;) {
            const auto lf = m_buf.find('\n');
            if (lf != std::string::npos) {
                std::string line = m_buf.substr(0, lf);
                m_buf.erase(0, lf + 1);
                return line;
            }
            char b[4096];
            const ssize_t n = ::read(m_fd, b, sizeof b);
            if (n <= 0) {
                return {};
            }
            m_buf.append(b, static_cast<size_t>(n));
        }
    }
    int m_fd = -1;
    std::string m_buf;
};

int snppClient(int port, int pages) {
    Conn c(port);
    int ok = 0;
    if (!c.ok()) {
        return 0;
    }
    c.reply();
    for (int i = 0; i < pages; ++i) {
        c.send("PAGE BOB\r\nMESS bench page " + std::to_string(i) + "\r\nSEND\r\n");
        c.reply();
        c.reply();
        ok += c.reply().rfind("250", 0) == 0 ? 1 : 0;
    }
    c.send("QUIT\r\n");
    return ok;
}

int smtpClient(int port, int pages) {
    Conn c(port);
    int ok = 0;
    if (!c.ok()) {
        return 0;
    }
    c.reply();
    c.send("EHLO bench\r\n");
    c.reply();
    for (int i = 0; i < pages; ++i) {
        c.send("MAIL FROM:<bench@example.com>\r\n");
        c.reply();
        c.send("RCPT TO:<bob@pager.local>\r\n");
        c.reply();
        c.send("DATA\r\n");
        c.reply();
        c.send("Subject: bench\r\n\r\nbench page " + std::to_string(i) + "\r\n.\r\n");
        ok += c.reply().rfind("250", 0) == 0 ? 1 : 0;
    }
    c.send("QUIT\r\n");
    return ok;
}

int httpClient(int port, int pages) {
    int ok = 0;
    for (int i = 0; i < pages; ++i) {
        Conn c(port);
        const std::string body = R"({"to":"bob","text":"bench page )" + std::to_string(i) + "\"}";
        c.send(
            "POST /api/pages HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer "
            "bench\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body);
        ok += c.readAll().rfind("HTTP/1.1 201", 0) == 0 ? 1 : 0;
    }
    return ok;
}

double concurrently(int (*client)(int, int), int port, int pages, int* accepted) {
    std::atomic<int> total{0};
    QElapsedTimer t;
    t.start();
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&] { total += client(port, pages); });
    }
    for (auto& th : threads) {
        th.join();
    }
    *accepted = total;
    return static_cast<double>(total) / (static_cast<double>(t.nsecsElapsed()) / 1e9);
}

void clearQueue(const QString& queue) {
    QDir d(queue);
    for (const QString& f : d.entryList({QStringLiteral("*.PMF")}, QDir::Files)) {
        d.remove(f);
    }
}

// 4 vtspage processes at a time until `total` files are written.
double vtspageRate(const QString& queue, int total) {
    QElapsedTimer t;
    t.start();
    int started = 0;
    int done = 0;
    std::vector<std::unique_ptr<QProcess>> running;
    while (done < total) {
        while (static_cast<int>(running.size()) < kClients && started < total) {
            auto p = std::make_unique<QProcess>();
            p->start(kBin + QStringLiteral("/vtspage"),
                     {QStringLiteral("--queue"), queue, QStringLiteral("--phone"),
                      QStringLiteral("5551234"), QStringLiteral("--pin"), QStringLiteral("1001"),
                      QStringLiteral("bench page")});
            running.push_back(std::move(p));
            ++started;
        }
        running.front()->waitForFinished(30000);
        running.erase(running.begin());
        ++done;
    }
    return done / (static_cast<double>(t.nsecsElapsed()) / 1e9);
}

double writerRate(const QString& queue, int total) {
    vts::QueueMessage r;
    r.tapPhoneNumber = QStringLiteral("5551234");
    r.tapPin = QStringLiteral("1001");
    r.message = QStringLiteral("bench page");
    vts::QueueFileWriter w(queue);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < total; ++i) {
        w.write(r);
    }
    return total / (static_cast<double>(t.nsecsElapsed()) / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int perClient = argc > 1 ? std::max(1, std::atoi(argv[1])) : 250;
    QTemporaryDir tmp;
    const QString work = tmp.path();
    const QString queue = work + QStringLiteral("/QUEUE");
    for (const char* sub : {"/PENDING", "/SENT", "/FAILED"}) {
        QDir().mkpath(queue + QString::fromLatin1(sub));
    }
    vts::configstore::createNew(work + QStringLiteral("/VTSCFG.MDB"), queue);
    QFile ini(work + QStringLiteral("/vtsgate.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write(
        "[snpp]\nlisten = 127.0.0.1:0\n[smtp]\nlisten = 127.0.0.1:0\ndomain = pager.local\n"
        "[http]\nlisten = 127.0.0.1:0\ntoken = bench\n[limits]\npages_per_minute = 0\n"
        "[recipients]\nBOB = 5551234, 1001\n");
    ini.close();

    // The gateway logs one line per page; it goes to a file, as with a
    // service whose output goes to the journal.
    const QString logPath = work + QStringLiteral("/vtsgate.log");
    QProcess gate;
    gate.setStandardOutputFile(logPath);
    gate.start(kBin + QStringLiteral("/vtsgate"), {QStringLiteral("--dir"), work});
    QHash<QString, int> ports;
    static const QRegularExpression re(
        QStringLiteral("(SNPP|SMTP|HTTP) listening on 127.0.0.1:(\\d+)"));
    QElapsedTimer wait;
    wait.start();
    QString out;
    while (!out.contains(QStringLiteral(" started in ")) && wait.elapsed() < 10000 &&
           !gate.waitForFinished(50)) {
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly)) {
            out = QString::fromLocal8Bit(log.readAll());
        }
    }
    for (auto it = re.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        ports[m.captured(1)] = m.captured(2).toInt();
    }
    if (ports.size() != 3) {
        std::fprintf(stderr, "vtsgate did not start:\n%s\n", out.toLocal8Bit().constData());
        return 1;
    }

    const int total = kClients * perClient;
    const double baseline = vtspageRate(queue, total);
    clearQueue(queue);
    const double writer = writerRate(queue, total);
    clearQueue(queue);
    std::printf("%d pages per measurement, %d concurrent clients\n", total, kClients);
    std::printf("%-34s %9.1f pages/s  ratio 1.00 (baseline)\n", "vtspage, 4 processes at a time",
                baseline);
    std::printf("%-34s %9.1f pages/s  ratio %.2f\n", "queue-file writer in one process", writer,
                writer / baseline);
    const std::pair<const char*, int (*)(int, int)> protocols[] = {
        {"SNPP", snppClient}, {"SMTP", smtpClient}, {"HTTP", httpClient}};
    bool allAccepted = true;
    for (const auto& [name, client] : protocols) {
        int accepted = 0;
        const double rate =
            concurrently(client, ports[QString::fromLatin1(name)], perClient, &accepted);
        const int files =
            static_cast<int>(QDir(queue).entryList({QStringLiteral("A*.PMF")}, QDir::Files).size());
        clearQueue(queue);
        allAccepted = allAccepted && accepted == total && files == total;
        std::printf("vtsgate %-26s %9.1f pages/s  ratio %.2f  (%d accepted, %d files)\n", name,
                    rate, rate / baseline, accepted, files);
    }
    gate.terminate();
    gate.waitForFinished(10000);
    return allAccepted ? 0 : 1;
}
