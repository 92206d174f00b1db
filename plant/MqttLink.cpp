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

    mutable std::mutex mx;
    mutable std::condition_variable idle;
    std::condition_variable wake;
    QList<WeighingEvent> queued;
    bool stop = false;
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

    static void onConnect(mosquitto*, void* self, int rc) {
        auto* w = static_cast<Worker*>(self);
        if (rc != 0)
            return;
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

    bool connect() {
        mosq = mosquitto_new(nullptr, true, this);
        if (!mosq)
            return false;
        mosquitto_connect_callback_set(mosq, onConnect);
        mosquitto_publish_callback_set(mosq, onPublish);
        mosquitto_will_set(mosq, stateTopic.constData(), 7, "offline", 1, true);
        const int rc = mosquitto_connect(mosq, config.host.toUtf8().constData(), config.port, 30);
        if (rc != MOSQ_ERR_SUCCESS) {
            if (!reported && owner)
                emit owner->report(QStringLiteral("MQTT %1:%2 無法連線: %3")
                                       .arg(config.host)
                                       .arg(config.port)
                                       .arg(QString::fromUtf8(mosquitto_strerror(rc))));
            reported = true;
            drop();
            return false;
        }
        return true;
    }

    qint64 fileUnsent() const { return EventSpool::size(outbox) - acked; }

    // How far the broker has acknowledged, kept across a restart; a fully sent outbox is
    // removed (the outbox first: a count left without its outbox is dropped at start).
    void saveAcked(qint64& savedAcked) {
        if (acked == savedAcked)
            return;
        if (acked >= EventSpool::size(outbox) && flights.empty()) {
            if (EventSpool::remove(outbox) && EventSpool::remove(sentFile)) {
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
            const QList<WeighingEvent> batch = std::exchange(queued, {});
            const bool stopping = stop;
            lk.unlock();

            if (!batch.isEmpty()) {
                // On failure (disk full) the messages stay queued and are tried again.
                if (!EventSpool::append(outbox, batch)) {
                    lk.lock();
                    queued = batch + queued;
                    lk.unlock();
                }
            }
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
                    up = isConnected;
                }
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
                const int rc = mosquitto_loop(mosq, 50, 1);
                if (rc != MOSQ_ERR_SUCCESS) {
                    drop(); // the messages in flight are sent again on the next connection
                    retryAt = nowMs() + config.reconnectMs;
                } else if (up) {
                    reported = false;
                }
            } else {
                lk.lock();
                wake.wait_for(lk, std::chrono::milliseconds(50), [this] { return stop; });
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
    QString s = station;
    for (QChar& c : s)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#'))
            c = QLatin1Char('_');
    return s;
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
    if (m_w->wait(3000))
        delete m_w;
}

void MqttLink::publish(const WeighingEvent& e) {
    {
        std::lock_guard lk(m_w->mx);
        m_w->queued.append(e);
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
