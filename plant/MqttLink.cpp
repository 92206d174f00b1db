#include "plant/MqttLink.h"

#include "common/FileOps.h"
#include "plant/EventSpool.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <mosquitto.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
std::once_flag g_libInit;

qint64 nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

struct MqttLink::Worker : QThread {
    MqttLink::Config config;
    QString outbox, sentFile;
    QByteArray weighingTopic, stateTopic;
    MqttLink* owner = nullptr;

    // spoolMx is taken before mx where both are needed. The outbox is appended to, read
    // for sending and removed under spoolMx only, so that the closing thread can add to it
    // while the link's thread is held elsewhere.
    std::mutex spoolMx;
    mutable std::mutex mx;
    mutable std::condition_variable idle;
    std::condition_variable wake;
    QList<WeighingEvent> queued; // published, not in the outbox yet
    bool stop = false;
    bool fresh = false; // published since the link's thread last looked
    bool isConnected = false;
    qint64 unsent = 0; // 0 once everything queued and in the outbox is acknowledged

    // The link's own thread only.
    mosquitto* mosq = nullptr;
    qint64 acked = 0, nextSend = 0;
    struct Flight {
        int mid;
        qint64 end;
        bool acked;
    };
    std::deque<Flight> flights;
    bool reported = false;
    int refused = 0; // the broker's refusal of the last connection (CONNACK code)

    static void onConnect(mosquitto*, void* self, int rc) {
        auto* w = static_cast<Worker*>(self);
        if (rc != 0) {
            w->refused = rc;
            return;
        }
        mosquitto_publish(w->mosq, nullptr, w->stateTopic.constData(), 6, "online", 1, true);
        std::lock_guard lk(w->mx);
        w->isConnected = true;
    }
    static void onPublish(mosquitto*, void* self, int mid) {
        auto* w = static_cast<Worker*>(self);
        for (Flight& f : w->flights)
            if (f.mid == mid)
                f.acked = true;
        while (!w->flights.empty() && w->flights.front().acked) {
            w->acked = w->flights.front().end;
            w->flights.pop_front();
        }
    }

    void drop() {
        if (mosq) {
            mosquitto_disconnect(mosq);
            mosquitto_destroy(mosq);
        }
        mosq = nullptr;
        flights.clear();
        nextSend = acked;
        std::lock_guard lk(mx);
        isConnected = false;
    }

    void unreachable(int rc) {
        if (reported)
            return;
        reported = true;
        const QString why =
            QString::fromUtf8(refused ? mosquitto_connack_string(refused) : mosquitto_strerror(rc));
        std::lock_guard lk(mx); // the owner may be closing
        if (owner)
            emit owner->report(QStringLiteral("MQTT %1:%2 無法連線: %3")
                                   .arg(config.host)
                                   .arg(config.port)
                                   .arg(why));
    }

