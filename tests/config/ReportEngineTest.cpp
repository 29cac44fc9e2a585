#include "Database.h"
#include "Dialogs.h"
#include "LogPickerSource.h"
#include "LogStore.h"
#include "PurgeLogic.h"
#include "ReportEngine.h"
#include "ReportLayout.h"
#include "ReportPdf.h"
#include "ReportTestSupport.h"
#include "ReportsPageLogic.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace vts::report;
using vts::Dialogs;
using vts::ScriptedDialogs;
using vts::test::reports::LogRow;

namespace {

class ReportRunTest : public vts::test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        installDefaultLayouts(dir());
    }

    // The page's state for a Save of the given type and sort.
    ReportsPageState state(int type = 0, int sort = 0) const {
        ReportsPageState s;
        s.reportTypeIndex = type;
        s.sortIndex = sort;
        return s;
    }

    ReportsPageLogic::Outcome save(const ReportsPageState& s, const QString& file) {
        engine.setPrintFileName(path(file));
        return logic.printClick(1, s);
    }

    std::vector<std::pair<QString, QString>> reportInfoRows() {
        auto database = vts::logstore::open(dir());
        auto rs = database->openQuery(
            QStringLiteral("SELECT ReportTitle, FilterTitle FROM tblReportInfo"));
        std::vector<std::pair<QString, QString>> rows;
        for (; !rs->eof(); rs->moveNext())
            rows.emplace_back(rs->text(QStringLiteral("ReportTitle")),
                              rs->text(QStringLiteral("FilterTitle")));
        return rows;
    }

    ScriptedDialogs dialogs;
    ReportEngine engine{QString()};
    ReportsPageLogic logic{engine, dialogs};
};

TEST_F(ReportRunTest, MissingLayoutStopsBeforeAnythingIsWritten) {
    vts::test::reports::createLog(dir(), {{1, "SMITH", "", "A", "1998-07-01 10:00:00", "", "hi"}});
    for (int type = 0; type < 3; ++type) {
        const QString name = *layoutFileForType(type);
        SCOPED_TRACE(name.toStdString());
        installDefaultLayouts(dir());
        ASSERT_TRUE(QFile::remove(path(name)));
        dialogs.clear();
        EXPECT_EQ(save(state(type), QStringLiteral("out.pdf")),
                  ReportsPageLogic::Outcome::MissingLayout);
        ASSERT_EQ(dialogs.shown().size(), 1u);
        EXPECT_EQ(dialogs.shown()[0].text,
                  QStringLiteral("A required report file is not present: ") + name);
        EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Error"));
        EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::Critical);
        EXPECT_TRUE(reportInfoRows().empty());
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("out.pdf"))));
    }
}

TEST_F(ReportRunTest, FirstReportAddsTheTitleRowLaterOnesEditIt) {
    vts::test::reports::createLog(dir(), {{2, "SMITH", "", "A", "1998-07-01 10:00:00", "", ""}});
    ASSERT_TRUE(reportInfoRows().empty());
    ReportsPageState s = state(0, 1);
    ASSERT_EQ(save(s, QStringLiteral("a.csv")), ReportsPageLogic::Outcome::Ran);
    auto rows = reportInfoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, QStringLiteral("Vantrel Message Log By Sender"));
    EXPECT_EQ(rows[0].second, QString());

    s = state(0, 3);
    s.criteria.statusIndex = 2;
    s.criteria.statusText = QStringLiteral("Failed Messages");
    s.criteria.sender = QStringLiteral(" SMI");
    ASSERT_EQ(save(s, QStringLiteral("b.csv")), ReportsPageLogic::Outcome::Ran);
    rows = reportInfoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, QStringLiteral("Vantrel Message Log By TAP Phone Number"));
    EXPECT_EQ(rows[0].second, QStringLiteral("Failed Messages,  SMI"));
    EXPECT_EQ(engine.selectionFormula(),
              QStringLiteral("{tblLog.Status}=2 AND {tblLog.Sender} LIKE 'SMI*'"));
    EXPECT_EQ(engine.sortField(0), QStringLiteral("+{tblLog.TAPPhoneNumber}"));
    EXPECT_EQ(engine.dataFile(0), QStringLiteral("VTSLog.MDB"));
    EXPECT_EQ(engine.destination(), ReportEngine::ToFile);
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(ReportRunTest, WindowSizeAndMissingSelectionsKeepEngineSettings) {
    vts::test::reports::createLog(dir());
    logic.setScreenSize(QSize(1280, 1024));
    ASSERT_EQ(save(state(2, 4), QStringLiteral("a.csv")), ReportsPageLogic::Outcome::Ran);
    EXPECT_EQ(engine.windowSize(), QSize(1100, 844));
    EXPECT_EQ(engine.windowTitle(), QStringLiteral("Vantrel Report"));
    // No type and no sort chosen: the engine keeps the earlier file and field,
    // and the title is empty.
    ASSERT_EQ(save(state(-1, -1), QStringLiteral("b.csv")), ReportsPageLogic::Outcome::Ran);
    EXPECT_EQ(engine.reportFileName(), QStringLiteral("svrrpt3.rpt"));
    EXPECT_EQ(engine.sortField(0), QStringLiteral("+{tblLog.Department}"));
    EXPECT_EQ(reportInfoRows().at(0).first, QString());
    // No report chosen in the list: nothing at all happens.
    ReportsPageState none = state();
    none.reportListIndex = -1;
    EXPECT_EQ(logic.printClick(1, none), ReportsPageLogic::Outcome::Nothing);
}

