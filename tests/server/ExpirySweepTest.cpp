// The expiry sweep: the files it deletes are exactly those a full listing
// with an age check per file would delete, with a kernel watch and without
// one, while a check where nothing changed reads no file's time.
#include "ExpirySweep.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vts;

namespace {

constexpr qint64 kDay = 86400;

struct Mode {
    const char* name;
    bool watches;
};

void PrintTo(const Mode& m, std::ostream* os) { *os << m.name; }

class ExpirySweepTest : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.isValid());
        for (const char* sub : {"PENDING", "SENT", "FAILED"}) {
            QDir(m_tmp.path()).mkpath(QString::fromLatin1(sub));
            m_folders << m_tmp.filePath(QString::fromLatin1(sub));
        }
        m_sweep.setUseWatches(GetParam().watches);
        m_now = QDateTime::currentDateTime();
    }

    QString file(const QString& rel) const { return m_tmp.filePath(rel); }

    // Writes a file whose modification time is `ageSeconds` before now.
    void put(const QString& rel, qint64 ageSeconds) {
        QFile f(file(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.close();
        age(rel, ageSeconds);
    }
    void age(const QString& rel, qint64 ageSeconds) {
        QFile f(file(rel));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(m_now.addSecs(-ageSeconds), QFileDevice::FileModificationTime));
    }

    // What a full listing with an age check per file deletes.
    QStringList expectedLeft(double limitDays) const {
        QStringList left;
        for (const QString& folder : m_folders) {
            const QDir d(folder);
            for (const QFileInfo& fi :
                 d.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
                const bool queueFile =
                    fi.fileName().endsWith(QLatin1String(".pmf"), Qt::CaseInsensitive);
                const double ageDays = fi.lastModified().msecsTo(m_now) / 1000.0 / 86400.0;
                if (!queueFile || !(ageDays > limitDays)) {
                    left << d.dirName() + QLatin1Char('/') + fi.fileName();
                }
            }
        }
        left.sort();
        return left;
    }
    QStringList left() const {
        QStringList out;
        for (const QString& folder : m_folders) {
            const QDir d(folder);
            for (const QString& n :
                 d.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
                out << d.dirName() + QLatin1Char('/') + n;
            }
        }
        out.sort();
        return out;
    }
    void sweepAndCompare(double limitDays) {
        const QStringList expected = expectedLeft(limitDays);
        m_sweep.run(m_folders, limitDays, m_now);
        EXPECT_EQ(left(), expected);
    }

    QTemporaryDir m_tmp;
    QStringList m_folders;
    QStringList m_lines;
    ExpirySweep m_sweep{[this](const QString& s) { m_lines << s; }};
    QDateTime m_now;
};

TEST_P(ExpirySweepTest, DeletesExactlyWhatAFullListingWouldThroughAllKindsOfChange) {
    put(QStringLiteral("SENT/AOLD.PMF"), 3 * kDay);
    put(QStringLiteral("SENT/aold2.pmf"), 2 * kDay + 1);
    put(QStringLiteral("SENT/ANEW.PMF"), kDay);
    put(QStringLiteral("SENT/AOLD.TXT"), 9 * kDay);  // not a queue file
    put(QStringLiteral("FAILED/AF.PMF"), 5 * kDay);
    put(QStringLiteral("PENDING/AP.PMF"), 2 * kDay - 1);
    QDir(file(QStringLiteral("SENT"))).mkdir(QStringLiteral("ADIR.PMF"));
    sweepAndCompare(2);

    // Nothing changed: the same result, and no file's time is read.
    sweepAndCompare(2);
    EXPECT_EQ(m_sweep.lastStats().timesRead, 0);

    // Time passes; a new file arrives, one is removed by someone else, one
    // is moved from PENDING to SENT as the server does.
    m_now = m_now.addSecs(kDay / 2);
    put(QStringLiteral("PENDING/AX.PMF"), 3 * kDay);
    QFile::remove(file(QStringLiteral("SENT/ANEW.PMF")));
    QFile::rename(file(QStringLiteral("PENDING/AP.PMF")), file(QStringLiteral("SENT/AP.PMF")));
    sweepAndCompare(2);

    // A changed limit takes effect at once; 0 deletes every file in the past.
    put(QStringLiteral("FAILED/AY.PMF"), kDay);
    sweepAndCompare(5);
    sweepAndCompare(0.5);
    put(QStringLiteral("FAILED/AZ.PMF"), 1);
    sweepAndCompare(0);
}

