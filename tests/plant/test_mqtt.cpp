// The message bus against a real Mosquitto broker on loopback, started by the test: the
// broker stopped in the middle of an order and the station restarted while it is away;
// every message arrives once, in order, and the retained state follows the station.
#include "plant/EventSpool.h"
#include "plant/MqttLink.h"
#include "tests/plant/Blackhole.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <csignal>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// A subscriber with a session the broker keeps across its restart (QoS 1).
struct Subscriber {
    mosquitto* m = nullptr;
    std::mutex mx;
    QList<QByteArray> weighings, states;
    std::atomic<bool> subscribed = false;

    explicit Subscriber(int port) {
        mosquitto_lib_init();
        m = mosquitto_new("test-subscriber", false, this);
        mosquitto_connect_callback_set(m, [](mosquitto* m, void*, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, "dyestation/st%2F1/#", 1);
        });
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed = true;
        });
        mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard lk(s->mx);
            const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
            (QByteArray(msg->topic).endsWith("/state") ? s->states : s->weighings) << payload;
        });
        mosquitto_reconnect_delay_set(m, 1, 1, false);
        mosquitto_connect_async(m, "127.0.0.1", port, 30);
        mosquitto_loop_start(m);
    }
    ~Subscriber() {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, true);
        mosquitto_destroy(m);
    }
    int count() {
        std::lock_guard lk(mx);
        return int(weighings.size());
    }
    QByteArray lastState() {
        std::lock_guard lk(mx);
        return states.isEmpty() ? QByteArray() : states.last();
    }
};

WeighingEvent weighing(int line, const char* what) {
    WeighingEvent e;
    e.at = QDateTime::currentDateTime().addMSecs(line);
    e.station = QStringLiteral("st/1");
    e.orderNo = QStringLiteral("單號 7");
    e.line = line;
    e.event = QString::fromLatin1(what);
    return e;
}

} // namespace

class TestMqtt : public QObject {
    Q_OBJECT

    QString m_broker;
    WorkDir m_dir;
    int m_port = 0;
    QProcess m_process;