TEST_F(ReportRunTest, PdfHoldsTheSelectedRowsInSortOrder) {
    vts::test::reports::createLog(dir(),
                                  {
                                      {2, "WILSON", "IT", "R1", "1998-07-03 10:00:00", "5551", ""},
                                      {1, "ADAMS", "IT", "R2", "1998-07-02 10:00:00", "5552", ""},
                                      {2, "MILLER", "IT", "R3", "1998-07-01 10:00:00", "5553", ""},
                                      {2, "BAKER", "IT", "R4", "1998-08-01 00:00:00", "5554", ""},
                                      {2, "CARTER", "IT", "R5", "1998-07-31 23:59:59", "5555", ""},
                                  });
    ReportsPageState s = state(0, 1);
    auto& c = s.criteria;
    c.selectDate = true;
    c.from = QDate(1998, 7, 1);
    c.to = QDate(1998, 7, 31);
    c.statusIndex = 2;
    c.statusText = QStringLiteral("Failed Messages");
    ASSERT_EQ(save(s, QStringLiteral("report.pdf")), ReportsPageLogic::Outcome::Ran)
        << logic.lastError().toStdString();
    const QString text = vts::test::reports::pdfText(path(QStringLiteral("report.pdf")));
    ASSERT_FALSE(text.isEmpty());
    EXPECT_TRUE(text.contains(QStringLiteral("Vantrel Message Log By Sender")));
    EXPECT_TRUE(text.contains(QStringLiteral("From 7/1/1998 to 7/31/1998, Failed Messages")));
    EXPECT_TRUE(text.contains(QStringLiteral("Page 1")));
    const qsizetype carter = text.indexOf(QStringLiteral("CARTER"));
    const qsizetype miller = text.indexOf(QStringLiteral("MILLER"));
    const qsizetype wilson = text.indexOf(QStringLiteral("WILSON"));
    EXPECT_TRUE(carter > 0 && carter < miller && miller < wilson) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("ADAMS")));  // sent, not failed
    EXPECT_FALSE(text.contains(QStringLiteral("BAKER")));  // August
    EXPECT_TRUE(text.contains(QStringLiteral("07/31/1998 23:59:59")));
    EXPECT_TRUE(text.contains(QStringLiteral("3 messages")));
}