TEST_P(ExpirySweepTest, AFileMadeNewerInPlaceIsNotDeletedEarly) {
    put(QStringLiteral("SENT/A1.PMF"), 3 * kDay);
    put(QStringLiteral("SENT/A2.PMF"), kDay);
    sweepAndCompare(10);
    age(QStringLiteral("SENT/A1.PMF"), kDay);  // touched: one day old now
    m_now = m_now.addSecs(kDay + 60);
    sweepAndCompare(2.5);
    EXPECT_EQ(left(), (QStringList{QStringLiteral("SENT/A1.PMF"), QStringLiteral("SENT/A2.PMF")}));
}

TEST_P(ExpirySweepTest, MissingOrReplacedFolderIsSkippedThenReadAgain) {
    put(QStringLiteral("SENT/A1.PMF"), 3 * kDay);
    ASSERT_TRUE(QDir(file(QStringLiteral("FAILED"))).removeRecursively());
    sweepAndCompare(2);  // FAILED missing: skipped

    put(QStringLiteral("SENT/A2.PMF"), 3 * kDay);
    ASSERT_TRUE(QDir(m_tmp.path()).rename(QStringLiteral("SENT"), QStringLiteral("OLDSENT")));
    QDir(m_tmp.path()).mkdir(QStringLiteral("SENT"));
    QDir(m_tmp.path()).mkdir(QStringLiteral("FAILED"));
    put(QStringLiteral("SENT/A3.PMF"), 3 * kDay);
    put(QStringLiteral("FAILED/A4.PMF"), 3 * kDay);
    sweepAndCompare(2);
    EXPECT_TRUE(QFile::exists(file(QStringLiteral("OLDSENT/A2.PMF"))));
}

TEST_P(ExpirySweepTest, EmptyAndNegativeLimitsDeleteNothingWithOneLineForNegative) {
    put(QStringLiteral("SENT/A1.PMF"), 3 * kDay);
    m_sweep.run(m_folders, std::nullopt, m_now);
    m_sweep.run(m_folders, -1, m_now);
    m_sweep.run(m_folders, -1, m_now);
    EXPECT_EQ(left(), QStringList{QStringLiteral("SENT/A1.PMF")});
    ASSERT_EQ(m_lines.size(), 1);
    EXPECT_TRUE(m_lines[0].contains(QStringLiteral("negative")));
    // Cleared and back again: said again.
    m_sweep.run(m_folders, std::nullopt, m_now);
    m_sweep.run(m_folders, -2, m_now);
    EXPECT_EQ(m_lines.size(), 2);
    sweepAndCompare(2);
}

TEST_P(ExpirySweepTest, ACheckWithNothingDueCostsTheChangesNotTheFiles) {
    for (int i = 0; i < 2000; ++i) {
        put(QStringLiteral("SENT/A%1.PMF").arg(i), kDay);
    }
    m_sweep.run(m_folders, 30, m_now);
    EXPECT_EQ(m_sweep.lastStats().timesRead, 2000);
    m_sweep.run(m_folders, 30, m_now);
    EXPECT_EQ(m_sweep.lastStats().timesRead, 0);
    put(QStringLiteral("PENDING/ANEXT.PMF"), 0);
    m_sweep.run(m_folders, 30, m_now);
    EXPECT_EQ(m_sweep.lastStats().timesRead, 1);
    EXPECT_EQ(m_sweep.lastStats().watched, GetParam().watches);
}

INSTANTIATE_TEST_SUITE_P(Modes, ExpirySweepTest,
                         ::testing::Values(Mode{"KernelWatch", true},
                                           Mode{"FolderTimeOnly", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
