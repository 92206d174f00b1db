#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QObject>
#include <QSet>

class SerialPort;
class StationSettings;
class StatusLine;
class TickTimer;

// The pick-to-light bus: Modbus RTU frames to light modules of eight lights each, written
// to the light-bus port and never answered. Light n is module (n - 1) / 8 + 1, output
// (n - 1) % 8. Also runs the all-lights-off sweep on Timer5.
class LightBus : public QObject {
    Q_OBJECT
public:
    enum Command { On = 1, Off = 2, ModuleOff = 3 };

    // `port` is MSComm3, which may be closed (no light bus, or a failed start-up).
    LightBus(const StationSettings& settings, SerialPort& port, TickTimer& timer5,
             StatusLine& status, QObject* parent = nullptr);

    // The frame for a light and command: 8 bytes for on/off, 11 for module all-off;
    // empty for any other command and for light 0 (a dye not in the light map), which
    // must not light a shelf position that is not the dye's.
    static QByteArray frame(int light, int command);

    // Builds the frame and writes it; nothing is written when the frame is empty or the
    // port is not open. A port that was lost is reopened first when it is back.
    Outcome CALL_LIGHT(int light, int command);
    // Opens the port again when it was lost and is back; true when it was reopened now
    // (what was lit before is dark after an adapter came back: the caller lights it again).
    bool reopenIfLost();

    // Enables Timer5; a sweep already running goes on from its count, and the lights
    // switched on during it are put out (or left to it) instead of being switched on again.
    void startSweep();
    // Every module cleared at once, each frame sent out before the next, for the end of the
    // program: no shelf stays lit after the station has closed. Stops a running sweep and
    // forgets pending re-lights.
    Outcome switchAllOffNow();
    // One Timer5 tick of the sweep: module k is cleared at tick 8k (k = 1..16); after
    // tick 130 the sweep stops itself.
    void tick();
    int sweepTick() const { return m_sweepTick; }

private:
    static int moduleOf(int light);

    const StationSettings& m_settings;
    SerialPort& m_port;
    TickTimer& m_timer5;
    StatusLine& m_status;
    int m_sweepTick = 0;
    bool m_lost = false; // the port went away and has not been opened again yet
    // Lights switched on while a sweep runs: switched on again once the sweep has cleared
    // their module, so the sweep never puts out a light that was meant to stay on.
    QSet<int> m_litDuringSweep;
};
