#include "Conversions.h"
#include "PagerFixture.h"

using namespace vts;
using namespace vts::test;

class SendMethodsTest : public PagerTest {
protected:
    // A timer that runs shows itself by a tick reading the port header.
    bool timerRuns() {
        const int before = static_cast<int>(launcher.requests.size());
        const int count = pager->QueueCount();
        ticks(1);
        return static_cast<int>(launcher.requests.size()) > before || pager->QueueCount() != count;
    }
};

TEST_F(SendMethodsTest, PortMethodsBuildTheListAndResetPortFiles) {
    makePager();
    pager->AddComPort(1);
    pager->AddComPort(2);
    EXPECT_EQ(pager->NumPorts(), 2);
    EXPECT_EQ(headerStatus(1), 0);
    EXPECT_EQ(headerStatus(2), 0);
    EXPECT_EQ(QFileInfo(path("mordax2.dat")).size(), PortRecord::kSize);

    pager->AddComPort(0);
    pager->AddComPort(10);
    EXPECT_EQ(dialogs.texts(),
              QStringList(2, "Error: AddComPort method can only accept a number between 1 and 9"));
    EXPECT_EQ(dialogs.shown()[0].title, "Mordax");
    EXPECT_EQ(dialogs.shown()[0].icon, Dialogs::Icon::Critical);
    EXPECT_EQ(pager->NumPorts(), 2);

    for (int i = 0; i < 7; ++i) pager->AddComPort(static_cast<std::int16_t>(3));
    EXPECT_EQ(pager->NumPorts(), 8);  // the ninth is ignored silently
    EXPECT_EQ(dialogs.shown().size(), 2u);
    EXPECT_FALSE(QFile::exists(path("mordax9.dat")));

    pager->ComPort(3);
    EXPECT_EQ(pager->NumPorts(), 1);
    EXPECT_EQ(pager->portAt(1), 3);
    pager->ComPort(0);
    EXPECT_EQ(dialogs.texts().last(),
              "Error: ComPort method can only accept a number between 1 and 9");
    EXPECT_EQ(pager->portAt(1), 3);

    pager->ClearComPorts();
    EXPECT_EQ(pager->NumPorts(), 0);
    EXPECT_TRUE(QFile::exists(path("mordax2.dat")));
}

TEST_F(SendMethodsTest, ComPortResetsPortOneOnlyForANewNumber) {
    makePager();
    pager->ComPort(4);
    writeRecordStatus(1, 1, 1);
    pager->ComPort(4);
    EXPECT_EQ(headerStatus(1), 1);
    pager->ComPort(5);
    EXPECT_EQ(headerStatus(1), 0);
}

TEST_F(SendMethodsTest, SendMessageAndSendAsciiCheckInOrderWithoutBoxes) {
    makePager();
    struct Case {
        const char* what;
        QString message, phone, pin;
        bool ports, dialer;
        int status;
    } const cases[] = {
        {"dialer missing comes first", "", "", "", false, false, 1},
        {"blank message", "   ", "", "", false, true, 2},
        {"blank phone", "hi", "  ", "", false, true, 3},
        {"blank pin", "hi", "555", " ", false, true, 4},
        {"no ports", "hi", "555", "12", false, true, 5},
        {"accepted", "hi", "555", "12", true, true, 0},
    };
    for (bool ascii : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (ascii ? " (ascii)" : ""));
            if (c.dialer)
                writeFile("system/calvex", "#!/bin/sh\n");
            else
                removeDialer();
            pager->ClearComPorts();
            if (c.ports) pager->AddComPort(1);
            if (ascii)
                pager->SendAscii(c.message, c.phone, c.pin, "page.txt");
            else
                pager->SendMessage(c.message, c.phone, c.pin);
            EXPECT_EQ(pager->SubmitStatus(), c.status);
        }
    }
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(pager->QueueCount(), 2);
    EXPECT_EQ(slot(1).Kind, QueueSlot::Alpha);
    EXPECT_EQ(slot(2).Kind, QueueSlot::AsciiFile);
    EXPECT_EQ(slot(2).AsciiFilename, "page.txt");
}

