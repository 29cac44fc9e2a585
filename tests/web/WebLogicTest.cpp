// The web console's rules without a browser: its settings file, sessions
// and sign-in limits in virtual time, HTML escaping, the keyed page search
// over a real log store, accounts and the audit trail.

#include "Database.h"
#include "Html.h"
#include "LogStore.h"
#include "PageSearch.h"
#include "Sessions.h"
#include "TestSupport.h"
#include "VirtualEventLoop.h"
#include "WebConfig.h"
#include "WebUsers.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace vts;
using namespace vts::web;
using vts::test::TempDirTest;

// ---------------------------------------------------------------- vtsweb.ini

struct ConfigCase {
    const char* name;
    const char* text;
    const char* error;  // part of the refusal; nullptr: accepted
    const char* address;
    int port;
};

class WebConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(WebConfigTest, ParsesOrRefuses) {
    const ConfigCase& c = GetParam();
    QString error;
    const auto config = WebConfig::parse(QString::fromUtf8(c.text), &error);
    if (c.error) {
        EXPECT_FALSE(config);
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << error.toStdString();
        return;
    }
    ASSERT_TRUE(config) << error.toStdString();
    EXPECT_EQ(config->address.toString(), QString::fromLatin1(c.address));
    EXPECT_EQ(config->port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WebConfigTest,
    ::testing::Values(
        ConfigCase{"Empty", "", nullptr, "127.0.0.1", 8443},
        ConfigCase{"Loopback", "[http]\nlisten = 127.0.0.1:9000\n", nullptr, "127.0.0.1", 9000},
        ConfigCase{"LoopbackV6", "[http]\nlisten = [::1]:9001\n", nullptr, "::1", 9001},
        ConfigCase{"AnyWithoutTls", "[http]\nlisten = 0.0.0.0:443\n", "beyond loopback", "", 0},
        ConfigCase{"LanWithoutTls", "[http]\nlisten = 192.168.1.5:443\n", "beyond loopback", "", 0},
        ConfigCase{"LanWithTls", "[http]\nlisten = 0.0.0.0:443\n[tls]\ncert = a.crt\nkey = a.key\n",
                   nullptr, "0.0.0.0", 443},
        ConfigCase{"CertWithoutKey", "[tls]\ncert = a.crt\n", "both cert and key", "", 0},
        ConfigCase{"NoPort", "[http]\nlisten = 127.0.0.1\n", "ADDRESS:PORT", "", 0},
        ConfigCase{"PortTooLarge", "[http]\nlisten = 127.0.0.1:70000\n", "ADDRESS:PORT", "", 0},
        ConfigCase{"NameNotAddress", "[http]\nlisten = localhost:80\n", "ADDRESS:PORT", "", 0},
        ConfigCase{"IdleNotNumber", "[session]\nidle = soon\n", "[session] idle", "", 0},
        ConfigCase{"AttemptsZero", "[login]\nattempts = 0\n", "[login] attempts", "", 0},
        ConfigCase{"LockoutNegative", "[login]\nlockout = -5\n", "[login] lockout", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- sessions

TEST(SessionsTest, NewRandomIdAtEverySignInAndGoneAfterIdleTime) {
    VirtualEventLoop loop;
    Sessions sessions(900);
    const WebUser alice{QStringLiteral("alice"), Role::Operator};
    const Session a = sessions.start(alice, loop.now());
    const Session b = sessions.start(alice, loop.now());
    EXPECT_NE(a.id, b.id);
    EXPECT_NE(a.csrf, b.csrf);
    EXPECT_EQ(a.id.size(), 64);
    EXPECT_FALSE(sessions.touch(QString(64, u'a'), loop.now()));  // planted, never signed in
    loop.advance(899);
    ASSERT_TRUE(sessions.touch(a.id, loop.now()));  // used: its idle time starts again
    loop.advance(899);
    EXPECT_TRUE(sessions.touch(a.id, loop.now()));
    EXPECT_FALSE(sessions.touch(b.id, loop.now()));  // unused for 1798 s
    loop.advance(900);
    EXPECT_FALSE(sessions.touch(a.id, loop.now()));
    EXPECT_EQ(sessions.count(), 0);
}

TEST(SessionsTest, EndAllOfAUserLeavesTheOthers) {
    VirtualEventLoop loop;
    Sessions sessions(900);
    const Session a = sessions.start({QStringLiteral("Bob"), Role::Viewer}, loop.now());
    const Session b = sessions.start({QStringLiteral("carol"), Role::Viewer}, loop.now());
    sessions.endAllOf(QStringLiteral("bob"));
    EXPECT_FALSE(sessions.touch(a.id, loop.now()));
    EXPECT_TRUE(sessions.touch(b.id, loop.now()));
}

TEST(SessionsTest, SecretsCompareWhole) {
    EXPECT_TRUE(Sessions::sameSecret(QStringLiteral("abc123"), QStringLiteral("abc123")));
    EXPECT_FALSE(Sessions::sameSecret(QStringLiteral("abc123"), QStringLiteral("abc124")));
    EXPECT_FALSE(Sessions::sameSecret(QStringLiteral("abc123"), QStringLiteral("abc12")));
    EXPECT_FALSE(Sessions::sameSecret(QString(), QStringLiteral("x")));
}

struct LimitStep {
    double advance;  // seconds before the step
    bool fail;       // a failed sign-in (else a look only)
    int blocked;     // seconds blocked after the step
};

TEST(LoginLimiterTest, LocksAfterAttemptsWithinTheWindowUntilTheLockoutEnds) {
    // 3 attempts in 60 s, then 120 s locked.
    const std::vector<LimitStep> steps = {
        {0, true, 0},    {10, true, 0},  {70, true, 0},  // the first two fell out of the window
        {1, true, 0},    {1, true, 120},                 // three within 60 s
        {60, false, 60}, {59, false, 1}, {1, false, 0},  // the lockout runs out
        {0, true, 0},
    };
    VirtualEventLoop loop;
    LoginLimiter limiter(3, 60, 120);
    const QString key = QStringLiteral("address 192.0.2.1");
    int i = 0;
    for (const LimitStep& s : steps) {
        loop.advance(s.advance);
        if (s.fail) limiter.failed(key, loop.now());
        EXPECT_EQ(limiter.blockedFor(key, loop.now()), s.blocked) << "step " << i;
        EXPECT_EQ(limiter.blockedFor(QStringLiteral("address 192.0.2.2"), loop.now()), 0);
        ++i;
    }
    limiter.failed(key, loop.now());
    limiter.succeeded(key);
    limiter.failed(key, loop.now());
    EXPECT_EQ(limiter.blockedFor(key, loop.now()), 0);
}

// ---------------------------------------------------------------- HTML

TEST(HtmlTest, NoValueCanOpenMarkup) {
    const char* hostile[] = {"<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>",
                             "' onmouseover='alert(1)", "&lt;already&gt;", "</textarea><b>"};
    for (const char* h : hostile) {
        const QString e = html::escape(QString::fromUtf8(h));
        EXPECT_FALSE(e.contains(u'<') || e.contains(u'>') || e.contains(u'"') || e.contains(u'\''))
            << e.toStdString();
        const QString in =
            html::field(QStringLiteral("f"), QStringLiteral("F"), QString::fromUtf8(h));
        EXPECT_EQ(in.count(u'<'), 5) << in.toStdString();  // <p>, <label>, </label>, <input>, </p>
    }
    EXPECT_EQ(html::escape(QStringLiteral("a&b")), QStringLiteral("a&amp;b"));
}

// ---------------------------------------------------------------- page search

class PageSearchTest : public TempDirTest {
protected:
public:
    struct Row {
        qint64 id;
        int status;
        QString sender, recipient, phone, pin, text;
        QDate day;
    };

protected:
    void SetUp() override {
        TempDirTest::SetUp();
        logstore::create(dir());
        m_log = logstore::open(dir());
        logstore::createCauseTable(*m_log);
        m_log->execute(QStringLiteral("BEGIN"));
        for (int i = 1; i <= 1200; ++i) {
            Row r{i,
                  i % 4,
                  QStringLiteral("user%1").arg(i % 7),
                  i % 5 == 0 ? QStringLiteral("Night Desk") : QStringLiteral("BOB"),
                  QStringLiteral("55500%1").arg(i % 3),
                  QString::number(1000 + i % 11),
                  i % 9 == 0 ? QStringLiteral("Disk FULL on web%1").arg(i)
                             : QStringLiteral("ok %1").arg(i),
                  QDate(2026, 1, 1).addDays(i / 100)};
            m_log->execute(
                QStringLiteral(
                    "INSERT INTO tblLog (ID, Status, Sender, Recipient, TAPPhoneNumber, TAPPIN, "
                    "Message, SentTime, UniqueID) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {r.id, r.status, r.sender, r.recipient, r.phone, r.pin, r.text,
                 QDateTime(r.day, QTime(12, 0)), QStringLiteral("A%1.PMF").arg(i)});
            if (r.status == 2) logstore::writeCause(*m_log, i, QStringLiteral("550 unknown pager"));
            m_rows << r;
        }
        m_log->execute(QStringLiteral("COMMIT"));
    }

    std::unique_ptr<db::Database> m_log;
    QList<Row> m_rows;
};

struct SearchCase {
    const char* name;
    std::function<void(PageFilter&)> set;
    std::function<bool(const PageSearchTest::Row&)> match;
};

TEST_F(PageSearchTest, KeyedPagesGiveEveryMatchNewestFirstOnce) {
    const std::vector<SearchCase> cases = {
        {"all", [](PageFilter&) {}, [](const Row&) { return true; }},
        {"failed", [](PageFilter& f) { f.status = QStringLiteral("failed"); },
         [](const Row& r) { return r.status == 2; }},
        {"pending", [](PageFilter& f) { f.status = QStringLiteral("pending"); },
         [](const Row& r) { return r.status == 0; }},
        {"phone exact", [](PageFilter& f) { f.phone = QStringLiteral("555001"); },
         [](const Row& r) { return r.phone == QLatin1String("555001"); }},
        {"pin exact", [](PageFilter& f) { f.pin = QStringLiteral("1003"); },
         [](const Row& r) { return r.pin == QLatin1String("1003"); }},
        {"text part, any case", [](PageFilter& f) { f.text = QStringLiteral("disk full"); },
         [](const Row& r) { return r.text.startsWith(QLatin1String("Disk")); }},
        {"recipient part", [](PageFilter& f) { f.recipient = QStringLiteral("night"); },
         [](const Row& r) { return r.recipient == QLatin1String("Night Desk"); }},
        {"sender as the report takes it", [](PageFilter& f) { f.sender = QStringLiteral("user3"); },
         [](const Row& r) { return r.sender == QLatin1String("user3"); }},
        {"dates and status",
         [](PageFilter& f) {
             f.from = QDate(2026, 1, 3);
             f.to = QDate(2026, 1, 5);
             f.status = QStringLiteral("sent");
         },
         [](const Row& r) {
             return r.status == 1 && r.day >= QDate(2026, 1, 3) && r.day <= QDate(2026, 1, 5);
         }},
    };
    for (const SearchCase& c : cases) {
        PageFilter f;
        f.limit = 50;
        c.set(f);
        QList<qint64> expected;
        for (auto it = m_rows.crbegin(); it != m_rows.crend(); ++it)
            if (c.match(*it)) expected << it->id;
        QList<qint64> got;
        for (int pages = 0; pages < 100; ++pages) {
            const PageResult result = search(*m_log, f);
            EXPECT_LE(result.rows.size(), 50);
            for (const PageRow& r : result.rows) got << r.id;
            if (result.nextBefore == 0) break;
            f.before = result.nextBefore;
        }
        EXPECT_EQ(got, expected) << c.name;
        QVariantList params;
        EXPECT_FALSE(
            searchSql(*m_log, f, &params).contains(QLatin1String("OFFSET"), Qt::CaseInsensitive));
    }
}

TEST_F(PageSearchTest, ARowCarriesItsCause) {
    const auto row = pageRow(*m_log, 2);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->cause, QStringLiteral("550 unknown pager"));
    EXPECT_EQ(row->uniqueId, QStringLiteral("A2.PMF"));
    EXPECT_FALSE(pageRow(*m_log, 99999));
}

TEST_F(PageSearchTest, HourlyCountsTheLastDayOnly) {
    m_log->execute(
        QStringLiteral(
            "INSERT INTO tblLog (Status, SentTime) VALUES (1, ?), (1, ?), (2, ?), (2, ?)"),
        {QDateTime(QDate(2026, 3, 1), QTime(9, 15)), QDateTime(QDate(2026, 3, 1), QTime(9, 59)),
         QDateTime(QDate(2026, 2, 28), QTime(11, 5)), QDateTime(QDate(2026, 2, 27), QTime(9, 0))});
    const Hourly h = hourly(*m_log, QDateTime(QDate(2026, 3, 1), QTime(10, 30)));
    ASSERT_EQ(h.hours.size(), 24);
    EXPECT_EQ(h.sent.at(22), 2);   // 09:00 to 10:00
    EXPECT_EQ(h.failed.at(0), 1);  // 11:00 the day before
    int all = 0;
    for (int i = 0; i < 24; ++i) all += h.sent.at(i) + h.failed.at(i);
    EXPECT_EQ(all, 3);  // the row of two days ago is not counted
}

// ---------------------------------------------------------------- accounts and audit

class WebUsersTest : public TempDirTest {};

TEST_F(WebUsersTest, PasswordsCheckedAgainstArgon2idHashes) {
    WebUsers users(dir());
    ASSERT_EQ(users.setUser(QStringLiteral("alice"), Role::Operator, "correct horse"), QString());
    EXPECT_TRUE(users.verify(QStringLiteral("ALICE"), "correct horse"));
    EXPECT_EQ(users.verify(QStringLiteral("alice"), "correct horse")->role, Role::Operator);
    EXPECT_FALSE(users.verify(QStringLiteral("alice"), "correct horsE"));
    EXPECT_FALSE(users.verify(QStringLiteral("nobody"), "correct horse"));
    auto db = db::Database::openPath(path(WebUsers::kFileName));
    auto rs = db->openQuery(QStringLiteral("SELECT Hash FROM tblWebUser"));
    EXPECT_TRUE(rs->text(QStringLiteral("Hash")).startsWith(QLatin1String("$argon2id$")));
    EXPECT_TRUE(users.setRole(QStringLiteral("alice"), Role::Viewer));
    EXPECT_EQ(users.find(QStringLiteral("alice"))->role, Role::Viewer);
    EXPECT_TRUE(users.remove(QStringLiteral("alice")));
    EXPECT_FALSE(users.verify(QStringLiteral("alice"), "correct horse"));
}

TEST_F(WebUsersTest, RefusesBadNamesAndPasswords) {
    WebUsers users(dir());
    const std::pair<const char*, const char*> bad[] = {
        {"", "long enough"},      {"a b", "long enough"},
        {"-dash", "long enough"}, {"x'; DROP TABLE tblWebUser;--", "long enough"},
        {"ok", "short"},          {"ok", nullptr}};
    for (const auto& [name, password] : bad) {
        const QByteArray pw = password ? QByteArray(password) : QByteArray(300, 'x');
        EXPECT_FALSE(users.setUser(QString::fromUtf8(name), Role::Viewer, pw).isEmpty()) << name;
    }
    EXPECT_TRUE(users.users().isEmpty());
    for (const char* r : {"viewer", "Operator", "ADMINISTRATOR"})
        EXPECT_TRUE(roleFromName(QString::fromLatin1(r)));
    EXPECT_FALSE(roleFromName(QStringLiteral("root")));
}

TEST_F(WebUsersTest, AuditTrailNewestFirstByKey) {
    WebUsers users(dir());
    const QDateTime t(QDate(2026, 5, 1), QTime(8, 0));
    for (int i = 1; i <= 25; ++i) {
        users.audit(QStringLiteral("admin"), QStringLiteral("setting"),
                    QStringLiteral("PMFExpireDays"), QString::number(i - 1), QString::number(i),
                    t.addSecs(i));
    }
    users.audit(QStringLiteral("oper"), QStringLiteral("send"), QStringLiteral("BOB"), {},
                QStringLiteral("A123.PMF"), t.addSecs(100));
    const QList<AuditEntry> first = users.auditTrail(10);
    ASSERT_EQ(first.size(), 10);
    EXPECT_EQ(first.first().action, QStringLiteral("send"));
    EXPECT_EQ(first.at(1).newValue, QStringLiteral("25"));
    const QList<AuditEntry> next = users.auditTrail(10, first.last().id);
    EXPECT_EQ(next.first().id, first.last().id - 1);
    EXPECT_EQ(users.senderOfFile(QStringLiteral("A123.PMF")), QStringLiteral("oper"));
    EXPECT_EQ(users.senderOfFile(QStringLiteral("A124.PMF")), QString());
}
