#pragma once
#include "weighing/WeighingEvents.h"

#include <QObject>
#include <QString>

// Publishes weighing events to the plant's MQTT broker (libmosquitto), each as a JSON
// object of its "id" and the log's columns on dyestation/<station>/weighing with QoS 1, in
// order. QoS 1 delivers at least once: a message whose acknowledgement was not saved before
// a kill is sent again at the next start with the same id, which is how a consumer tells
// it from a new event. Every message is appended to data/mqtt.pending (synced) by publish()
// itself, before it returns, and counts as sent only
// once the broker has acknowledged it (data/mqtt.sent holds how far): while the broker is
// away the messages wait there, also across a restart, and go out when it is back. The
// connection is made without waiting for it (a broker's host that drops packets would
// hold the link for minutes), and messages not yet appended when the link closes are
// appended by the closing thread.
// dyestation/<station>/state says "online" while connected, retained, and "offline" when
// the station closes or, as the last will, when the connection is lost.
// A plant's broker: a user name and password, TLS (the broker's certificate checked against
// the CA file and the host name), a keepalive and a client id of the station's own; a broker
// that refuses the log-in is reported with its reason.
class MqttLink : public QObject {
    Q_OBJECT
public:
    struct Config {
        QString workDir;
        QString host;
        int port = 1883;
        QString station;
        int reconnectMs = 1000;
        QString username{}; // blank: no log-in
        QString password{};
        bool tls = false;
        QString caFile{}; // blank with tls: the system's certificate authorities
        int keepalive = 30;
    };
    static constexpr int kInFlight = 16; // messages sent ahead of their acknowledgement
    // The station's name as a topic level: UTF-8, percent-encoded except for letters,
    // digits and `-._~` (so '/', '+', '#', '%', blanks and non-ASCII are encoded, and two
    // names never share a level). "bench/3" is "bench%2F3".
    static QString topicName(const QString& station);
    // The client id the link connects with, the same at every start of a station.
    static QString clientId(const QString& station);

    explicit MqttLink(Config config, QObject* parent = nullptr);
    ~MqttLink() override;

    // Thread-safe; the message is in the outbox (synced) when it returns.
    void publish(const WeighingEvent& e);
    bool connected() const;
    // Waits until every message published so far is acknowledged or `ms` pass.
    bool waitSent(int ms) const;

signals:
    // From the link's thread: the broker could not be reached (once until it is again).
    void report(const QString& text);

private:
    struct Worker;
    Worker* m_w;
};
