#pragma once

#include <Line.h>

#include <QByteArray>
#include <QList>

#include <functional>

namespace vts::test {

// A line whose far end is a function: every write is answered at once, and
// silence is an immediate time-out, so no test waits for a real deadline.
class ScriptedLine final : public LineDevice {
public:
    // Called with every write; returns what the terminal sends back.
    std::function<QByteArray(const QByteArray&)> respond;
    QList<QByteArray> written;

    bool write(const QByteArray& bytes) override {
        written << bytes;
        m_pending += respond ? respond(bytes) : QByteArray();
        return true;
    }
    LineWait read(QByteArray& out, Deadline) override {
        if (m_pending.isEmpty()) {
            return LineWait::Timeout;
        }
        out += m_pending;
        m_pending.clear();
        return LineWait::Data;
    }
    bool pulseDtr(int) override { return false; }
    int count(const QByteArray& bytes) const { return static_cast<int>(written.count(bytes)); }

private:
    QByteArray m_pending;
};

}  // namespace vts::test
