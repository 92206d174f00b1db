#pragma once
#include "devices/SerialPort.h"

#include <QByteArray>
#include <QString>
#include <functional>

class StatusLine;

// A barcode scanner fixed at the bench on a serial port (9600 8N1): one code a line, ended
// by CR, LF or both; blank lines are ignored. Polled by tick(); a port that is missing or
// goes away is opened again every kReopenTicks, and the status line says so once.
class FixedScanner {
public:
    static constexpr int kReopenTicks = 10;
    static constexpr int kMaxCode = 256; // a longer line is noise: dropped

    FixedScanner(SerialPort& port, QString setting, StatusLine& status,
                 std::function<void(const QString&)> onCode);

    void tick();
    // Bytes as they came from the port: each whole code goes to onCode.
    void feed(const QByteArray& bytes);

private:
    SerialPort& m_port;
    QString m_setting;
    StatusLine& m_status;
    std::function<void(const QString&)> m_onCode;
    QByteArray m_partial;
    bool m_overlong = false;
    int m_wait = 0;
    bool m_reported = false;
};