    // Starts a connection without waiting for it: a broker that drops packets would hold
    // the thread for minutes, and the messages published meanwhile must reach the outbox.
    // mosquitto_loop completes it (or fails).
    bool connect() {
        refused = 0;
        mosq = mosquitto_new(clientId(config.station).toUtf8().constData(), true, this);
        if (!mosq)
            return false;
        int rc = MOSQ_ERR_SUCCESS;
        if (!config.username.isEmpty())
            rc = mosquitto_username_pw_set(
                mosq, config.username.toUtf8().constData(),
                config.password.isEmpty() ? nullptr : config.password.toUtf8().constData());
        if (rc == MOSQ_ERR_SUCCESS && config.tls) {
            const QByteArray ca = QFile::encodeName(config.caFile);
            rc = mosquitto_tls_set(mosq, ca.isEmpty() ? nullptr : ca.constData(),
                                   ca.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                                   nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            unreachable(rc);
            drop();
            return false;
        }
        mosquitto_connect_callback_set(mosq, onConnect);
        mosquitto_publish_callback_set(mosq, onPublish);
        mosquitto_will_set(mosq, stateTopic.constData(), 7, "offline", 1, true);
        rc = mosquitto_connect_async(mosq, config.host.toUtf8().constData(), config.port,
                                     config.keepalive);
        if (rc != MOSQ_ERR_SUCCESS) {
            unreachable(rc);
            drop();
            return false;
        }
        return true;
    }

    // Appends the queued messages to the outbox; on failure (disk full) they stay queued
    // and are tried again. Under spoolMx none is appended twice, whichever thread calls.
    bool spoolQueued() {
        std::lock_guard s(spoolMx);
        QList<WeighingEvent> batch;
        {
            std::lock_guard lk(mx);
            batch = queued;
        }
        if (batch.isEmpty())
            return true;
        if (!EventSpool::append(outbox, batch))
            return false;
        std::lock_guard lk(mx);
        queued.remove(0, batch.size());
        return true;
    }

    qint64 fileUnsent() const { return EventSpool::size(outbox) - acked; }

    // How far the broker has acknowledged, kept across a restart; a fully sent outbox is
    // emptied, and kept so that the next synced append needs no new folder entry (the
    // outbox first: a count beyond its outbox is cut to it at start).
    void saveAcked(qint64& savedAcked) {
        if (acked == savedAcked)
            return;
        if (flights.empty()) {
            std::lock_guard s(spoolMx);
            if (acked >= EventSpool::size(outbox) && EventSpool::dropFront(outbox, acked) &&
                EventSpool::remove(sentFile)) {
                acked = nextSend = savedAcked = 0;
                return;
            }
        }
        if (FileOps::replaceWhole(sentFile, sentFile + QStringLiteral(".new"),
                                  QByteArray::number(acked) + '\n'))
            savedAcked = acked;
    }

    void run() override {
        std::call_once(g_libInit, [] { mosquitto_lib_init(); });
        qint64 savedAcked = acked;
        qint64 retryAt = 0;
        std::unique_lock lk(mx);
        for (;;) {
            const bool stopping = stop;
            fresh = false;
            lk.unlock();

            // Every message is in the outbox before anything else is tried.
            (void)spoolQueued();
            if (stopping) {
                if (mosq) {
                    mosquitto_publish(mosq, nullptr, stateTopic.constData(), 7, "offline", 1, true);
                    for (int i = 0; i < 10 && mosquitto_want_write(mosq); ++i)
                        mosquitto_loop(mosq, 20, 1);
                    mosquitto_loop(mosq, 50, 1); // the acknowledgement of the last messages
                }
                saveAcked(savedAcked);
                drop();
                break;
            }
            if (!mosq && nowMs() >= retryAt) {
                if (!connect())
                    retryAt = nowMs() + config.reconnectMs;
            }
            if (mosq) {
                bool up;
                {
                    std::lock_guard g(mx);
                    up = isConnected && !stop;
                }
                std::unique_lock s(spoolMx);
                while (up && flights.size() < size_t(kInFlight)) {
                    qint64 next = nextSend;
                    const QByteArray msg = EventSpool::lineAt(outbox, nextSend, &next);
                    if (next == nextSend)
                        break;
                    int mid = 0;
                    if (mosquitto_publish(mosq, &mid, weighingTopic.constData(), int(msg.size()),
                                          msg.constData(), 1, false) != MOSQ_ERR_SUCCESS)
                        break;
                    flights.push_back({mid, next, false});
                    nextSend = next;
                }
                s.unlock();
                const int rc = mosquitto_loop(mosq, 50, 1);
                if (rc != MOSQ_ERR_SUCCESS) {
                    if (!up)
                        unreachable(rc); // the connection was never made
                    drop(); // the messages in flight are sent again on the next connection
                    retryAt = nowMs() + config.reconnectMs;
                } else if (up) {
                    reported = false;
                }
            } else {
                lk.lock();
                wake.wait_for(lk, std::chrono::milliseconds(50), [this] { return stop || fresh; });
                lk.unlock();
            }
            saveAcked(savedAcked);

            lk.lock();
            unsent = queued.size() + fileUnsent();
            idle.notify_all();
        }
    }
};

QString MqttLink::topicName(const QString& station) {
    return QString::fromLatin1(station.toUtf8().toPercentEncoding());
}

QString MqttLink::clientId(const QString& station) {
    return QStringLiteral("dyestation-") + topicName(station);
}

MqttLink::MqttLink(Config config, QObject* parent) : QObject(parent), m_w(new Worker) {
    QDir(config.workDir).mkpath(QStringLiteral("data"));
    const QDir dir(config.workDir);
    m_w->outbox = dir.filePath(QStringLiteral("data/mqtt.pending"));
    m_w->sentFile = dir.filePath(QStringLiteral("data/mqtt.sent"));
    const QString base = QStringLiteral("dyestation/") + topicName(config.station);
    m_w->weighingTopic = (base + QStringLiteral("/weighing")).toUtf8();
    m_w->stateTopic = (base + QStringLiteral("/state")).toUtf8();
    if (!QFile::exists(m_w->outbox)) {
        std::ignore = EventSpool::remove(m_w->sentFile);
    } else {
        QFile f(m_w->sentFile);
        if (f.open(QIODevice::ReadOnly))
            m_w->acked = qBound(qint64(0), f.readAll().trimmed().toLongLong(),
                                EventSpool::size(m_w->outbox));
    }
    m_w->nextSend = m_w->acked;
    m_w->unsent = m_w->fileUnsent();
    m_w->config = std::move(config);
    m_w->owner = this;
    m_w->start();
}

MqttLink::~MqttLink() {
    {
        std::lock_guard lk(m_w->mx);
        m_w->stop = true;
        m_w->owner = nullptr;
    }
    m_w->wake.notify_all();
    if (m_w->wait(3000)) {
        delete m_w;
        return;
    }
    // The link's thread is held (a name lookup of the broker's host): the messages it has
    // not appended to the outbox yet go there from here, and are sent at the next start.
    if (!m_w->spoolQueued())
        qWarning("MQTT: messages lost at close: %s", qPrintable(m_w->outbox));
}

void MqttLink::publish(const WeighingEvent& e) {
    // In the outbox, synced, before this returns, so that a kill from here on loses no
    // message; behind the messages that wait in memory (their append failed) when there are.
    {
        std::lock_guard s(m_w->spoolMx);
        bool direct;
        {
            std::lock_guard lk(m_w->mx);
            direct = m_w->queued.isEmpty();
        }
        const bool spooled = direct && EventSpool::append(m_w->outbox, {e}).ok();
        std::lock_guard lk(m_w->mx);
        if (!spooled)
            m_w->queued.append(e);
        m_w->fresh = true;
        ++m_w->unsent;
    }
    m_w->wake.notify_all();
}

bool MqttLink::connected() const {
    std::lock_guard lk(m_w->mx);
    return m_w->isConnected;
}

bool MqttLink::waitSent(int ms) const {
    std::unique_lock lk(m_w->mx);
    return m_w->idle.wait_for(lk, std::chrono::milliseconds(ms),
                              [this] { return m_w->unsent == 0; });
}
