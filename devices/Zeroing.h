#pragma once
#include "devices/Balance.h"

#include <QObject>

class SerialPort;
class StatusLine;
class TickTimer;

// The zeroing sequence on Timer6, started by a double-click on a balance's reading:
// tick 2 pauses the balance link (Timer1), tick 20 writes the zero command for the chosen
// balance to MSComm1 (in both modes), tick 40 resumes the link and stops Timer6.
class Zeroing : public QObject {
    Q_OBJECT
public:
    Zeroing(SerialPort& comm1, TickTimer& timer1, TickTimer& timer6, StatusLine& status,
            QObject* parent = nullptr);

    // A request while the sequence runs only changes the balance; the count goes on.
    void request(Balance b);
    void tick();

    Balance target() const { return m_target; }
    int ZeroTarget() const { return smallFirstIndex(m_target); } // 0 small, 1 large
    int ZeroTick() const { return m_zeroTick; }

private:
    SerialPort& m_comm1;
    TickTimer& m_timer1;
    TickTimer& m_timer6;
    StatusLine& m_status;
    Balance m_target = Balance::Small;
    int m_zeroTick = 0;
};