TEST_F(ReportRunTest, LongReportRunsOverPagesWithEveryRowOnce) {
    {
        vts::test::reports::createLog(dir());
        auto database = vts::logstore::open(dir());
        for (int i = 0; i < 130; ++i)
            vts::test::reports::addRow(
                *database,
                {1, QStringLiteral("S%1").arg(i % 7), "",
                 QStringLiteral("R%1").arg(i, 4, 10, QLatin1Char('0')),
                 QStringLiteral("1998-07-01 10:%1:00").arg(i % 60, 2, 10, QLatin1Char('0')), "",
                 ""});
    }
    ASSERT_EQ(save(state(0, 2), QStringLiteral("long.pdf")), ReportsPageLogic::Outcome::Ran);
    const QString text = vts::test::reports::pdfText(path(QStringLiteral("long.pdf")));
    EXPECT_TRUE(text.contains(QStringLiteral("Page 2")));
    EXPECT_TRUE(text.contains(QStringLiteral("Page 3")));
    const auto matches = QRegularExpression(QStringLiteral("R(\\d{4})")).globalMatch(text);
    QList<int> seen;
    for (auto it = matches; it.hasNext();) seen << it.next().captured(1).toInt();
    ASSERT_EQ(seen.size(), 130);
    for (int i = 0; i < 130; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_EQ(text.count(QStringLiteral("Vantrel Message Log By Recipient")),
              text.count(QStringLiteral("Page ")));
}

TEST_F(ReportRunTest, FullTextPrintsTheWholeMessage) {
    QString message;
    for (int i = 0; i < 60; ++i) message += QStringLiteral("word%1 ").arg(i);
    vts::test::reports::createLog(dir(), {{1, "SMITH", "", "A", "1998-07-01 10:00:00", "",
                                           message.trimmed() + "\r\nLAST LINE"}});
    ASSERT_EQ(save(state(1), QStringLiteral("full.pdf")), ReportsPageLogic::Outcome::Ran);
    const QString text = vts::test::reports::pdfText(path(QStringLiteral("full.pdf")));
    qsizetype at = 0;
    for (int i = 0; i < 60; ++i) {
        const qsizetype next = text.indexOf(QStringLiteral("word%1 ").arg(i).trimmed(), at);
        ASSERT_GE(next, at) << i;
        at = next;
    }
    EXPECT_GT(text.indexOf(QStringLiteral("LAST LINE")), at);
}

TEST_F(ReportRunTest, SummaryCountsByStatusAndSender) {
    vts::test::reports::createLog(dir(), {
                                             {1, "SMITH", "", "A", "1998-07-01 10:00:00", "", ""},
                                             {2, "smith", "", "A", "1998-07-02 10:00:00", "", ""},
                                             {2, "JONES", "", "A", "1998-07-03 10:00:00", "", ""},
                                             {0, "JONES", "", "A", "1998-07-04 10:00:00", "", ""},
                                             {3, "ADAMS", "", "A", "1998-09-01 10:00:00", "", ""},
                                         });
    ReportsPageState s = state(2);
    s.criteria.selectDate = true;
    s.criteria.from = QDate(1998, 7, 1);
    s.criteria.to = QDate(1998, 7, 31);
    ASSERT_EQ(save(s, QStringLiteral("sum.csv")), ReportsPageLogic::Outcome::Ran);
    EXPECT_EQ(readFile(QStringLiteral("sum.csv")), QByteArray("Group,Value,Count\r\n"
                                                              "Messages by Status,Pending,1\r\n"
                                                              "Messages by Status,Sent,1\r\n"
                                                              "Messages by Status,Failed,2\r\n"
                                                              "Messages by Status,Total,4\r\n"
                                                              "Messages by Sender,JONES,2\r\n"
                                                              "Messages by Sender,SMITH,2\r\n"
                                                              "Messages by Sender,Total,4\r\n"));
    ASSERT_EQ(save(s, QStringLiteral("sum.pdf")), ReportsPageLogic::Outcome::Ran);
    const QString text = vts::test::reports::pdfText(path(QStringLiteral("sum.pdf")));
    EXPECT_TRUE(text.contains(QStringLiteral("Messages by Sender")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("Total\\s+4")).match(text).hasMatch())
        << text.toStdString();
}

// Letter case is ignored over the whole of Unicode, the same way in the
// criteria, the summary, the pickers, the purge and a store's look-up.
TEST_F(ReportRunTest, LetterCaseIsIgnoredBeyondAsciiEverywhere) {
    vts::test::reports::createLog(dir(), {
                                             {1, "Ågren", "", "A", "1998-07-01 10:00:00", "", ""},
                                             {2, "ågren", "", "B", "1998-07-02 10:00:00", "", ""},
                                             {1, "Straße", "", "C", "1998-07-03 10:00:00", "", ""},
                                             {1, "STRASSE", "", "D", "1998-07-04 10:00:00", "", ""},
                                             {1, "Jones", "", "E", "1998-07-05 10:00:00", "", ""},
                                         });
    auto rows = [this](const QString& file) {
        return readFile(file).count('\n') - 1;  // less the heading
    };
    {
        SCOPED_TRACE("criteria");
        ReportsPageState s = state(0);
        s.criteria.sender = QStringLiteral("ÅGR");
        ASSERT_EQ(save(s, QStringLiteral("a.csv")), ReportsPageLogic::Outcome::Ran);
        EXPECT_EQ(rows(QStringLiteral("a.csv")), 2);
        s.criteria.sender = QStringLiteral("strasse");  // ß folds to ss
        ASSERT_EQ(save(s, QStringLiteral("b.csv")), ReportsPageLogic::Outcome::Ran);
        EXPECT_EQ(rows(QStringLiteral("b.csv")), 2);
        engine.setSelectionFormula(QStringLiteral("{tblLog.Sender} = 'ÅGREN'"));
        engine.setPrintFileName(path(QStringLiteral("c.csv")));
        engine.run();
        EXPECT_EQ(rows(QStringLiteral("c.csv")), 2);
    }
    {
        SCOPED_TRACE("summary");
        ASSERT_EQ(save(state(2), QStringLiteral("sum.csv")), ReportsPageLogic::Outcome::Ran);
        const QByteArray sum = readFile(QStringLiteral("sum.csv"));
        EXPECT_EQ(sum.count("Messages by Sender,"), 4) << sum.toStdString();  // 3 and the total
    }
    {
        SCOPED_TRACE("pickers");
        EXPECT_EQ(distinctLogValues(dir(), PickerField::Sender).size(), 3);
    }
    {
        SCOPED_TRACE("purge");
        ScriptedDialogs yes;
        yes.queueAnswer(Dialogs::Answer::Yes);
        PurgeLogic purge(dir(), yes);
        ASSERT_EQ(purge.purge({false, {}, {}, QStringLiteral("ÅGREN")}),
                  PurgeLogic::Outcome::Purged);
        EXPECT_EQ(purge.lastDeleted(), 2);
    }
    {
        SCOPED_TRACE("look-up");
        auto database = vts::logstore::open(dir());
        auto rs = database->openTable(QStringLiteral("tblLog"));
        EXPECT_TRUE(rs->findFirst(QStringLiteral("Sender"), QStringLiteral("straSSE")));
        EXPECT_FALSE(rs->findFirst(QStringLiteral("Sender"), QStringLiteral("Strass")));
        EXPECT_EQ(vts::db::foldCase(QStringLiteral("ÅGREN")),
                  vts::db::foldCase(QStringLiteral("ågren")));
    }
}

TEST_F(ReportRunTest, CsvQuotesWhatNeedsQuoting) {
    vts::test::reports::createLog(
        dir(), {{1, "SMITH, J", "IT", "Bo \"B\"", "1998-07-01 10:00:00", "555", "a\nb"}});
    ASSERT_EQ(save(state(1), QStringLiteral("out.CSV")), ReportsPageLogic::Outcome::Ran);
    EXPECT_EQ(
        readFile(QStringLiteral("out.CSV")).toStdString(),
        QByteArray("Sent,Status,Sender,Department,Recipient,TAP Number,Message Text\r\n"
                   "07/01/1998 10:00:00,Sent,\"SMITH, J\",IT,\"Bo \"\"B\"\"\",555,\"a\nb\"\r\n")
            .toStdString());
}

TEST_F(ReportRunTest, EngineAndStoreFaultsAreReported) {
    vts::test::reports::createLog(dir());
    engine.setPrintFileName(path(QStringLiteral("x.pdf")));
    engine.setReportFileName(QStringLiteral("SVRRPT1.RPT"));  // found whatever the case
    engine.setSelectionFormula(QStringLiteral("{tblLog.Status}=="));
    try {
        engine.run();
        FAIL() << "bad formula accepted";
    } catch (const FormulaError& e) {
        EXPECT_EQ(e.position(), 17);
    }
    // Through the page, the same fault is shown as an error message.
    writeFile(QStringLiteral("svrrpt1.rpt"), "not a layout\n");
    EXPECT_EQ(save(state(0), QStringLiteral("y.pdf")), ReportsPageLogic::Outcome::Failed);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(dialogs.shown()[0].text.contains(QStringLiteral("VantrelLayout 1")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("y.pdf"))));
}

