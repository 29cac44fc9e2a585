#include "Database.h"
#include "LogStore.h"
#include "ReportTestSupport.h"
#include "SelectionFormula.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace vts::report;
using vts::test::reports::LogRow;

namespace {

class FormulaSelectTest : public vts::test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        vts::test::reports::createLog(
            dir(), {
                       {1, "SMITH", "SALES", "A", "1998-06-30 23:59:59", "555", ""},     // 1
                       {2, "SMITHERS", "SALES", "B", "1998-07-01 00:00:00", "555", ""},  // 2
                       {2, "smile", "IT", "C", "1998-07-31 23:59:59", "556", ""},        // 3
                       {2, "JONES", "IT", "D", "1998-08-01 00:00:00", "557", ""},        // 4
                       {3, "O'BRIEN", "IT", "E", "1998-07-15 12:00:00", "558", ""},      // 5
                       {1, "50%OFF", "", "F", "1998-07-16 08:00:00", "559", ""},         // 6
                       {1, "50XOFF", "", "G", "1998-07-16 09:00:00", "559", ""},         // 7
                   });
    }

    QList<qint64> select(const QString& formula) {
        const SqlFilter f = parseSelectionFormula(formula);
        auto database = vts::logstore::open(dir());
        QString sql = QStringLiteral("SELECT ID FROM tblLog");
        if (!f.where.isEmpty()) sql += QStringLiteral(" WHERE ") + f.where;
        auto rs = database->openQuery(sql + QStringLiteral(" ORDER BY ID"), f.params);
        QList<qint64> ids;
        for (; !rs->eof(); rs->moveNext()) ids << rs->value(QStringLiteral("ID")).toLongLong();
        return ids;
    }
};

TEST_F(FormulaSelectTest, SelectsTheRowsTheFormulaNames) {
    const std::vector<std::pair<const char*, QList<qint64>>> cases = {
        {"", {1, 2, 3, 4, 5, 6, 7}},
        {"   ", {1, 2, 3, 4, 5, 6, 7}},
        // A date range takes the whole of both days.
        {"{tblLog.SentTime}>=Date(1998,7,1) AND {tblLog.SentTime}<=Date(1998,7,31)",
         {2, 3, 5, 6, 7}},
        {"{tblLog.SentTime}>=Date(1998,7,1) AND {tblLog.SentTime}<=Date(1998,7,31) AND "
         "{tblLog.Status}=2 AND {tblLog.Sender} LIKE 'SMI*'",
         {2, 3}},
        {"{tblLog.SentTime}=Date(1998,7,15)", {5}},
        {"{tblLog.SentTime}<Date(1998,7,1)", {1}},
        {"{tblLog.SentTime}>Date(1998,7,31)", {4}},
        {"{tblLog.SentTime}<>Date(1998,7,16)", {1, 2, 3, 4, 5}},
        {"{tblLog.Sender} LIKE 'smi*'", {1, 2, 3}},
        {"{tblLog.Sender} LIKE 'SMIT?'", {1}},
        {"{tblLog.Sender} LIKE 'O''BRIEN*'", {5}},
        {"{tblLog.Sender} LIKE '50%*'", {6}},
        {"{tblLog.Sender}='jones'", {4}},
        {"{tblLog.Status}=2 OR {tblLog.Status}=3", {2, 3, 4, 5}},
        {"NOT {tblLog.Status}=2", {1, 5, 6, 7}},
        {"{tblLog.Status}=1 AND ({tblLog.Sender} LIKE 'S*' OR {tblLog.Recipient}='G')", {1, 7}},
        {"not ({tblLog.Department} LIKE 'IT*') and {tblLog.Status} >= 1.5", {2}},
        {"{tblLog.ID} <= 2 or {tblLog.ID} > 6", {1, 2, 7}},
        {"2={tblLog.Status}", {2, 3, 4}},
        {"{TBLLOG.sender} like \"JON*\"", {4}},
    };
    for (const auto& [formula, expected] : cases)
        EXPECT_EQ(select(QString::fromUtf8(formula)), expected) << formula;
}

TEST_F(FormulaSelectTest, FormulaTextNeverReachesTheSql) {
    const SqlFilter f = parseSelectionFormula(
        QStringLiteral("{tblLog.Sender}='x'' OR 1=1; DROP TABLE tblLog; --'"));
    EXPECT_FALSE(f.where.contains(QStringLiteral("DROP")));
    EXPECT_EQ(f.params.size(), 1);
    EXPECT_TRUE(select(QStringLiteral("{tblLog.Sender}='x'' OR 1=1; --'")).isEmpty());
    EXPECT_EQ(vts::test::reports::logIds(dir()).size(), 7);
}

