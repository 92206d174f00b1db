#pragma once
#include "devices/BalanceFrames.h"

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
//   in a 17-tick cycle: the request at tick 1, the reply read at tick 14. After a failed
//   read the next request goes to the other balance.
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
    static constexpr int kCycleTicks = 17;
    static constexpr int kReadTick = 14;

    BalanceLink(const StationSettings& settings, SerialPort& comm1, SerialPort& comm2,
                BalanceReadings& readings, StatusLine& status, QObject* parent = nullptr);

    void tick();
    // After a pause of the link (the zeroing): whatever arrived or was asked for before it
    // (a reply in flight, frames of the weight before the zero) is dropped, and the poll
    // cycle starts again with a new request, so no reading from before the zero is shown.
    void restartAfterPause();
    // Reads the balances' stability and overload marks from now on (off: as always).
    void setMarks(const BalanceMarks& marks);

    int PollTick() const { return m_pollTick; }
    int PollBalance() const { return smallFirstIndex(m_pollBalance); } // 0 small, 1 large
    // Valid readings taken so far.
    qint64 readingCount(Balance b) const { return m_count[size_t(labelIndex(b))]; }

private:
    struct PortWatch {
        bool reportedDown = false;
        int ticksToRetry = 0;
    };

    void tickText(int tickMs);
    // What has arrived on a text-mode port, logged as hex.
    static QByteArray readText(SerialPort& port, const char* balance);
    void tickModbus(int tickMs);
    void readModbusReply();
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
    int m_pollTick = 0;
    Balance m_pollBalance = Balance::Small;
    bool m_rereading = false;           // this read tick is the second look after a bad checksum
    std::array<int, 2> m_silentMs{};    // by labelIndex
    std::array<qint64, 2> m_count{};    // by labelIndex
    std::array<PortWatch, 2> m_watch{}; // MSComm1, MSComm2
};