// Records what a page draws, as text lines.
class TextCanvas final : public PageCanvas {
public:
    void setFont(Face, double) override {}
    void text(double, double, const QString& t) override { lines << t; }
    void line(double, double, double, double) override {}
    QStringList lines;
};

struct PagingCase {
    const char* name;
    const char* layout;  // file name
    const char* sort;    // "" for none
};

void PrintTo(const PagingCase& c, std::ostream* os) { *os << c.name; }

class ReportPagingTest : public ReportRunTest, public ::testing::WithParamInterface<PagingCase> {};

// A page turned to from its remembered start (found again by its row's place
// in the sort order) shows exactly what the page showed when the rows were
// read in one pass, for every sort, with equal and missing sort values, and
// with pages that start inside a message's text.
TEST_P(ReportPagingTest, EveryPageIsTheSameReachedInOrderOrDirectly) {
    QList<LogRow> rows;
    const char* senders[] = {"SMITH", "smith", "Ågren", "ÅGREN", "", "ADAMS", "jones"};
    // More rows than the window reads in one query, so it continues.
    for (int i = 0; i < 420; ++i) {
        const QString message =
            i % 9 == 0 ? QStringLiteral("word ").repeated(120) : QStringLiteral("short %1").arg(i);
        rows << LogRow{
            1 + i % 3,
            QString::fromUtf8(senders[i % 7]),
            QStringLiteral("D%1").arg(i % 4),
            QStringLiteral("R%1").arg(i % 5),
            QStringLiteral("1998-07-%1 10:00:00").arg(1 + i % 28, 2, 10, QLatin1Char('0')),
            QStringLiteral("555"),
            message};
    }
    vts::test::reports::createLog(dir(), rows);
    {
        // Some senders missing altogether (NULL), not only empty.
        auto database = vts::logstore::open(dir());
        database->execute(QStringLiteral("UPDATE tblLog SET Sender = NULL WHERE ID % 11 = 0"));
    }
    const PagingCase& p = GetParam();
    engine.setReportFileName(QString::fromLatin1(p.layout));
    engine.setSortField(0, QString::fromLatin1(p.sort));
    auto inOrder = engine.prepare();
    std::vector<PageStart> starts{PageStart{}};
    QList<QStringList> pages;
    for (int n = 1;; ++n) {
        TextCanvas c;
        const auto next = inOrder->renderPage(c, n, starts.back());
        pages << c.lines;
        if (!next) break;
        starts.push_back(*next);
    }
    ASSERT_GT(pages.size(), 3);
    if (const auto total = inOrder->pageCount()) {
        EXPECT_EQ(*total, pages.size());
    }
    // Backwards, each page from its start, on a fresh document.
    auto direct = engine.prepare();
    direct->setPrintedAt(inOrder->printedAt());
    for (int n = static_cast<int>(pages.size()); n >= 1; --n) {
        TextCanvas c;
        direct->renderPage(c, n, starts[size_t(n - 1)]);
        EXPECT_EQ(c.lines, pages[n - 1]) << "page " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sorts, ReportPagingTest,
    ::testing::Values(PagingCase{"NormalBySender", "svrrpt1.rpt", "+{tblLog.Sender}"},
                      PagingCase{"NormalBySenderDown", "svrrpt1.rpt", "-{tblLog.Sender}"},
                      PagingCase{"NormalByDate", "svrrpt1.rpt", "+{tblLog.SentTime}"},
                      PagingCase{"NormalUnsorted", "svrrpt1.rpt", ""},
                      PagingCase{"FullTextBySender", "svrrpt2.rpt", "+{tblLog.Sender}"},
                      PagingCase{"FullTextByRecipientDown", "svrrpt2.rpt", "-{tblLog.Recipient}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReportRunTest, NormalLayoutMarksCutValuesAndFootsPagesWithTimeAndCount) {
    QList<LogRow> rows;
    for (int i = 0; i < 60; ++i) {
        rows << LogRow{1,
                       QStringLiteral("SMITH"),
                       QStringLiteral("IT"),
                       QStringLiteral("A recipient whose name is far too long"),
                       QStringLiteral("1998-07-01 10:00:00"),
                       QStringLiteral("555"),
                       QStringLiteral("Short")};
    }
    rows[0].message = QStringLiteral("A message that is longer than the forty characters shown");
    vts::test::reports::createLog(dir(), rows);
    engine.setReportFileName(QStringLiteral("svrrpt1.rpt"));
    auto doc = engine.prepare();
    doc->setPrintedAt(QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9)));
    ASSERT_EQ(doc->pageCount(), std::optional<int>(2));
    TextCanvas first;
    ASSERT_TRUE(doc->renderPage(first, 1, PageStart{}));
    const QString page = first.lines.join(QLatin1Char('\n'));
    EXPECT_TRUE(page.contains(QStringLiteral("A recipient whose\u2026"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("A message that is longer than the forty\u2026")))
        << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("Short"))) << page.toStdString();
    EXPECT_TRUE(first.lines.contains(QStringLiteral("Printed 12/07/2026 14:05:09")));
    EXPECT_TRUE(first.lines.contains(QStringLiteral("Page 1 of 2")));

    // A full-text report does not know its length before it is drawn.
    engine.setReportFileName(QStringLiteral("svrrpt2.rpt"));
    auto full = engine.prepare();
    EXPECT_EQ(full->pageCount(), std::nullopt);
    TextCanvas f;
    full->renderPage(f, 1, PageStart{});
    EXPECT_TRUE(f.lines.contains(QStringLiteral("Page 1")));

    // The PDF file carries the same marks; its text is Windows-1252.
    engine.setReportFileName(QStringLiteral("svrrpt1.rpt"));
    ASSERT_EQ(save(state(0), QStringLiteral("cut.pdf")), ReportsPageLogic::Outcome::Ran);
    const QString text = vts::test::reports::pdfText(path(QStringLiteral("cut.pdf")));
    EXPECT_TRUE(text.contains(QStringLiteral("forty\u2026"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Page 2 of 2"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Printed "))) << text.toStdString();
}

