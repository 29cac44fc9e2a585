// The check interval and the pager settings tables.
#include "ServerSettings.h"
#include "StatusListModel.h"
#include "VirtualEventLoop.h"

#include <gtest/gtest.h>

using namespace vts;

namespace {

TEST(ServerSettingsTest, CheckIntervalTable) {
    const std::pair<int, int> rows[] = {{-1, 5},  {0, 5},    {1, 60},   {2, 300},   {3, 600},
                                        {4, 900}, {5, 1800}, {6, 3600}, {7, 86400}, {8, 5}};
    for (const auto& [stored, seconds] : rows) {
        EXPECT_EQ(settings::checkIntervalSeconds(stored), seconds) << stored;
    }
}

TEST(ServerSettingsTest, PagerConversionTables) {
    struct Row {
        int retries, delay, speaker, timeout;
        PagerSettings want;
    };
    const Row rows[] = {
        {0, 0, 0, 0, {0, 5, 0, 0, 5, 1}},     {1, 1, 1, 1, {1, 1, 1, 1, 15, 1}},
        {10, 3, 2, 2, {10, 30, 1, 2, 30, 1}}, {11, 4, 3, 3, {0, 45, 1, 3, 60, 1}},
        {-1, 5, 7, 4, {0, 60, 1, 1, 120, 1}}, {5, 2, -1, 9, {5, 5, 1, 1, 60, 1}},
    };
    for (const Row& r : rows) {
        ServerSettings s;
        s.NumberOfRetries = r.retries;
        s.DelayBeforeRetries = r.delay;
        s.Speaker = r.speaker;
        s.TimeOut = r.timeout;
        const PagerSettings p = settings::pagerSettings(s);
        EXPECT_EQ(p.NumberOfRetries, r.want.NumberOfRetries) << r.retries;
        EXPECT_EQ(p.RetryDelay, r.want.RetryDelay) << r.delay;
        EXPECT_EQ(p.SpeakerState, r.want.SpeakerState) << r.speaker;
        EXPECT_EQ(p.VolumeLevel, r.want.VolumeLevel) << r.speaker;
        EXPECT_EQ(p.Timeout, r.want.Timeout) << r.timeout;
        EXPECT_EQ(p.DebugMode, 1);
    }
}

TEST(StatusListTest, HoldsAtMost1001LinesNewestLastWithTimeStamps) {
    VirtualEventLoop loop(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)));
    StatusListModel list(loop);
    QStringList echoed;
    list.setEcho([&](const QString& l) { echoed << l; });
    for (int i = 1; i <= 1003; ++i) {
        list.AddStatus(QString::number(i));
    }
    EXPECT_EQ(list.rowCount(), 1001);
    EXPECT_EQ(list.lines().first(), QStringLiteral("03/04/2026 05:06:07 - 3"));
    EXPECT_EQ(list.last(), QStringLiteral("03/04/2026 05:06:07 - 1003"));
    EXPECT_EQ(echoed.size(), 1003);
    list.clear();
    list.AddStatus(QStringLiteral("after"));
    EXPECT_EQ(list.texts(), QStringList{QStringLiteral("after")});
}

}  // namespace
