// How the pager control's costs grow with the number of occupied queue
// slots, from 100 to 800. Each family is printed at the end as ratios to its
// own 100-slot figure measured in the same run.

#include "Dialogs.h"
#include "Launcher.h"
#include "PagerOCX.h"
#include "PortRecord.h"
#include "RecordingLauncher.h"
#include "ScriptedDialogs.h"
#include "SendQueue.h"
#include "VirtualEventLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

using namespace vts;

namespace {

QDateTime base() { return QDateTime(QDate(2026, 1, 5), QTime(9, 0, 0)); }

// N occupied slots, all waiting, each for its own number, oldest last.
void fillQueue(SendQueue& q, int n) {
    for (int i = 1; i <= n; ++i) {
        QueueSlot& s = q.at(i);
        s.PhoneNumber = QStringLiteral("555%1").arg(i, 4, 10, QLatin1Char('0'));
        s.Message = QStringLiteral("message %1").arg(i);
        s.SubmitTime = base().addSecs(SendQueue::kSlots - i);
    }
}

// One dispatch scan's work on the queue: pick the oldest eligible slot and
// gather its batch.
void BM_DispatchScan(benchmark::State& state) {
    SendQueue q;
    fillQueue(q, static_cast<int>(state.range(0)));
    const QDateTime now = base().addSecs(3600);
    for (auto _ : state) {
        const int picked = q.pickOldestEligible(now, 60);
        auto batch = q.gatherBatch(q.at(picked).PhoneNumber, now, 60);
        benchmark::DoNotOptimize(batch);
    }
}

// The queue's part of a submission: find the lowest free slot and fill it.
void BM_QueueSubmission(benchmark::State& state) {
    SendQueue q;
    const int n = static_cast<int>(state.range(0));
    fillQueue(q, n - 1);
    QueueSlot page;
    page.PhoneNumber = QStringLiteral("5550000");
    page.Message = QStringLiteral("hello");
    for (auto _ : state) {
        const int slot = q.findFree();
        q.at(slot) = page;
        benchmark::DoNotOptimize(q.count());
        q.release(slot);
    }
}

struct ControlRig {
    QTemporaryDir work;
    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    RecordingLauncher launcher;
    std::unique_ptr<PagerOCX> pager;

    explicit ControlRig(int ports) {
        QDir(work.path()).mkpath(QStringLiteral("system"));
        QFile dialer(work.filePath(QStringLiteral("system/calvex")));
        dialer.open(QIODevice::WriteOnly);
        qputenv("VANTREL_SYSTEM_DIR", work.filePath(QStringLiteral("system")).toLocal8Bit());
        pager = std::make_unique<PagerOCX>(loop, dialogs, launcher, work.path());
        pager->InitProperties();
        pager->setGroupTimeWindow(0);
        pager->setDialingDelay(0);
        for (int p = 1; p <= ports; ++p) pager->AddComPort(static_cast<std::int16_t>(p));
    }
    void send(int i) {
        pager->SendMessage(QStringLiteral("message"), QStringLiteral("555%1").arg(i),
                           QStringLiteral("1234"), 80, QString::number(i));
    }
};

// Whole SendMessage calls (dialer look-up, checks, slot search): the last
// kBlock submissions that bring the queue to N occupied slots, per call.
void BM_SendMessage(benchmark::State& state) {
    constexpr int kBlock = 20;
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        ControlRig rig(1);
        for (int i = 1; i <= n - kBlock; ++i) rig.send(i);
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = n - kBlock + 1; i <= n; ++i) rig.send(i);
        const auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count() / kBlock);
    }
}

// One tick of the dispatch timer with N waiting messages and all eight
// ports busy: eight headers read twice, the queue scanned once.
void BM_TickAllPortsBusy(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    ControlRig rig(8);
    rig.launcher.onStart = [](const Launcher::Request&) {
        return std::make_shared<RecordingLauncher::Handle>();  // never finishes
    };
    for (int i = 1; i <= n + 8; ++i) rig.send(i);
    rig.loop.advance(1.01);  // the first tick hands one message to each port
    for (auto _ : state) rig.loop.advance(1.0);
}

const std::vector<int64_t> kOccupancy = {100, 200, 400, 800};

BENCHMARK(BM_DispatchScan)->ArgsProduct({kOccupancy});
BENCHMARK(BM_QueueSubmission)->ArgsProduct({kOccupancy});
BENCHMARK(BM_SendMessage)->ArgsProduct({kOccupancy})->UseManualTime()->Iterations(300);
BENCHMARK(BM_TickAllPortsBusy)->ArgsProduct({kOccupancy});

// Prints the usual table, then each family as ratios to its 100-slot run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const std::string name = r.benchmark_name();
            const auto slash = name.find('/');
            const std::string family = name.substr(0, slash);
            const int n = std::stoi(name.substr(slash + 1));
            // CPU time, which other work on a shared machine disturbs less;
            // a manually timed run has only its measured wall time.
            const bool manual = name.find("manual_time") != std::string::npos;
            m_times[family][n] = manual ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nCost relative to 100 occupied slots (same run):\n");
        for (const auto& [family, byN] : m_times) {
            const auto baseline = byN.find(100);
            if (baseline == byN.end() || baseline->second <= 0) continue;
            std::printf("  %-22s", family.c_str());
            for (const auto& [n, t] : byN) std::printf("  %3d: %5.2fx", n, t / baseline->second);
            std::printf("\n");
        }
    }

private:
    std::map<std::string, std::map<int, double>> m_times;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