TEST(ReportPdfText, WindowsCodePageWithQuestionMarksForTheRest) {
    EXPECT_EQ(toWindows1252(QStringLiteral("Ågren \u20AC5 \u2026 \u0142\u4E2D")),
              QByteArray("\xC5gren \x80"
                         "5 \x85 ??"));
}

TEST_F(ReportRunTest, NoLogIsAnErrorMessage) {
    EXPECT_EQ(save(state(0), QStringLiteral("y.pdf")), ReportsPageLogic::Outcome::Failed);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::Critical);
}

TEST(ReportLayoutFile, DefaultsParseAndFaultsNameTheirLine) {
    for (int i = 0; i < 3; ++i)
        EXPECT_NO_THROW(parseLayout(defaultLayoutText(*layoutFileForType(i))));
    EXPECT_EQ(parseLayout(defaultLayoutText("svrrpt3.rpt")).style, ReportLayout::Style::Summary);
    EXPECT_TRUE(parseLayout(defaultLayoutText("svrrpt2.rpt")).fullMessage);

    const std::vector<std::pair<const char*, int>> bad = {
        {"style: normal\n", 1},
        {"VantrelLayout 1\nstyle: fancy\n", 2},
        {"VantrelLayout 1\nstyle: normal\ncolumn: Sender, Sender\n", 3},
        {"VantrelLayout 1\nstyle: normal\n\ncolumn: Nope, X, 10\n", 4},
        {"VantrelLayout 1\nstyle: normal\ncolumn: Sender, X, 0\n", 3},
        {"VantrelLayout 1\nstyle: normal\ncolumn: Sender, X, 300\n", 3},
        {"VantrelLayout 1\nstyle: normal\ncolour: red\n", 3},
        {"VantrelLayout 1\nstyle: normal\nfontsize: 99\n", 3},
        {"VantrelLayout 1\nstyle: normal\n", 0},   // no columns
        {"VantrelLayout 1\nstyle: summary\n", 0},  // nothing counted
        {"VantrelLayout 1\ncolumn: Sender, X, 10\n", 0},
        {"", 0},
    };
    for (const auto& [text, line] : bad) {
        try {
            parseLayout(QString::fromUtf8(text));
            ADD_FAILURE() << "accepted: " << text;
        } catch (const LayoutError& e) {
            EXPECT_EQ(e.line(), line) << text << e.what();
        }
    }
}

class LayoutInstallTest : public vts::test::TempDirTest {};

TEST_F(LayoutInstallTest, InstallsTheThreeAndKeepsExistingOnes) {
    writeFile(QStringLiteral("SVRRPT2.RPT"), "mine");
    EXPECT_EQ(installDefaultLayouts(dir()), (QStringList{"svrrpt1.rpt", "svrrpt3.rpt"}));
    EXPECT_EQ(readFile(QStringLiteral("SVRRPT2.RPT")), QByteArray("mine"));
    EXPECT_NO_THROW(loadLayout(path(QStringLiteral("svrrpt1.rpt"))));
    EXPECT_TRUE(installDefaultLayouts(dir()).isEmpty());
    writeFile(QStringLiteral("big.rpt"), QByteArray(kMaxLayoutBytes + 1, '#'));
    EXPECT_THROW(loadLayout(path(QStringLiteral("big.rpt"))), LayoutError);
}

}  // namespace