TEST_F(SendMethodsTest, SendNumericShowsItsBoxesAndIgnoresTheDialer) {
    makePager();
    removeDialer();
    pager->SendNumeric(" ", "555", "1");
    EXPECT_EQ(pager->SubmitStatus(), 2);
    pager->SendNumeric("123", " ", "1");
    EXPECT_EQ(pager->SubmitStatus(), 3);
    pager->SendNumeric("123", "555", "1");
    EXPECT_EQ(pager->SubmitStatus(), 5);
    EXPECT_EQ(dialogs.texts(),
              QStringList({"Error: The Message parameters in the SendNumeric method is empty.",
                           "Error: The PhoneNumber parameter in the SendNumeric method is empty.",
                           "Error: SendNumeric method reports no Com port(s) defined"}));
    for (const auto& box : dialogs.shown()) {
        EXPECT_EQ(box.title, "Mordax");
        EXPECT_EQ(box.icon, Dialogs::Icon::Critical);
    }
    pager->AddComPort(1);
    pager->SendNumeric("123", "555", " 2.5 pause");
    EXPECT_EQ(pager->SubmitStatus(), 0);
    EXPECT_EQ(slot(1).Delay, 2);
    EXPECT_EQ(slot(1).Kind, QueueSlot::Numeric);
}

TEST_F(SendMethodsTest, ADelayBeyond16BitsFailsLoudlyAndLeavesTheQueue) {
    makePager();
    pager->AddComPort(1);
    EXPECT_THROW(pager->SendNumeric("123", "555", "40000"), conv::OverflowError);
    EXPECT_EQ(pager->QueueCount(), 0);
    EXPECT_TRUE(slot(1).Message.isEmpty());
    pager->SendNumeric("123", "555", "-32768");
    EXPECT_EQ(slot(1).Delay, -32768);
}

TEST_F(SendMethodsTest, TheTimerStartsOnlyWithPortsAndForAcceptedOrFull) {
    makePager();
    dialer->script = [](DialerRun&) { return std::nullopt; };  // dialers never finish
    send("1");
    EXPECT_EQ(pager->SubmitStatus(), 5);
    EXPECT_FALSE(timerRuns());

    pager->AddComPort(1);
    pager->SendMessage("hi", "555", " ");
    EXPECT_EQ(pager->SubmitStatus(), 4);
    EXPECT_FALSE(timerRuns());

    send("2");
    EXPECT_TRUE(timerRuns());
    EXPECT_EQ(launcher.requests.size(), 1u);
}

TEST_F(SendMethodsTest, TheQueueHoldsEightHundredAndReusesTheLowestFreeSlot) {
    makePager();
    pager->AddComPort(1);
    for (int i = 1; i <= SendQueue::kSlots; ++i) send(QString::number(i), QString::number(i));
    EXPECT_EQ(pager->QueueCount(), 800);
    EXPECT_EQ(pager->SubmitStatus(), 0);
    send("801", "801");
    EXPECT_EQ(pager->SubmitStatus(), 6);
    pager->SendNumeric("9", "801", "1");
    EXPECT_EQ(pager->SubmitStatus(), 6);
    EXPECT_EQ(pager->QueueCount(), 800);
    EXPECT_TRUE(dialogs.shown().empty());

    // The oldest (slot 1) goes out at the first tick and is reported at the
    // second; its slot is the one taken next, with nothing of the old page.
    ticks(2);
    ASSERT_EQ(eventIds(), QStringList({"1"}));
    EXPECT_EQ(pager->QueueCount(), 799);
    ASSERT_EQ(pager->queue().findFree(), 1);
    pager->SendNumeric("77", "999", "3");
    EXPECT_EQ(pager->SubmitStatus(), 0);
    EXPECT_EQ(slot(1).Delay, 3);
    EXPECT_EQ(slot(1).PhoneNumber, "999");
    EXPECT_TRUE(slot(1).PIN.isEmpty());
    EXPECT_EQ(slot(1).MaxCharactersPerBlock, 0);
}

TEST_F(SendMethodsTest, ANumericDelayIsReadAsOneLeadingNumber) {
    struct Case {
        const char* name;
        const char* text;
        int delay;
    };
    const Case cases[] = {
        {"blank inside ends the number", "1 2", 1},
        {"no exponent", "1e3", 1},
        {"leading blanks", "   7", 7},
        {"half to even down", "2.5", 2},
        {"half to even up", "3.5", 4},
        {"sign", "-4", -4},
        {"plus sign", "+6x", 6},
        {"fraction only", ".6", 1},
        {"no number", "abc", 0},
        {"empty", "", 0},
        {"tab is not a blank", "\t5", 0},
    };
    makePager();
    pager->AddComPort(1);
    for (const auto& c : cases) {
        pager->SendNumeric("123", "555", QString::fromLatin1(c.text));
        ASSERT_EQ(pager->SubmitStatus(), 0) << c.name;
        EXPECT_EQ(slot(pager->QueueCount()).Delay, c.delay) << c.name;
    }
    EXPECT_THROW(pager->SendNumeric("123", "555", QString(400, u'9')), conv::OverflowError);
}
