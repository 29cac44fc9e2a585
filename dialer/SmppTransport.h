#pragma once

#include "Line.h"
#include "SmppPdu.h"
#include "SmsParts.h"
#include "Transport.h"

#include <QHash>

#include <functional>
#include <memory>

// Pages as SMS through an SMS centre over SMPP 3.4 (smpp:, or smpps: in
// TLS): one session per batch, bound as a transceiver when delivery
// receipts are asked for ([smpp] registered_delivery), else as a
// transmitter. One submit_sm per message part with the PIN as destination,
// up to [smpp] window of them awaiting their replies at once; each page's
// fate comes from its own submit_sm_resp (every part of a long text must be
// taken). The SMS centre's enquire_link is answered, its generic_nack fails
// the submit it names, an idle session is kept alive with enquire_link,
// and the session ends with unbind. Text goes in the GSM 7-bit default
// alphabet where it fits (data_coding 0), else UCS-2 (8); a long text as
// concatenated parts, each with a user data header, under one reference.
// The parts of a long text the centre accepted are remembered with their
// message IDs (see SmsParts.h): a retry sends only the others, under the
// same reference, and the page's receipts are awaited for every part.
namespace vts {

class LineDevice;

class SmppTransport final : public Transport {
public:
    SmppTransport(PortTarget target, const DialerOptions& options);
    ~SmppTransport() override;
    PortTarget::Kind kind() const override { return m_target.kind; }

    // The destination a PIN names: digits only (blanks, dashes, dots and
    // brackets dropped); a leading '+' makes it international (TON 1, NPI
    // 1), else the [smpp] dest_ton and dest_npi hold. nullopt when it is
    // no number of 1 to 20 digits.
    struct Address {
        QByteArray digits;
        int ton = 0, npi = 0;
    };
    static std::optional<Address> destination(const QString& pin, int ton, int npi);
    // The submit_sm bodies' short messages for `text`, parts under
    // `reference`; empty when the text needs more than 255 parts.
    static QList<smpp::ShortMessage> messages(const QString& text, int reference);

    // What the session learnt of a page beyond its status.
    struct Receipt {
        QByteArray messageId;
        QString state;
        QString error;
    };
    const QList<Receipt>& receipts() const { return m_receipts; }

    // Stays bound as a receiver, handing each delivery receipt to `sink`,
    // binding again after a lost session (waits doubling from 1 s to 60 s),
    // until a stop request ends it with unbind. `wake` runs at least every
    // few seconds meanwhile.
    void receive(Batch& sink, std::function<void()> wake);

protected:
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    struct Pending {
        Page* page = nullptr;
        int part = 0;
    };
    struct PageState {
        int parts = 0;     // of its text
        int submits = 0;   // parts sent in this attempt
        int answered = 0;  // of them
        smpp::Verdict worst = smpp::Verdict::Sent;
        QString why;
        QString key;               // its entry in the parts file
        smsparts::PartsSent sent;  // parts accepted, in this attempt or an earlier one
    };

    std::uint32_t request(std::uint32_t command, const QByteArray& body);
    void respond(const smpp::Pdu& to, std::uint32_t status, const QByteArray& body = {});
    // Handles what the SMS centre sends until `done` holds; false once the
    // session is down (the reason kept).
    bool serve(const std::function<bool()>& done);
    // Connects and binds with `command`; false with the reason traced.
    bool bind(std::uint32_t command, qsizetype pages);
    void handle(const smpp::Pdu& pdu);
    void answerPart(const Pending& p, std::uint32_t status, const QString& what,
                    const QByteArray& messageId);
    // Writes the page's status once every part sent was answered.
    void finish(Page& page, const PageState& s);
    QString partsFile() const;
    void down(const QString& why);

    std::unique_ptr<LineDevice> m_line;
    QByteArray m_in;
    bool m_up = false;
    std::uint32_t m_sequence = 0;
    std::uint32_t m_bindSequence = 0, m_unbindSequence = 0;
    int m_bindStatus = -1;  // -1: no reply yet
    bool m_unbound = false;
    bool m_receiving = false;  // a receiver awaits no reply but to its enquire_link
    std::function<void()> m_wake;
    int m_window = 10;
    int m_reference = 0;
    QHash<std::uint32_t, Pending> m_pending;  // by sequence number
    QHash<Page*, PageState> m_pages;
    QList<Receipt> m_receipts;
    Deadline m_replyBy{};    // the oldest awaited reply is late after this
    Deadline m_lastHeard{};  // for the keep-alive
};

}  // namespace vts
