#include "ReportCriteria.h"

#include <gtest/gtest.h>

using namespace vts::report;

namespace {

struct SelectionCase {
    const char* name;
    Criteria criteria;
    const char* formula;
    const char* description;
};

Criteria july1998() {
    Criteria c;
    c.selectDate = true;
    c.from = QDate(1998, 7, 1);
    c.to = QDate(1998, 7, 31);
    return c;
}

Criteria with(Criteria c, int status, const char* sender = "", const char* department = "") {
    c.statusIndex = status;
    c.statusText = statusEntries().value(status);
    c.sender = QString::fromUtf8(sender);
    c.department = QString::fromUtf8(department);
    return c;
}

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class SelectionTest : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionTest, BuildsFormulaAndDescription) {
    const auto& p = GetParam();
    const Selection s = buildSelection(p.criteria);
    EXPECT_EQ(s.formula.toStdString(), p.formula);
    EXPECT_EQ(s.description.toStdString(), p.description);
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, SelectionTest,
    ::testing::Values(
        SelectionCase{"NoCriteria", Criteria{}, "", ""},
        SelectionCase{
            "July1998FailedSmi", with(july1998(), 2, "SMI"),
            "{tblLog.SentTime}>=Date(1998,7,1) AND {tblLog.SentTime}<=Date(1998,7,31) AND "
            "{tblLog.Status}=2 AND {tblLog.Sender} LIKE 'SMI*'",
            "From 7/1/1998 to 7/31/1998, Failed Messages, SMI"},
        SelectionCase{"SenderOnly", with(Criteria{}, 0, "SMI"), "{tblLog.Sender} LIKE 'SMI*'",
                      "SMI"},
        SelectionCase{
            "DateAndStatus", with(july1998(), 1),
            "{tblLog.SentTime}>=Date(1998,7,1) AND {tblLog.SentTime}<=Date(1998,7,31) AND "
            "{tblLog.Status}=1",
            "From 7/1/1998 to 7/31/1998, Successful Messages"},
        SelectionCase{"AllMessagesAddsNothing", with(july1998(), 0),
                      "{tblLog.SentTime}>=Date(1998,7,1) AND {tblLog.SentTime}<=Date(1998,7,31)",
                      "From 7/1/1998 to 7/31/1998"},
        SelectionCase{"SenderTrimmedInFormulaOnly", with(Criteria{}, 0, "  SMI "),
                      "{tblLog.Sender} LIKE 'SMI*'", "  SMI "},
        SelectionCase{"BlankSenderIsNoCriterion", with(Criteria{}, 3, "   "), "{tblLog.Status}=3",
                      "Cancelled Messages"},
        SelectionCase{"StatusAndDepartment", with(Criteria{}, 2, "", "SALES"),
                      "{tblLog.Status}=2 AND {tblLog.Department} LIKE 'SALES*'",
                      "Failed Messages, SALES"},
        SelectionCase{
            "Everything", with(july1998(), 3, "JO", " IT"),
            "{tblLog.SentTime}>=Date(1998,7,1) AND {tblLog.SentTime}<=Date(1998,7,31) AND "
            "{tblLog.Status}=3 AND {tblLog.Sender} LIKE 'JO*' AND {tblLog.Department} LIKE 'IT*'",
            "From 7/1/1998 to 7/31/1998, Cancelled Messages, JO,  IT"},
        SelectionCase{"ApostropheDoubledInFormula", with(Criteria{}, 0, "O'BRIEN"),
                      "{tblLog.Sender} LIKE 'O''BRIEN*'", "O'BRIEN"},
        SelectionCase{"DatesWithoutLeadingZerosAndNotCompared",
                      [] {
                          Criteria c;
                          c.selectDate = true;
                          c.from = QDate(2001, 12, 25);
                          c.to = QDate(2001, 1, 5);
                          return c;
                      }(),
                      "{tblLog.SentTime}>=Date(2001,12,25) AND {tblLog.SentTime}<=Date(2001,1,5)",
                      "From 12/25/2001 to 1/5/2001"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReportTables, LayoutFileBySelectedType) {
    EXPECT_EQ(reportTypes(), (QStringList{"Normal", "Full Text", "Summary"}));
    EXPECT_EQ(layoutFileForType(0).value(), QStringLiteral("svrrpt1.rpt"));
    EXPECT_EQ(layoutFileForType(1).value(), QStringLiteral("svrrpt2.rpt"));
    EXPECT_EQ(layoutFileForType(2).value(), QStringLiteral("svrrpt3.rpt"));
    EXPECT_FALSE(layoutFileForType(-1));
    EXPECT_FALSE(layoutFileForType(3));
}

TEST(ReportTables, SortChoicesGiveTitleAndField) {
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"Vantrel Message Log By Date", "+{tblLog.SentTime}"},
        {"Vantrel Message Log By Sender", "+{tblLog.Sender}"},
        {"Vantrel Message Log By Recipient", "+{tblLog.Recipient}"},
        {"Vantrel Message Log By TAP Phone Number", "+{tblLog.TAPPhoneNumber}"},
        {"Vantrel Message Log By Department", "+{tblLog.Department}"},
    };
    ASSERT_EQ(sortEntries().size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(sortChoice(i)->title.toStdString(), expected[i].first);
        EXPECT_EQ(sortChoice(i)->field.toStdString(), expected[i].second);
    }
    EXPECT_FALSE(sortChoice(-1));
    EXPECT_FALSE(sortChoice(5));
}

}  // namespace
