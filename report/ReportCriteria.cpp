#include "ReportCriteria.h"

#include "Conversions.h"

namespace vts::report {

namespace {

QString quoted(QString text) {
    text.replace(QLatin1Char('\''), QStringLiteral("''"));
    return text;
}

void appendCriterion(QString& formula, const QString& part) {
    if (!formula.isEmpty()) {
        formula += QStringLiteral(" AND ");
    }
    formula += part;
}

void appendDescription(QString& description, const QString& part) {
    if (!description.isEmpty()) {
        description += QStringLiteral(", ");
    }
    description += part;
}

QString dateCall(const QDate& d) {
    return QStringLiteral("Date(%1,%2,%3)").arg(d.year()).arg(d.month()).arg(d.day());
}

}  // namespace

Selection buildSelection(const Criteria& c) {
    Selection s;
    if (c.selectDate) {
        s.formula = QStringLiteral("{tblLog.SentTime}>=") + dateCall(c.from) +
                    QStringLiteral(" AND {tblLog.SentTime}<=") + dateCall(c.to);
        s.description = QStringLiteral("From ") + criteriaDateText(c.from) +
                        QStringLiteral(" to ") + criteriaDateText(c.to);
    }
    if (c.statusIndex > 0) {
        appendCriterion(s.formula,
                        QStringLiteral("{tblLog.Status}=") + QString::number(c.statusIndex));
        appendDescription(s.description, c.statusText);
    }
    const QString sender = conv::trim(c.sender);
    if (!sender.isEmpty()) {
        appendCriterion(s.formula, QStringLiteral("{tblLog.Sender} LIKE '") + quoted(sender) +
                                       QStringLiteral("*'"));
        appendDescription(s.description, c.sender);
    }
    const QString department = conv::trim(c.department);
    if (!department.isEmpty()) {
        appendCriterion(s.formula, QStringLiteral("{tblLog.Department} LIKE '") +
                                       quoted(department) + QStringLiteral("*'"));
        appendDescription(s.description, c.department);
    }
    return s;
}

QString criteriaDateText(const QDate& d) { return d.toString(kCriteriaDateFormat); }

QStringList reportTypes() {
    return {QStringLiteral("Normal"), QStringLiteral("Full Text"), QStringLiteral("Summary")};
}

std::optional<QString> layoutFileForType(int index) {
    static const QStringList files = {QStringLiteral("svrrpt1.rpt"), QStringLiteral("svrrpt2.rpt"),
                                      QStringLiteral("svrrpt3.rpt")};
    if (index < 0 || index >= files.size()) {
        return std::nullopt;
    }
    return files[index];
}

QStringList sortEntries() {
    QStringList out;
    for (int i = 0; auto c = sortChoice(i); ++i) {
        out << c->entry;
    }
    return out;
}

std::optional<SortChoice> sortChoice(int index) {
    static const SortChoice choices[] = {
        {QStringLiteral("Sort By Date"), QStringLiteral("Vantrel Message Log By Date"),
         QStringLiteral("+{tblLog.SentTime}")},
        {QStringLiteral("Sort By Sender"), QStringLiteral("Vantrel Message Log By Sender"),
         QStringLiteral("+{tblLog.Sender}")},
        {QStringLiteral("Sort By Recipient"), QStringLiteral("Vantrel Message Log By Recipient"),
         QStringLiteral("+{tblLog.Recipient}")},
        {QStringLiteral("Sort By TAP Number"),
         QStringLiteral("Vantrel Message Log By TAP Phone Number"),
         QStringLiteral("+{tblLog.TAPPhoneNumber}")},
        {QStringLiteral("Sort By Department"), QStringLiteral("Vantrel Message Log By Department"),
         QStringLiteral("+{tblLog.Department}")},
    };
    if (index < 0 || index >= static_cast<int>(std::size(choices))) {
        return std::nullopt;
    }
    return choices[index];
}

QStringList statusEntries() {
    return {QStringLiteral("All Messages"), QStringLiteral("Successful Messages"),
            QStringLiteral("Failed Messages"), QStringLiteral("Cancelled Messages")};
}

}  // namespace vts::report
