#pragma once
#include "common/Outcome.h"
#include "common/TickTimer.h"
#include "devices/BusClock.h"
#include "devices/PortStats.h"
#include "devices/RtuLine.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSet>
#include <deque>

class SerialPort;
class StationSettings;
class StatusLine;

// The pick-to-light bus: Modbus RTU frames to light modules of eight lights each on the
// light-bus port. Light n is module (n - 1) / 8 + 1, output (n - 1) % 8. Also runs the
// all-lights-off sweep on Timer5.
//
// Frames wait in a queue and go out one exchange at a time (RtuLine): each after the
// previous frame's time on the line, the module's answer or its response time-out, and
// 3.5 characters of silence. The pacing timer (pacer(), a few ms) is enabled while frames
// wait or an answer is due; its tick is pump(). A module's exception, silence or garbled
// answer is reported on the status line once per fault and module; a light-on that failed
// is sent once more.
class LightBus : public QObject {
    Q_OBJECT
public:
    enum Command { On = 1, Off = 2, ModuleOff = 3 };

    // `port` is MSComm3, which may be closed (no light bus, or a failed start-up).
    static constexpr int kPacerMs = 2;
    // A module answers a write with 8 bytes (the echo of a single coil, or the address and
    // count of the coils written).
    static constexpr int kAnswerLength = 8;

    LightBus(const StationSettings& settings, SerialPort& port, TickTimer& timer5,
             StatusLine& status, const BusClock& clock = BusClock::steady(),
             QObject* parent = nullptr);

    // The frame for a light and command: 8 bytes for on/off, 11 for module all-off;
    // empty for any other command and for light 0 (a dye not in the light map), which
    // must not light a shelf position that is not the dye's.
    static QByteArray frame(int light, int command);

    // Builds the frame and queues it; it is written at once when the line is free. Nothing
    // is queued when the frame is empty or the port is not open. A port that was lost is
    // reopened first when it is back. Fails when the port is closed or a write made now fails.
    Outcome CALL_LIGHT(int light, int command);
    // Reads the answer due and writes the next frame when the line is free (the pacing
    // timer's tick); fails when a write failed, and the frames waiting are then dropped.
    Outcome pump();
    TickTimer& pacer() { return m_pacer; }
    // Frames waiting, not counting one whose answer is due.
    int queued() const { return int(m_queue.size()); }
    bool idle() const { return m_queue.empty() && !m_line.waiting(); }
    const PortStats& stats() const { return m_stats; }
    void setResponseTimeoutMs(int ms) { m_line.setResponseTimeoutMs(ms); }
    // Opens the port again when it was lost and is back; true when it was reopened now
    // (what was lit before is dark after an adapter came back: the caller lights it again).
    bool reopenIfLost();

    // Enables Timer5; a sweep already running goes on from its count, and the lights
    // switched on during it are put out (or left to it) instead of being switched on again.
    void startSweep();
    // Every module cleared, ahead of anything else: frames still waiting are dropped. With
    // `wait` (the end of the program: no shelf stays lit after the station has closed) it
    // returns once the 16 frames have been answered or timed out, within a few seconds at
    // most; without it the pacing timer sends them. Stops a running sweep and forgets
    // pending re-lights.
    Outcome switchAllOffNow(bool wait = true);
    // One Timer5 tick of the sweep: module k is cleared at tick 8k (k = 1..16); after
    // tick 130 the sweep stops itself.
    void tick();
    int sweepTick() const { return m_sweepTick; }

private:
    struct Pending {
        QByteArray frame;
        int module = 0;
        bool lightOn = false;
        bool retried = false;
    };

    static int moduleOf(int light);
    void judge(const RtuLine::Exchange& e);
    void fault(int module, const QString& what);

    const StationSettings& m_settings;
    SerialPort& m_port;
    TickTimer& m_timer5;
    StatusLine& m_status;
    PortStats m_stats{QStringLiteral("MSComm3")};
    RtuLine m_line;
    TickTimer m_pacer{kPacerMs};
    std::deque<Pending> m_queue;
    Pending m_inFlight;
    QMap<int, QString> m_fault; // by module: the fault last reported
    int m_sweepTick = 0;
    bool m_lost = false; // the port went away and has not been opened again yet
    // Lights switched on while a sweep runs: switched on again once the sweep has cleared
    // their module, so the sweep never puts out a light that was meant to stay on.
    QSet<int> m_litDuringSweep;
};
