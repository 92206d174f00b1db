#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// A serial port as the station uses it: 9600 baud, 8 data bits, no parity, one stop bit,
// no handshaking; polled, never event-driven.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the port named by a port setting (see deviceForSetting); an open port is
    // closed first.
    virtual Outcome open(const QString& setting) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The device the port was last opened on (empty before the first open).
    virtual QString device() const = 0;
    // Queues the bytes for sending; fails when the port is not open or has been lost.
    virtual Outcome write(const QByteArray& bytes) = 0;
    // Up to `maxBytes` of what has arrived (text mode), or all of it when maxBytes < 0
    // (binary mode). Returns nothing when the port is not open.
    virtual QByteArray read(qint64 maxBytes) = 0;
    // True once the device has gone away (an adapter pulled out) since it was opened.
    virtual bool isLost() const = 0;
    // Waits up to `msecs` until what was written has left for the line (for the end of the
    // program, when nothing else will send it).
    virtual void drain(int msecs) { (void)msecs; }
};

using SerialPortFactory = std::function<std::unique_ptr<SerialPort>()>;

// A port setting that is a plain whole number N names COM port N, /dev/ttyS(N-1); any
// other text is a device path as it stands. Blank gives an empty name.
QString deviceForSetting(const QString& setting);
