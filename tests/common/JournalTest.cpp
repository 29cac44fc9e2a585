#include "Journal.h"
#include "TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

using namespace vts;

TEST(Journal, StreamMatchesOnlyItsOwnDeviceAndInode) {
    struct Row {
        const char* value;
        bool matches;
    };
    // Device 2049, inode 131 is the stream; everything else is not.
    const Row rows[] = {
        {"2049:131", true}, {"2049:132", false}, {"2050:131", false},
        {"", false},        {":131", false},     {"2049:", false},
        {"2049", false},    {"x:131", false},    {"2049:13x", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(journal::streamMatches(row.value, 2049, 131), row.matches) << row.value;
    }
}

TEST(Journal, LinesCarryTheirPriorityOnlyToTheJournal) {
    EXPECT_EQ(journal::line(journal::kError, QStringLiteral("vtsgate: no VTSCFG.MDB"), true),
              QByteArray("<3>vtsgate: no VTSCFG.MDB"));
    EXPECT_EQ(journal::line(journal::kWarning, QStringLiteral("port 2 left alone"), true),
              QByteArray("<4>port 2 left alone"));
    EXPECT_EQ(journal::line(journal::kInfo, QStringLiteral("started"), false),
              QByteArray("started"));
}

class JournalFileTest : public test::TempDirTest {};

// A stream written by write(): prefixed when JOURNAL_STREAM names it, plain
// when it names another file or is unset.
TEST_F(JournalFileTest, WriteLooksAtTheStreamItWritesTo) {
    const QString file = path(QStringLiteral("stream"));
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "JOURNAL_STREAM names the file" : "JOURNAL_STREAM unset");
        std::FILE* out = std::fopen(QFile::encodeName(file).constData(), "w");
        ASSERT_NE(out, nullptr);
        struct stat st {};
        ASSERT_EQ(::fstat(fileno(out), &st), 0);
        if (named) {
            qputenv("JOURNAL_STREAM", QByteArray::number(qulonglong(st.st_dev)) + ':' +
                                          QByteArray::number(qulonglong(st.st_ino)));
        } else {
            qunsetenv("JOURNAL_STREAM");
        }
        journal::write(out, journal::kWarning, QStringLiteral("calvex: port 1 left alone"));
        std::fclose(out);
        EXPECT_EQ(
            readFile(QStringLiteral("stream")),
            QByteArray(named ? "<4>calvex: port 1 left alone\n" : "calvex: port 1 left alone\n"));
    }
    qunsetenv("JOURNAL_STREAM");
}
