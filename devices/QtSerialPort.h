#pragma once
#include "devices/SerialPort.h"

#include <QSerialPort>

// The production port, on QSerialPort.
class QtSerialPort : public SerialPort {
public:
    QtSerialPort();
    ~QtSerialPort() override;

    Outcome open(const QString& setting) override;
    void close() override;
    bool isOpen() const override;
    QString device() const override { return m_device; }
    Outcome write(const QByteArray& bytes) override;
    QByteArray read(qint64 maxBytes) override;
    bool isLost() const override { return m_lost; }
    void drain(int msecs) override;

private:
    QSerialPort m_port;
    QString m_device;
    bool m_lost = false;
};
