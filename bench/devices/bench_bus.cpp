// Field-bus pacing on a modelled 9600-baud two-wire line (bus clock, no real time):
//  - readings/s per balance in mode "2" against the balances' turnaround, and with one
//    balance silent, beside the line's limit (8 + 11 bytes, turnaround, 3.5 characters);
//  - the light switch-off of 16 modules, modules answering after 3 ms.
// Timer1 ticks every 3 ms as in the station; the line model delivers each answer when its
// last byte would have arrived and counts any frame that starts before the line is free.
#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/BalanceFrames.h"
#include "devices/BalanceLink.h"
#include "devices/BalanceLinkTiming.h"
#include "devices/BalanceReadings.h"
#include "devices/BusClock.h"
#include "devices/LightBus.h"
#include "devices/MemorySerialPort.h"
#include "devices/ModbusFrames.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

struct Wire {
    ManualBusClock clock;
    MemorySerialPort port;
    qint64 freeUs = 0, dueUs = 0;
    QByteArray due;
    int early = 0;
    void expect(qint64 requestBytes, int turnaroundMs, const QByteArray& answer) {
        const qint64 now = clock.nowUs();
        if (now < freeUs)
            ++early;
        const qint64 end = now + RtuLine::lineUs(requestBytes);
        if (turnaroundMs < 0) {
            freeUs = end + 100'000 + RtuLine::kSilenceUs;
            return;
        }
        dueUs = end + turnaroundMs * 1000 + RtuLine::lineUs(answer.size());
        due = answer;
        freeUs = dueUs + RtuLine::kSilenceUs;
    }
    void step(qint64 us) {
        clock.advanceUs(us);
        if (!due.isEmpty() && dueUs <= clock.nowUs())
            port.feed(std::exchange(due, {}));
    }
};

QByteArray reading(int slave) {
    return ModbusFrames::withCrc(
        QByteArray::fromHex("030306000100000001").replace(0, 1, QByteArray(1, char(slave))));
}

void balances(int smallMs, int largeMs) {
    Wire w;
    StationSettings settings;
    settings.setText(Setting::SetType, QStringLiteral("2"));
    BalanceReadings readings;
    StatusLine status;
    MemorySerialPort comm2;
    (void)w.port.open(QStringLiteral("/dev/bus"));
    BalanceLink link(settings, w.port, comm2, readings, status, w.clock);
    w.port.answer = [&](const QByteArray& r) {
        w.expect(r.size(), r.at(0) == 3 ? smallMs : largeMs, reading(r.at(0)));
        return QByteArray();
    };
    const int seconds = 10;
    for (qint64 t = 0; t < seconds * 1'000'000LL; t += 500) {
        w.step(500);
        if (t % (BalanceLinkTiming::kModbusTickMs * 1000) == 0)
            link.tick();
    }
    auto limit = [](int ms) {
        if (ms < 0)
            return 0.0;
        return 1e6 /
               double(RtuLine::lineUs(8) + ms * 1000 + RtuLine::lineUs(11) + RtuLine::kSilenceUs) /
               2;
    };
    std::printf("turnaround small %3d ms, large %3d ms: small %5.1f/s, large %5.1f/s "
                "(line limit %4.1f / %4.1f with both polled), frames early %d\n",
                smallMs, largeMs, double(link.readingCount(Balance::Small)) / seconds,
                double(link.readingCount(Balance::Large)) / seconds,
                limit(smallMs) * (smallMs < 0 ? 0 : 1), limit(largeMs), w.early);
}

void lights(int turnaroundMs, int pacerUs) {
    Wire w;
    StationSettings settings;
    settings.setText(Setting::LightPort, QStringLiteral("/dev/lights"));
    TickTimer timer5(10);
    StatusLine status;
    (void)w.port.open(QStringLiteral("/dev/lights"));
    LightBus bus(settings, w.port, timer5, status, w.clock);
    w.port.answer = [&](const QByteArray& f) {
        w.expect(f.size(), turnaroundMs, ModbusFrames::withCrc(f.left(6)));
        return QByteArray();
    };
    const qint64 t0 = w.clock.nowUs();
    (void)bus.switchAllOffNow(false);
    while (!bus.idle()) {
        w.step(pacerUs);
        (void)bus.pump();
    }
    std::printf("light switch-off, 16 modules answering after %d ms, pacer %d ms: %.0f ms, "
                "%lld frames, frames early %d\n",
                turnaroundMs, pacerUs / 1000, double(w.clock.nowUs() - t0) / 1000,
                qlonglong(w.port.writes.size()), w.early);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    for (int ms : {3, 13, 30, 60})
        balances(ms, ms);
    balances(-1, 3);
    balances(-1, 30);
    lights(3, LightBus::kPacerMs * 1000);
    lights(10, LightBus::kPacerMs * 1000);
    return 0;
}
