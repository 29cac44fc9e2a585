#include "SnppTransport.h"

#include "Dialer.h"
#include "Tap.h"
#include "TcpLine.h"
#include "TraceLog.h"

namespace vts {

namespace {

constexpr qsizetype kMaxReplyLine = 4096;

}  // namespace

// The client's view of the connection: commands out, replies in.
class SnppTransport::SnppSession {
public:
    SnppSession(Channel& channel, double timeout) : m_channel(channel), m_timeout(timeout) {}

    // Waits for one reply; code 0 with `m_down` set when none came.
    SnppTransport::Reply await() {
        SnppTransport::Reply r;
        const Deadline d = deadlineIn(m_timeout);
        for (;;) {
            if (SnppTransport::takeReply(m_channel.buffer(), r)) {
                if (r.code == 421 || (r.code >= 400 && r.code < 500)) {
                    down(QStringLiteral("server: %1").arg(QString::fromLatin1(r.text)));
                }
                return r;
            }
            if (m_channel.buffer().size() > kMaxReplyLine) {
                down(QStringLiteral("reply line too long"));
                return {};
            }
            switch (m_channel.receive(d)) {
                case LineWait::Data:
                    continue;
                case LineWait::Timeout:
                    down(QStringLiteral("no reply from the server in %1 s").arg(m_timeout));
                    return {};
                case LineWait::Cancelled:
                    down(QStringLiteral("stopped"));
                    return {};
                case LineWait::Closed:
                    down(QStringLiteral("connection lost"));
                    return {};
            }
        }
    }
    // Sends one command and takes its reply. Replies pair with commands
    // one to one: a line that came before the command was sent, or beside
    // its reply, answers nothing the client asked, so the exchange can no
    // longer be trusted and the connection is given up.
    SnppTransport::Reply command(const QByteArray& line) {
        if (!m_up) {
            return {};
        }
        if (unexpected()) {
            return {};
        }
        if (!m_channel.send(line + "\r\n")) {
            down(QStringLiteral("connection lost"));
            return {};
        }
        SnppTransport::Reply r = await();
        if (m_up && unexpected()) {
            return {};
        }
        return r;
    }
    // Takes in what has already arrived, without waiting; true (and the
    // connection down) when it holds a reply to nothing.
    bool unexpected() {
        while (m_channel.receive(Clock::now()) == LineWait::Data) {
        }
        SnppTransport::Reply stray;
        QByteArray rest = m_channel.buffer();
        if (!SnppTransport::takeReply(rest, stray)) {
            return false;
        }
        down(QStringLiteral("unexpected line from the server: %1")
                 .arg(QString::fromLatin1(stray.text.left(200))));
        return true;
    }
    bool up() const { return m_up; }
    QString reason() const { return m_reason; }
    void down(const QString& why) {
        if (m_up) {
            m_channel.trace().note(QStringLiteral("connection down: %1").arg(why));
            m_reason = why;
        }
        m_up = false;
    }
    Channel& channel() { return m_channel; }

private:
    Channel& m_channel;
    double m_timeout;
    bool m_up = true;
    QString m_reason;
};

namespace {

bool positive(const SnppTransport::Reply& r) { return r.code >= 200 && r.code < 300; }

QString replyText(const SnppTransport::Reply& r) {
    return QStringLiteral("server answered %1").arg(QString::fromLatin1(r.text));
}

}  // namespace

bool SnppTransport::takeReply(QByteArray& buffer, Reply& reply) {
    for (;;) {
        const qsizetype nl = buffer.indexOf('\n');
        if (nl < 0) {
            return false;
        }
        QByteArray line = buffer.left(nl);
        buffer.remove(0, nl + 1);
        while (line.endsWith('\r')) {
            line.chop(1);
        }
        const bool coded = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                           std::isdigit(static_cast<unsigned char>(line[1])) &&
                           std::isdigit(static_cast<unsigned char>(line[2]));
        if (coded && line.size() > 3 && line[3] == '-') {
            continue;  // a continuation line; the last line carries the code
        }
        if (line.trimmed().isEmpty()) {
            continue;
        }
        reply.code = coded ? line.left(3).toInt() : 0;
        reply.text = line.trimmed();
        return true;
    }
}

QByteArray SnppTransport::dataBody(const QByteArray& text) {
    QByteArray out;
    for (QByteArray line : text.split('\n')) {
        if (line.startsWith('.')) {
            line.prepend('.');
        }
        out += line + "\r\n";
    }
    return out + ".\r\n";
}

QByteArray SnppTransport::messText(const QByteArray& text) {
    QByteArray t = text;
    t.replace('\n', ' ');
    for (char& c : t) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return t;
}

QList<Page*> SnppTransport::take(const QList<Page*>& pages) {
    QList<Page*> todo;
    for (Page* p : pages) {
        const QByteArray pin = tap::transliterate(p->pin);
        if (pin.isEmpty() || pin.contains(' ')) {
            batch().setStatus(*p, PortStatus::Failed,
                              pin.isEmpty() ? QStringLiteral("no PIN")
                                            : QStringLiteral("a PIN with blanks cannot be sent"));
            continue;
        }
        todo.append(p);
    }
    return todo;
}

bool SnppTransport::open(const QList<Page*>& pages) {
    if (!connectTcp(m_line, pages.size())) {
        return false;
    }
    m_channel = std::make_unique<Channel>(m_line, trace());
    m_session = std::make_unique<SnppSession>(*m_channel, timeout());
    const Reply greeting = m_session->await();
    if (m_session->up() && !positive(greeting)) {
        m_session->down(QStringLiteral("not ready: %1").arg(QString::fromLatin1(greeting.text)));
    }
    m_password = tap::transliterate(call().tapPassword.trimmed());
    return true;
}

Outcome SnppTransport::refuse(Page& page, const Reply& reply) {
    batch().setStatus(page, PortStatus::Failed, replyText(reply), refusedForGood(reply.code));
    m_session->command("RESE");
    return Outcome::written(true);
}

bool SnppTransport::refusedForGood(int code) {
    // 550-559: the page itself is refused (unknown pager ID, invalid
    // message, delivery refused); 500-503 are protocol faults of the exchange.
    return code >= 550 && code < 560;
}

Outcome SnppTransport::send(Page& p) {
    SnppSession& s = *m_session;
    const auto lost = [&s] { return Outcome::down(s.reason()); };
    if (!s.up()) {
        return lost();
    }
    QByteArray pageCmd = "PAGE " + tap::transliterate(p.pin);
    if (!m_password.isEmpty() && !m_password.contains(' ')) {
        pageCmd += ' ' + m_password;
    }
    Reply r = s.command(pageCmd);
    if (!s.up()) {
        return lost();
    }
    if (!positive(r)) {
        return refuse(p, r);
    }
    const QByteArray text = tap::transliterate(p.text);
    const bool useData = !m_dataRefused && (text.contains('\n') || text.size() > m_opt.snppMessMax);
    bool entered = false;
    if (useData) {
        r = s.command("DATA");
        if (r.code == 354) {
            if (!m_channel->send(dataBody(text))) {
                s.down(QStringLiteral("connection lost"));
                return lost();
            }
            r = s.await();
            entered = positive(r);
        } else if (s.up() && (r.code == 500 || r.code == 502)) {
            // A level 1 server: the text goes on one line.
            trace().note(QStringLiteral("the server has no DATA; using MESS"));
            m_dataRefused = true;
        } else if (s.up()) {
            return refuse(p, r);
        }
    }
    if (!entered && s.up() && (!useData || m_dataRefused)) {
        r = s.command("MESS " + messText(text));
        entered = positive(r);
    }
    if (!s.up()) {
        return lost();
    }
    if (!entered) {
        return refuse(p, r);
    }
    r = s.command("SEND");
    if (!s.up()) {
        return lost();
    }
    return positive(r) ? Outcome::sent() : refuse(p, r);
}

void SnppTransport::close(const QList<Page*>&) {
    if (m_session->up()) {
        m_session->command("QUIT");
    }
    setReason(m_session->reason());
    m_line.close();
    trace().note(QStringLiteral("connection closed"));
}

SnppTransport::SnppTransport(PortTarget target, const DialerOptions& options)
    : Transport(std::move(target), options) {}

SnppTransport::~SnppTransport() = default;

}  // namespace vts
