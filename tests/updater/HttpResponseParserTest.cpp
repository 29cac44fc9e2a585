#include "HttpResponseParser.h"

#include <gtest/gtest.h>

#include <QStringList>

using vts::HttpResponseParser;

namespace {

struct Outcome {
    bool done = false;
    bool failed = false;
    QByteArray body;
    QStringList events;
};

// Feeds `bytes` in pieces of `step` bytes (0: all at once), then closes
// when `close` is set.
Outcome run(const QByteArray& bytes, int step, bool close, HttpResponseParser::Limits limits = {}) {
    HttpResponseParser p(limits);
    Outcome o;
    p.onStatus = [&](int status, const QByteArray&) {
        o.events << QStringLiteral("status %1").arg(status);
        return status == 200;
    };
    p.onHeader = [&](const QByteArray& n, const QByteArray& v) {
        o.events << QString::fromLatin1(n + "=" + v);
    };
    p.onBodyStart = [&] { o.events << QStringLiteral("body"); };
    p.onBody = [&](const QByteArray& piece) { o.body += piece; };
    if (step <= 0) {
        p.feed(bytes);
    } else {
        for (qsizetype i = 0; i < bytes.size(); i += step) p.feed(bytes.mid(i, step));
    }
    if (close) p.finishInput();
    o.done = p.isDone();
    o.failed = p.isFailed();
    return o;
}

struct Case {
    const char* name;
    QByteArray input;
    bool close;
    bool done;
    QByteArray body;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ParserCases : public ::testing::TestWithParam<Case> {};

TEST_P(ParserCases, SameResultWhateverThePieceSize) {
    const Case& c = GetParam();
    for (int step : {0, 1, 3, 16384}) {
        SCOPED_TRACE(step);
        const Outcome o = run(c.input, step, c.close);
        EXPECT_EQ(o.done, c.done);
        EXPECT_EQ(o.failed, !c.done);
        if (c.done) {
            EXPECT_EQ(o.body, c.body);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Framing, ParserCases,
    ::testing::Values(
        Case{"Length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, true, "hello"},
        Case{"LengthIgnoresExtraBytes", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhello", false,
             true, "he"},
        Case{"LengthZero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, true, ""},
        Case{"BareLineFeeds", "HTTP/1.0 200 OK\nContent-Length: 3\n\nabc", false, true, "abc"},
        Case{"UntilClose", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nline 1\r\nline 2", true, true,
             "line 1\r\nline 2"},
        Case{"Chunked",
             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
             "5\r\nhello\r\n1;ext=1\r\n \r\n5\r\nworld\r\n0\r\nX-Trailer: 1\r\n\r\n",
             false, true, "hello world"},
        Case{"ChunkedWinsOverLength",
             "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n"
             "3\r\nabc\r\n0\r\n\r\n",
             false, true, "abc"},
        Case{"InterimResponseSkipped",
             "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false,
             true, "ok"},
        Case{"ShortBodyIsBroken", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc", true, false,
             ""},
        Case{"BrokenChunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", true,
             false, ""},
        Case{"NotFound", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!", true, false, ""},
        Case{"NoResponse", "", true, false, ""},
        Case{"NotHttp", "SSH-2.0-OpenSSH\r\n", true, false, ""},
        Case{"BadStatus", "HTTP/1.1 2x0 OK\r\n\r\n", true, false, ""},
        Case{"BadLength", "HTTP/1.1 200 OK\r\nContent-Length: -4\r\n\r\nabcd", true, false, ""},
        Case{"ConflictingLengths",
             "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 5\r\n\r\nabcd", true, false,
             ""},
        Case{"HeaderWithoutColon", "HTTP/1.1 200 OK\r\nnonsense\r\n\r\n", true, false, ""},
        Case{"BadChunkSize", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", true,
             false, ""}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

TEST(HttpResponseParser, ReportsStatusHeadersThenBodyInOrder) {
    const Outcome o = run("HTTP/1.0 200 OK\r\nContent-Length: 2\r\nX-A:  b c \r\n\r\nhi", 0, false);
    EXPECT_EQ(o.events, (QStringList{"status 200", "Content-Length=2", "X-A=b c", "body"}));
}

TEST(HttpResponseParser, RefusedStatusStopsBeforeHeaders) {
    const Outcome o = run("HTTP/1.1 500 Oops\r\nContent-Length: 2\r\n\r\nhi", 0, true);
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.events, QStringList{"status 500"});
}

TEST(HttpResponseParser, EnforcesItsLimits) {
    HttpResponseParser::Limits small;
    small.maxLineBytes = 64;
    small.maxHeaderBytes = 128;
    small.maxBodyBytes = 10;
    // An overlong line fails even before its end arrives.
    EXPECT_TRUE(run("HTTP/1.1 200 OK\r\nX: " + QByteArray(100, 'a'), 0, false, small).failed);
    QByteArray manyHeaders = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 10; ++i) manyHeaders += "X-Header: 0123456789\r\n";
    EXPECT_TRUE(run(manyHeaders + "\r\n", 0, true, small).failed);
    // A declared length over the limit fails at once; so does an endless body.
    EXPECT_TRUE(run("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n", 0, false, small).failed);
    EXPECT_TRUE(run("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(11, 'x'), 0, false, small).failed);
    EXPECT_TRUE(run("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(10, 'x'), 0, true, small).done);
}

}  // namespace