struct BadFormula {
    const char* formula;
    int position;
    const char* fragment;
};

TEST(FormulaParse, ReportsThePositionOfTheFault) {
    const std::vector<BadFormula> cases = {
        {"{tblLog.Status}=", 17, "expected a field"},
        {"{tblLog.Status}=2 AND", 22, "expected a field"},
        {"{tblLog.Nope}=2", 1, "no field Nope"},
        {"{tblOther.Status}=2", 1, "not a field of tblLog"},
        {"{tblLog.Status=2", 1, "without '}'"},
        {"{tblLog.Sender} LIKE 'SMI", 22, "closing quote"},
        {"{tblLog.Sender} LIKE SMI", 22, "quoted pattern"},
        {"({tblLog.Status}=2", 19, "expected ')'"},
        {"{tblLog.Status}=2)", 18, "unexpected ')'"},
        {"{tblLog.SentTime}>=Date(1998,2,30)", 20, "not a valid date"},
        {"{tblLog.SentTime}>=Date(1998,7)", 31, "expected ','"},
        {"{tblLog.Status}=2 & {tblLog.Status}=3", 19, "unexpected character"},
        {"{tblLog.Status}", 16, "expected a comparison"},
        {"1=2", 1, "needs a field"},
        {"Foo({tblLog.Status})", 1, "unknown name Foo"},
    };
    for (const auto& c : cases) {
        try {
            parseSelectionFormula(QString::fromUtf8(c.formula));
            ADD_FAILURE() << "accepted: " << c.formula;
        } catch (const FormulaError& e) {
            EXPECT_EQ(e.position(), c.position) << c.formula << ": " << e.what();
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.fragment)))
                << c.formula << ": " << e.what();
            EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(
                QStringLiteral("Formula error at position ")));
        }
    }
}

TEST(FormulaParse, DeepNestingAndHugeInputAreRefusedNotCrashed) {
    EXPECT_THROW(parseSelectionFormula(QString(5000, QLatin1Char('('))), FormulaError);
    EXPECT_THROW(parseSelectionFormula(QString(kMaxFormulaLength + 1, QLatin1Char(' '))),
                 FormulaError);
    QString notChain;
    for (int i = 0; i < 5000; ++i) notChain += QStringLiteral("NOT ");
    EXPECT_THROW(parseSelectionFormula(notChain + QStringLiteral("{tblLog.Status}=1")),
                 FormulaError);
}

TEST(FormulaParse, NumbersTooLargeForAnIntegerAreAParseError) {
    struct Case {
        const char* formula;
        bool ok;
    };
    const Case cases[] = {
        {"{tblLog.ID} > 99999999999999999999", false},
        {"{tblLog.ID} > 9223372036854775808", false},
        {"{tblLog.ID} > 9223372036854775807", true},
        {"{tblLog.ID} > 99999999999999999999.5", true},  // a decimal stays a decimal
        {"{tblLog.ID} = 1.0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formula);
        const QString f = QString::fromLatin1(c.formula);
        if (c.ok) {
            EXPECT_NO_THROW(parseSelectionFormula(f));
            continue;
        }
        try {
            parseSelectionFormula(f);
            ADD_FAILURE() << "no error";
        } catch (const FormulaError& e) {
            EXPECT_EQ(e.position(), 15);
            EXPECT_TRUE(e.message().contains(QStringLiteral("too large"))) << e.what();
        }
    }
}

TEST_F(FormulaSelectTest, WholeNumbersCompareAsBefore) {
    EXPECT_EQ(select(QStringLiteral("{tblLog.ID} > 9223372036854775807")), QList<qint64>{});
    EXPECT_EQ(select(QStringLiteral("{tblLog.ID} = 2.0")), QList<qint64>{2});
    EXPECT_EQ(select(QStringLiteral("{tblLog.ID} > 6.5")), QList<qint64>{7});
}

TEST(SortField, TurnsIntoAnOrderTerm) {
    EXPECT_EQ(parseSortField(QStringLiteral("+{tblLog.SentTime}")), QStringLiteral("SentTime ASC"));
    EXPECT_EQ(parseSortField(QStringLiteral("+{tblLog.Sender}")),
              QStringLiteral("Sender COLLATE VTS_NOCASE ASC"));
    EXPECT_EQ(parseSortField(QStringLiteral("-{tblLog.tapphonenumber}")),
              QStringLiteral("TAPPhoneNumber COLLATE VTS_NOCASE DESC"));
    EXPECT_THROW(parseSortField(QStringLiteral("+{tblLog.Sender; DROP}")), FormulaError);
    EXPECT_THROW(parseSortField(QStringLiteral("Sender")), FormulaError);
}

}  // namespace
