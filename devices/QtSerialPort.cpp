#include "devices/QtSerialPort.h"

#include "common/TextField.h"
#include "devices/PortChoices.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

QString deviceForSetting(const QString& setting) {
    const QString s = TextField::trimSpaces(setting);
    bool isNumber = !s.isEmpty();
    for (QChar c : s)
        isNumber = isNumber && c.isDigit() && c.unicode() < 128;
    if (isNumber) {
        bool ok = false;
        const int n = s.toInt(&ok);
        if (ok && n >= 1)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
        return QStringLiteral("/dev/ttyS-invalid-%1").arg(s);
    }
    return s;
}

QtSerialPort::QtSerialPort() {
    QObject::connect(&m_port, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
        // A pulled adapter fails with a resource error; a line that hung up (a
        // pseudo-terminal whose other side went away) reads end-of-file, which
        // QSerialPort reports as a read error. Either way the port must be reopened.
        if (e == QSerialPort::ResourceError || e == QSerialPort::DeviceNotFoundError ||
            e == QSerialPort::ReadError || e == QSerialPort::WriteError) {
            m_lost = true;
            // Closed from the event loop, not inside QSerialPort's own notification: a
            // hung-up line stays readable and would otherwise be polled without end.
            QTimer::singleShot(0, &m_port, [this] {
                if (m_lost)
                    m_port.close();
            });
        }
    });
}

QtSerialPort::~QtSerialPort() {
    close();
}

Outcome QtSerialPort::open(const QString& setting) {
    close();
    m_device = deviceForSetting(setting);
    m_lost = false;
    if (m_device.isEmpty())
        return Outcome::failure(QStringLiteral("no port set"));
    // A symbolic link (as the device simulator makes) is opened through its target, which
    // QSerialPort would otherwise resolve relative to /dev.
    const QFileInfo info(m_device);
    m_port.setPortName(info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath());
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString why = m_port.errorString();
        m_lost = false;
        if (!portPermissionProblem(m_device).isEmpty())
            return Outcome::failure(
                QStringLiteral("%1: permission denied; add the user to the dialout group")
                    .arg(m_device));
        return Outcome::failure(QStringLiteral("%1: %2").arg(m_device, why));
    }
    m_port.clearError();
    return Outcome::success();
}

void QtSerialPort::close() {
    if (m_port.isOpen())
        m_port.close();
}

bool QtSerialPort::isOpen() const {
    return m_port.isOpen() && !m_lost;
}

Outcome QtSerialPort::write(const QByteArray& bytes) {
    if (!isOpen())
        return Outcome::failure(QStringLiteral("%1: port not open").arg(m_device));
    if (m_port.write(bytes) != bytes.size())
        return Outcome::failure(QStringLiteral("%1: %2").arg(m_device, m_port.errorString()));
    // Hand the bytes to the driver now; the station never waits for them to leave.
    m_port.waitForBytesWritten(0);
    return Outcome::success();
}

void QtSerialPort::drain(int msecs) {
    QElapsedTimer t;
    t.start();
    while (isOpen() && m_port.bytesToWrite() > 0 && t.elapsed() < msecs)
        m_port.waitForBytesWritten(int(msecs - t.elapsed()));
}

QByteArray QtSerialPort::read(qint64 maxBytes) {
    if (!isOpen())
        return {};
    // Pull in whatever the driver holds, without waiting and without an event loop.
    m_port.waitForReadyRead(0);
    return maxBytes < 0 ? m_port.readAll() : m_port.read(maxBytes);
}
