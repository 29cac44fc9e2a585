#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>

// One simulated endpoint's side of one connection: bytes in, bytes out,
// times passed in (seconds on any steady clock). The loop in Simulator
// owns the socket or pseudo-terminal and asks the session what to do.
namespace vts::sim {

// Called for every accepted page ("page") and every finished call ("call").
using Sink = std::function<void(const QString& kind, QJsonObject record)>;

class Session {
public:
    virtual ~Session() = default;
    virtual void receive(const QByteArray& bytes, double now) = 0;
    virtual void tick(double now) = 0;
    virtual double nextDeadline() const = 0;
    virtual QByteArray takeOutput() = 0;
    // The session wants the connection closed once its output is out
    // (at once, without the output, when dropNow()).
    virtual bool wantsClose() const = 0;
    virtual bool dropNow() const { return false; }
    // The connection is gone (either side); the session records the call.
    virtual void closed(double now) = 0;
};

// Now as the records show it.
QString recordTime();

}  // namespace vts::sim
