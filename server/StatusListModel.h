#pragma once

#include <QAbstractListModel>
#include <QStringList>

#include <functional>

namespace vts {

class EventLoop;

// The server's status list: time-stamped event lines, newest at the bottom,
// never more than kMaxLines. Lines are added only through AddStatus; each
// call adds exactly one line. An optional echo receives every added line as
// shown (the headless server writes it to standard output). Each line is
// also its own tooltip (a long line is cut by the list's edge), and
// FailureRole tells the lines of failures from the others.
class StatusListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 1001;
    // bool: the event text starts with "Error" or "Message failed".
    static constexpr int FailureRole = Qt::UserRole + 1;

    explicit StatusListModel(EventLoop& loop, QObject* parent = nullptr);

    // Appends "MM/DD/YYYY HH:NN:SS - text", dropping the oldest line first
    // when the list is full.
    void AddStatus(const QString& text);
    void clear();

    const QStringList& lines() const { return m_lines; }
    QString last() const { return m_lines.isEmpty() ? QString() : m_lines.last(); }
    // The event texts without their time stamps.
    QStringList texts() const;
    // Whether an event text (without its time stamp) reports a failure.
    static bool isFailure(const QString& text);
    void setEcho(std::function<void(const QString&)> echo) { m_echo = std::move(echo); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

signals:
    // Emitted after each added line (the view selects it).
    void lineAdded(int row);

private:
    EventLoop& m_loop;
    QStringList m_lines;
    std::function<void(const QString&)> m_echo;
};

}  // namespace vts
