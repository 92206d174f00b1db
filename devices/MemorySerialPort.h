#pragma once
#include "devices/ModbusFrames.h"
#include "devices/SerialPort.h"

#include <QList>
#include <functional>

// An in-memory port for unit tests of the protocols: it records every write and hands out
// bytes the test has fed to it.
class MemorySerialPort : public SerialPort {
public:
    Outcome open(const QString& setting) override {
        m_device = deviceForSetting(setting);
        if (m_device.isEmpty() || failOpen) {
            // As a real port: closed first, and a failed open leaves it closed, not lost.
            m_open = false;
            lost = false;
            return Outcome::failure(QStringLiteral("%1: cannot open").arg(m_device));
        }
        m_open = true;
        lost = false;
        return Outcome::success();
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open && !lost; }
    QString device() const override { return m_device; }
    Outcome write(const QByteArray& bytes) override {
        if (!isOpen())
            return Outcome::failure(QStringLiteral("port not open"));
        if (failWrite)
            return Outcome::failure(QStringLiteral("write failed"));
        writes.append(bytes);
        if (answer)
            incoming += answer(bytes);
        return Outcome::success();
    }
    QByteArray read(qint64 maxBytes) override {
        if (!isOpen())
            return {};
        const QByteArray out = maxBytes < 0 ? incoming : incoming.left(maxBytes);
        incoming.remove(0, out.size());
        return out;
    }
    bool isLost() const override { return lost; }

    void feed(const QByteArray& bytes) { incoming += bytes; }
    QByteArray allWritten() const {
        QByteArray all;
        for (const QByteArray& w : writes)
            all += w;
        return all;
    }

    QList<QByteArray> writes;
    QByteArray incoming;
    bool failOpen = false;
    bool failWrite = false; // an open port whose writes fail (a driver error)
    bool lost = false;
    // What the far end answers to each write (at once), when set.
    std::function<QByteArray(const QByteArray&)> answer;

    // A light module's answer: a single coil echoed, a write of coils answered with its first
    // six bytes and their checksum (ModbusFrames).
    static QByteArray moduleAnswer(const QByteArray& frame);

private:
    bool m_open = false;
    QString m_device;
};

inline QByteArray MemorySerialPort::moduleAnswer(const QByteArray& frame) {
    return frame.size() < 8 ? QByteArray() : ModbusFrames::withCrc(frame.left(6));
}
