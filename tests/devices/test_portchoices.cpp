#include "devices/PortChoices.h"
#include "devices/QtSerialPort.h"
#include "tests/support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {
// A folder of symbolic links standing for /dev/serial/by-id, to files standing for devices.
struct FakeDev {
    QTemporaryDir dir;
    QString dev(const QString& name) const { return dir.filePath(name); }
    QString byId() const { return dir.filePath(QStringLiteral("by-id")); }
    void device(const QString& name) {
        QFile f(dev(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    void link(const QString& name, const QString& device) {
        QDir().mkpath(byId());
        QVERIFY(QFile::link(QStringLiteral("../") + device, byId() + QLatin1Char('/') + name));
    }
};

// What `check` returns when run by a user who is not root (nobody when the tests run as
// root, so that the kernel refuses what the mode forbids).
} // namespace

class TestPortChoices : public QObject {
    Q_OBJECT
private slots:
    void adapterNames_data();
    void adapterNames();
    void stablePathsFirstThenTheOthers();
    void pathTooLongForSetTxtCannotBeChosen();
    void permissionDeniedIsSaidWithTheFix();
    void openablePortIsNoPermissionProblem();
};

void TestPortChoices::adapterNames_data() {
    QTest::addColumn<QString>("byId");
    QTest::addColumn<QString>("name");
    QTest::newRow("ftdi") << "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
                          << "FTDI FT232R USB UART A50285BI";
    QTest::newRow("cdc") << "usb-Arduino__www.arduino.cc__0043_75833-if00"
                         << "Arduino www.arduino.cc 0043 75833";
    QTest::newRow("second port") << "usb-Prolific_USB-Serial_Controller_D-if01-port1"
                                 << "Prolific USB-Serial Controller D";
    QTest::newRow("no bus") << "FTDI_X"
                            << "FTDI X";
}

void TestPortChoices::adapterNames() {
    QFETCH(QString, byId);
    QTEST(adapterName(byId), "name");
}

void TestPortChoices::stablePathsFirstThenTheOthers() {
    FakeDev f;
    f.device(QStringLiteral("ttyUSB0"));
    f.device(QStringLiteral("ttyUSB1"));
    f.device(QStringLiteral("ttyS0"));
    f.link(QStringLiteral("usb-Prolific_PL2303-if00-port0"), QStringLiteral("ttyUSB1"));
    f.link(QStringLiteral("usb-FTDI_FT232R_USB_UART_A5-if00-port0"), QStringLiteral("ttyUSB0"));
    f.link(QStringLiteral("usb-Gone_Adapter-if00-port0"), QStringLiteral("ttyUSB9"));
    const QList<PortChoice> c = serialPortChoices(f.byId(), {f.dev(QStringLiteral("ttyS0")),
                                                             f.dev(QStringLiteral("ttyUSB0")),
                                                             f.dev(QStringLiteral("ttyUSB1"))});
    QCOMPARE(c.size(), 3);
    QCOMPARE(c[0].setting, f.byId() + QStringLiteral("/usb-FTDI_FT232R_USB_UART_A5-if00-port0"));
    QCOMPARE(c[0].label, QStringLiteral("FTDI FT232R USB UART A5 (ttyUSB0)"));
    QCOMPARE(c[1].setting, f.byId() + QStringLiteral("/usb-Prolific_PL2303-if00-port0"));
    QCOMPARE(c[1].label, QStringLiteral("Prolific PL2303 (ttyUSB1)"));
    // Only the port without a stable path is offered by its device name.
    QCOMPARE(c[2].setting, f.dev(QStringLiteral("ttyS0")));
    QCOMPARE(c[2].label, QStringLiteral("ttyS0"));
    // The choice opens the adapter's device.
    QtSerialPort port;
    (void)port.open(c[0].setting);
    QCOMPARE(port.device(), c[0].setting);
}

void TestPortChoices::pathTooLongForSetTxtCannotBeChosen() {
    FakeDev f;
    f.device(QStringLiteral("ttyUSB0"));
    f.device(QStringLiteral("ttyUSB1"));
    const QString fits =
        QStringLiteral("a").repeated(100 - int(f.byId().toUtf8().size()) - 1); // "/" + name
    f.link(fits, QStringLiteral("ttyUSB0"));
    f.link(fits + QStringLiteral("b"), QStringLiteral("ttyUSB1"));
    const QList<PortChoice> c = serialPortChoices(f.byId(), {});
    QCOMPARE(c.size(), 2);
    QCOMPARE(c[0].setting.toUtf8().size(), 100);
    QVERIFY(c[1].setting.isEmpty());
    QVERIFY(c[1].label.contains(QStringLiteral("(ttyUSB1)")));
    QVERIFY(c[1].label.contains(QStringLiteral("set.txt")));
}

// A real file the user may not open, as a serial port of the wrong group: both the plain
// words (with the path and the fix) and the port's own reason say it.
void TestPortChoices::permissionDeniedIsSaidWithTheFix() {
    FakeDev f;
    f.device(QStringLiteral("ttyUSB0"));
    QVERIFY(QFile::setPermissions(f.dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther));
    QVERIFY(QFile::setPermissions(f.dev(QStringLiteral("ttyUSB0")),
                                  QFile::ReadOwner | QFile::WriteOwner));
    f.link(QStringLiteral("usb-FTDI_X-if00-port0"), QStringLiteral("ttyUSB0"));
    QVERIFY(QFile::setPermissions(f.byId(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadOther | QFile::ExeOther));
    const QString byId = f.byId() + QStringLiteral("/usb-FTDI_X-if00-port0");
    runUnprivileged([&] {
        const QString plain = portPermissionProblem(byId);
        QVERIFY2(plain.startsWith(QStringLiteral("無法開啟連接埠 ") + byId), qPrintable(plain));
        QVERIFY2(plain.contains(QStringLiteral("dialout 群組 (sudo adduser ")), qPrintable(plain));
        QVERIFY(!plain.contains(QLatin1String(": "))); // one plain message, not split up
        QtSerialPort port;
        const Outcome o = port.open(byId);
        QVERIFY(!o);
        QCOMPARE(o.reason(),
                 byId + QStringLiteral(": permission denied; add the user to the dialout group"));
    });
}

void TestPortChoices::openablePortIsNoPermissionProblem() {
    FakeDev f;
    f.device(QStringLiteral("ttyUSB0"));
    QVERIFY(QFile::setPermissions(f.dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther));
    QVERIFY(QFile::setPermissions(f.dev(QStringLiteral("ttyUSB0")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                      QFile::WriteOther));
    const QString dev = f.dev(QStringLiteral("ttyUSB0"));
    runUnprivileged([&] {
        QCOMPARE(portPermissionProblem(dev), QString());
        // A port that is not there is not a matter of permission.
        QCOMPARE(portPermissionProblem(dev + QStringLiteral("x")), QString());
    });
}

QTEST_GUILESS_MAIN(TestPortChoices)
#include "test_portchoices.moc"