    void startBroker() {
        m_process.start(m_broker, {"-c", m_dir.file("broker.conf")});
        QVERIFY(m_process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile(m_dir.file("broker.log")).size() > 0 &&
                                     m_dir.read("broker.log").contains("running"),
                                 10000);
    }
    void stopBroker() {
        m_process.terminate();
        QVERIFY(m_process.waitForFinished(10000));
        QFile::remove(m_dir.file("broker.log"));
    }

private slots:
    void initTestCase() {
        m_broker = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"});
        if (m_broker.isEmpty()) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL("CI needs the mosquitto broker (scripts/install-deps.sh)");
            QSKIP("no mosquitto broker");
        }
        m_port = freePort();
        m_dir.write("broker.conf", QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                                  "persistence true\npersistence_location %2/\n"
                                                  "log_dest file %2/broker.log\nlog_type all\n%3")
                                       .arg(m_port)
                                       .arg(m_dir.path())
                                       .arg(getuid() == 0 ? "user root\n" : "")
                                       .toUtf8());
    }
    void cleanupTestCase() {
        if (m_process.state() != QProcess::NotRunning)
            stopBroker();
    }

    // Station names as topic levels: nothing that MQTT reads as a level or a wildcard, and
    // no two names on one level.
    void topicNames() {
        const QStringList names{"st/1", "st_1", "st+1", "st#1", "st%2F1", "站 1", "st%1"};
        QSet<QString> levels;
        for (const QString& n : names) {
            const QString level = MqttLink::topicName(n);
            QVERIFY2(!level.contains(QRegularExpression("[/+#\\s]")) && level.isSimpleText(),
                     qPrintable(level));
            QVERIFY(QRegularExpression("^[\\x21-\\x7e]+$").match(level).hasMatch());
            levels.insert(level);
        }
        QCOMPARE(levels.size(), names.size());
        QCOMPARE(MqttLink::clientId("st/1"), MqttLink::clientId("st/1"));
        QVERIFY(MqttLink::clientId("st/1") != MqttLink::clientId("st_1"));
    }

    // A plant's broker in miniature: no anonymous clients, a password file, and a TLS
    // listener whose certificate a throwaway CA signed. A wrong password or a CA that did
    // not sign the broker's certificate is reported and nothing counts as sent; the right
    // ones deliver, on the plain listener and over TLS.
    void brokerWithPasswordAndTls() {
        WorkDir d;
        const auto run = [&](const QString& program, const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(d.path());
            p.start(program, args);
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        const QString openssl = QStandardPaths::findExecutable("openssl");
        QVERIFY2(!openssl.isEmpty(), "openssl (scripts/install-deps.sh)");
        d.write("san.ext", "subjectAltName=IP:127.0.0.1\n");
        for (const QString& ca : {QStringLiteral("ca"), QStringLiteral("other")})
            QVERIFY(run(openssl,
                        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key",
                         "-out", ca + ".crt", "-days", "2", "-subj", "/CN=" + ca}));
        QVERIFY(run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
                              "-out", "server.csr", "-subj", "/CN=127.0.0.1"}));
        QVERIFY(run(openssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey",
                              "ca.key", "-CAcreateserial", "-out", "server.crt", "-days", "2",
                              "-extfile", "san.ext"}));
        QVERIFY(run(QStandardPaths::findExecutable("mosquitto_passwd", {"/usr/bin"}),
                    {"-c", "-b", "passwd", "bench", "pw;,1"}));
        const int plain = freePort(), tls = freePort();
        d.write("broker.conf",
                QStringLiteral("per_listener_settings false\nallow_anonymous false\n"
                               "password_file %1/passwd\nlistener %2 127.0.0.1\n"
                               "listener %3 127.0.0.1\ncafile %1/ca.crt\ncertfile %1/server.crt\n"
                               "keyfile %1/server.key\nlog_dest file %1/broker.log\n%4")
                    .arg(d.path())
                    .arg(plain)
                    .arg(tls)
                    .arg(getuid() == 0 ? "user root\n" : "")
                    .toUtf8());
        QProcess broker;
        broker.start(m_broker, {"-c", d.file("broker.conf")});
        QVERIFY(broker.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(d.exists("broker.log") && d.read("broker.log").contains("running"),
                                 10000);
        struct Case {
            int port;
            const char* password;
            bool tls;
            const char* ca;
            bool delivers;
            const char* said;
        };
        const Case cases[] = {
            {plain, "wrong", false, "", false, "not authorised"},
            {plain, "pw;,1", false, "", true, ""},
            {tls, "pw;,1", true, "other.crt", false, "TLS"},
            {tls, "pw;,1", true, "ca.crt", true, ""},
        };
        for (const Case& c : cases) {
            WorkDir station;
            MqttLink::Config config{station.path(), "127.0.0.1", c.port, "bench 3", 200};
            config.username = QStringLiteral("bench");
            config.password = QString::fromUtf8(c.password);
            config.tls = c.tls;
            config.caFile = c.tls ? d.file(c.ca) : QString();
            config.keepalive = 10;
            MqttLink link(config);
            QStringList reports;
            connect(&link, &MqttLink::report, this, [&](const QString& r) { reports << r; });
            link.publish(weighing(1, "accepted"));
            QCOMPARE(link.waitSent(c.delivers ? 10000 : 1500), c.delivers);
            QCoreApplication::processEvents();
            if (!c.delivers)
                QVERIFY2(reports.size() == 1 && reports.at(0).contains(c.said, Qt::CaseInsensitive),
                         qPrintable(reports.join('\n')));
        }
        QVERIFY(d.read("broker.log").contains("dyestation-bench%203"));
        broker.terminate();
        QVERIFY(broker.waitForFinished(10000));
    }

    void brokerAwayMidOrderAndRestart() {
        startBroker();
        Subscriber sub(m_port);
        WorkDir station;
        const MqttLink::Config config{station.path(), "127.0.0.1", m_port, "st/1", 200};
        auto link = std::make_unique<MqttLink>(config);
        link->publish(weighing(1, "accepted"));
        QVERIFY(link->waitSent(10000));
        QTRY_COMPARE_WITH_TIMEOUT(sub.count(), 1, 10000);
        QCOMPARE(sub.lastState(), QByteArray("online"));

        QSignalSpy reports(link.get(), &MqttLink::report);
        stopBroker();
        link->publish(weighing(2, "accepted"));
        link->publish(weighing(2, "pick_mismatch"));
        QVERIFY(!link->waitSent(500));
        // The refused reconnections are said once.
        QTRY_COMPARE(reports.size(), 1);
        link.reset(); // the station closes while the broker is away
        link = std::make_unique<MqttLink>(config);
        link->publish(weighing(0, "finished"));
        startBroker();
        QVERIFY(link->waitSent(15000));
        QTRY_COMPARE_WITH_TIMEOUT(sub.count(), 4, 15000);
        QTest::qWait(500); // nothing more comes
        QCOMPARE(sub.count(), 4);
        QStringList seen;
        for (const QByteArray& m : sub.weighings) {
            const QJsonObject o = QJsonDocument::fromJson(m).object();
            QCOMPARE(o.value("order_no").toString(), QStringLiteral("單號 7"));
            seen << o.value("event").toString() + QString::number(o.value("line").toInt());
        }
        QCOMPARE(seen, QStringList({"accepted1", "accepted2", "pick_mismatch2", "finished0"}));
        QTRY_COMPARE_WITH_TIMEOUT(sub.lastState(), QByteArray("online"), 5000);
        link.reset();
        QTRY_COMPARE_WITH_TIMEOUT(sub.lastState(), QByteArray("offline"), 5000);
        QCOMPARE(EventSpool::size(station.file("data/mqtt.pending")), 0);
    }

    // A broker whose host drops the packets: the link neither stalls nor loses what is
    // published while it tries, and a later link publishes each message once.
    void silentBrokerHostThenRestart() {
        WorkDir station;
        {
            Blackhole hole;
            auto link = std::make_unique<MqttLink>(
                MqttLink::Config{station.path(), "127.0.0.1", hole.port(), "st/1", 200});
            QTest::qWait(200); // the link is trying to connect
            link->publish(weighing(1, "accepted"));
            link->publish(weighing(1, "finished"));
            QTRY_COMPARE(EventSpool::read(station.file("data/mqtt.pending")).size(), 2);
            QVERIFY(!link->connected());
            QElapsedTimer t;
            t.start();
            link.reset();
            QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        }
        QCOMPARE(EventSpool::read(station.file("data/mqtt.pending")).size(), 2);

        if (m_process.state() == QProcess::NotRunning)
            startBroker();
        Subscriber sub(m_port);
        QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed, 10000);
        MqttLink link({station.path(), "127.0.0.1", m_port, "st/1", 200});
        QVERIFY(link.waitSent(10000));
        QTRY_COMPARE_WITH_TIMEOUT(sub.count(), 2, 10000);
        QTest::qWait(300); // nothing more comes
        QCOMPARE(sub.count(), 2);
        QVERIFY(sub.weighings.at(1).contains("\"finished\""));
    }

    // The station's process killed (SIGKILL) as soon as publish() returns, and at moments
    // after it (sending, acknowledged, how far saved). A restart sends what was left: every
    // event arrives, and one that arrives twice (acknowledged, but killed before that was
    // saved) carries the same id both times, so that a consumer can drop the repeat.
    void killedAfterPublishLosesNone() {
        if (m_process.state() == QProcess::NotRunning)
            startBroker();
        Subscriber sub(m_port);
        QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed, 10000);
        const int before = sub.count();
        WorkDir station;
        const MqttLink::Config config{station.path(), "127.0.0.1", m_port, "st/1", 200};
        const int kills = 12;
        for (int k = 0; k < kills; ++k) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                MqttLink link(config);
                link.publish(weighing(k, "accepted"));
                if (k % 2)
                    ::usleep(useconds_t(k * 20000));
                ::raise(SIGKILL);
                ::_exit(1);
            }
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        }
        {
            MqttLink link(config);
            QVERIFY(link.waitSent(15000));
        }
        QCOMPARE(EventSpool::size(station.file("data/mqtt.pending")), 0);
        QMap<QString, QByteArray> byId;
        QTRY_VERIFY_WITH_TIMEOUT(sub.count() - before >= kills, 10000);
        QTest::qWait(300); // nothing more comes
        std::lock_guard lk(sub.mx);
        for (const QByteArray& m : sub.weighings.mid(before)) {
            const QString id = QJsonDocument::fromJson(m).object().value("id").toString();
            QVERIFY2(!id.isEmpty(), m.constData());
            QVERIFY2(!byId.contains(id) || byId.value(id) == m, m.constData()); // a true copy
            byId.insert(id, m);
        }
        QCOMPARE(byId.size(), kills);
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "test_mqtt.moc"
