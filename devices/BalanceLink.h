#pragma once
#include "devices/BalanceFrames.h"
#include "devices/BusClock.h"
#include "devices/PortStats.h"
#include "devices/RtuLine.h"

#include <QObject>
#include <array>

class BalanceReadings;
class SerialPort;
class StationSettings;
class StatusLine;

// The balance link, one tick per Timer1 event. The mode is the SetType setting, read at
// every tick:
// - "1": MSComm1 = small balance, MSComm2 = large balance, each sending text frames
//   continuously; every tick takes all that has arrived and shows the newest good frame.
// - "2": both balances as Modbus RTU slaves 3 (small) and 4 (large) on MSComm1, polled
//   in turn and driven by their answers: the next request goes out as soon as the reply is
//   complete (or the response time-out has passed) and the line has been silent for 3.5
//   characters (RtuLine). Every read, good or failed, hands the next request to the other
//   balance. An exception, a time-out and a garbled reply are told apart and reported on
//   the status line once per fault and balance ("小天平回應逾時").
// - anything else: nothing.
// A balance with no valid reading for kStaleMs is marked stale; a port that has gone away
// is reopened every kReopenMs until it is back. The silence and reopen periods are
// counted in ticks of the mode's interval.
class BalanceLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kStaleMs = 2000;
    // Silent this long, a balance is quiet (BalanceReadings::isQuiet): three weighing ticks,
    // where a streaming balance sends several readings in each.
    static constexpr int kQuietMs = 600;
    static constexpr int kReopenMs = 1000;

    BalanceLink(const StationSettings& settings, SerialPort& comm1, SerialPort& comm2,
                BalanceReadings& readings, StatusLine& status,
                const BusClock& clock = BusClock::steady(), QObject* parent = nullptr);

    void tick();
    // After a pause of the link (the zeroing): whatever arrived or was asked for before it
    // (a reply in flight, frames of the weight before the zero) is dropped, and the poll
    // cycle starts again with a new request, so no reading from before the zero is shown.
    void restartAfterPause();
    // Reads the balances' stability and overload marks from now on (off: as always).
    void setMarks(const BalanceMarks& marks);
    // How long a balance may take to answer in mode "2", after the request has left.
    void setResponseTimeoutMs(int ms) { m_line.setResponseTimeoutMs(ms); }

    // True while a request of mode "2" waits for its answer.
    bool awaitingReply() const { return m_line.waiting(); }
    int PollBalance() const { return smallFirstIndex(m_pollBalance); } // 0 small, 1 large
    // Valid readings taken so far.
    qint64 readingCount(Balance b) const { return m_count[size_t(labelIndex(b))]; }
    // What went over MSComm1 and MSComm2.
    const PortStats& stats(int which) const { return m_stats[size_t(which)]; }
    const BusClock& clock() const { return m_clock; }

private:
    struct PortWatch {
        bool reportedDown = false;
        int ticksToRetry = 0;
    };

    void tickText(int tickMs);
    // What has arrived on a text-mode port, logged as hex.
    static QByteArray readText(SerialPort& port, const char* balance, PortStats& stats, qint64 now);
    void tickModbus(int tickMs);
    void judge(const RtuLine::Exchange& e);
    // Reports a balance's fault once, until a reading clears it.
    void fault(Balance b, const QString& what);
    void accept(Balance b, const QString& caption, Stability stability);
    void countSilence(int tickMs);
    // True when the port is open; otherwise tries to reopen it now and then.
    bool keepOpen(SerialPort& port, int which, int tickMs);

    const StationSettings& m_settings;
    SerialPort& m_comm1;
    SerialPort& m_comm2;
    BalanceReadings& m_readings;
    StatusLine& m_status;
    BalanceMarks m_marks;
    TextFrameParser m_smallFrames{BalanceFrames::kSmallGPosition};
    TextFrameParser m_largeFrames{BalanceFrames::kLargeGPosition};
    const BusClock& m_clock;
    std::array<PortStats, 2> m_stats{PortStats(QStringLiteral("MSComm1")),
                                     PortStats(QStringLiteral("MSComm2"))};
    RtuLine m_line;
    Balance m_pollBalance = Balance::Small;
    std::array<QString, 2> m_fault;     // by labelIndex: the fault last reported
    std::array<int, 2> m_silentMs{};    // by labelIndex
    std::array<qint64, 2> m_count{};    // by labelIndex
    std::array<PortWatch, 2> m_watch{}; // MSComm1, MSComm2
};
