// vtspage's writer: what it writes is what the server reads, under a fresh
// collectable name, with nothing left behind.
#include "QueueFile.h"
#include "QueueFileWriter.h"
#include "TestSupport.h"
#include "TextFile.h"

#include <QDir>

#include <csignal>

#include <sys/resource.h>

using namespace vts;
using namespace vts::test;

namespace {

class QueueFileWriterTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        for (const char* sub : {"q/PENDING", "q/SENT", "q/FAILED"})
            ASSERT_TRUE(QDir(dir()).mkpath(QString::fromLatin1(sub)));
    }
};

TEST_F(QueueFileWriterTest, WrittenFileReadsBackAsTheSamePage) {
    QueueMessage r;
    r.computer = QStringLiteral("PC-1");
    r.sender = QStringLiteral("Zoë");
    r.tapPhoneNumber = QStringLiteral("5551234");
    r.tapPin = QStringLiteral("77");
    r.blockSize = 80;
    r.reverseOrder = true;
    r.sentTime = QDateTime(QDate(2026, 2, 3), QTime(4, 5, 6));
    r.message = QStringLiteral("Hello\nWorld");
    QString error;
    const QString name = QueueFileWriter(path(QStringLiteral("q"))).write(r, &error);
    ASSERT_FALSE(name.isEmpty()) << error.toStdString();
    EXPECT_TRUE(name.startsWith(QLatin1Char('A')) && name.endsWith(QStringLiteral(".PMF")));
    // Only the final file is left in the queue folder.
    EXPECT_EQ(QDir(path(QStringLiteral("q"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{name});

    const auto lines = text::readLines(path(QStringLiteral("q/") + name));
    ASSERT_TRUE(lines);
    const auto m = queuefile::parse(*lines);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->sender, QStringLiteral("Zoë"));
    EXPECT_EQ(m->message, QStringLiteral("HelloWorld"));
    EXPECT_EQ(m->sentTime, r.sentTime);
    EXPECT_EQ(m->blockSize, 80);
    EXPECT_TRUE(m->reverseOrder);
}

TEST_F(QueueFileWriterTest, NamesAreFreshAndBadValuesAreRefused) {
    QueueMessage r;
    r.tapPhoneNumber = QStringLiteral("1");
    r.tapPin = QStringLiteral("2");
    r.message = QStringLiteral("x");
    QueueFileWriter w(path(QStringLiteral("q")));
    QStringList names;
    for (int i = 0; i < 20; ++i) names << w.write(r);
    names.removeDuplicates();
    EXPECT_EQ(names.size(), 20);

    const std::pair<const char*, std::function<void(QueueMessage&)>> bad[] = {
        {"line break", [](QueueMessage& p) { p.sender = QStringLiteral("a\nb"); }},
        {"long phone", [](QueueMessage& p) { p.tapPhoneNumber = QString(31, QLatin1Char('1')); }},
        {"long PIN", [](QueueMessage& p) { p.tapPin = QString(21, QLatin1Char('1')); }},
        {"block size", [](QueueMessage& p) { p.blockSize = 40000; }},
    };
    for (const auto& [what, change] : bad) {
        QueueMessage p = r;
        change(p);
        QString error;
        EXPECT_TRUE(w.write(p, &error).isEmpty()) << what;
        EXPECT_FALSE(error.isEmpty()) << what;
    }
    QString error;
    EXPECT_TRUE(QueueFileWriter(path(QStringLiteral("missing"))).write(r, &error).isEmpty());
}

TEST_F(QueueFileWriterTest, AFailedWriteLeavesNothingInTheQueueFolder) {
    QueueMessage r;
    r.tapPhoneNumber = QStringLiteral("1");
    r.tapPin = QStringLiteral("2");
    r.message = QStringLiteral("a page that does not fit");
    // A file-size limit makes the write stop part way with an error, the
    // way a full disk does, without needing a small file system.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = old;
    tiny.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    QString error;
    const QString name = QueueFileWriter(path(QStringLiteral("q"))).write(r, &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(name.isEmpty());
    EXPECT_TRUE(error.startsWith(QStringLiteral("cannot write"))) << error.toStdString();
    EXPECT_TRUE(QDir(path(QStringLiteral("q")))
                    .entryList(QDir::Files | QDir::Hidden | QDir::System)
                    .isEmpty());
    // The same writer works again once there is room.
    EXPECT_FALSE(QueueFileWriter(path(QStringLiteral("q"))).write(r).isEmpty());
}

TEST_F(QueueFileWriterTest, TextOutsideTheCodePageIsReplacedVisibly) {
    QueueMessage r;
    r.tapPhoneNumber = QStringLiteral("1");
    r.tapPin = QStringLiteral("2");
    r.sentTime = QDateTime(QDate(2026, 2, 3), QTime(4, 5, 6));
    r.message = QStringLiteral("Zoë € 東京");
    const QByteArray bytes = queuefile::encode(r);
    EXPECT_EQ(bytes.count("\r\n"), 23);
    EXPECT_TRUE(bytes.endsWith("Zo\xEB \x80 ??\r\n"));
}

}  // namespace
