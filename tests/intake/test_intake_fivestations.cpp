// Five stations poll one PostgreSQL order database at the same time. Every released line
// must end in exactly its own station's queue, once, and every taken line at 45.
#include "tests/intake/IntakeRig.h"

#include <QElapsedTimer>
#include <QTimer>
#include <memory>

class TestFiveStations : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { DbFixture::setUp(QStringLiteral("ds_test_five_stations")); }

    void fiveStationsShareOneDatabase() {
        const OrderDb db = DbFixture::pg();
        if (!db.available)
            QSKIP(qPrintable(db.why));

        // 300 orders: each for one station with 1..4 lines, every 7th also with 2 lines for
        // the next station, every 3rd also with a prod_type 1 line (never taken).
        constexpr int kOrders = 300;
        QList<OrderLine> lines;
        QMap<QString, QStringList> expected; // "station|order" -> codes in line order
        int takenLines = 0, auxLines = 0;
        auto add = [&](int order, int station, int count) {
            const QString id = QStringLiteral("O-%1").arg(order, 4, 10, QLatin1Char('0'));
            for (int j = 1; j <= count; ++j) {
                OrderLine l;
                l.idNo = id;
                l.note3 = QString::number(station);
                l.code = QStringLiteral("C%1-%2-%3").arg(order).arg(station).arg(j);
                l.weight = QString::number(j);
                lines << l;
                expected[QStringLiteral("%1|%2").arg(station).arg(id)] << l.code;
                ++takenLines;
            }
        };
        for (int k = 1; k <= kOrders; ++k) {
            const int s = 1 + k % 5;
            add(k, s, 1 + k % 4);
            if (k % 7 == 0)
                add(k, s % 5 + 1, 2);
            if (k % 3 == 0) {
                OrderLine aux;
                aux.idNo = QStringLiteral("O-%1").arg(k, 4, 10, QLatin1Char('0'));
                aux.prodType = 1;
                aux.note3 = QString::number(s);
                aux.code = QStringLiteral("AUX%1").arg(k);
                lines << aux;
                ++auxLines;
            }
        }
        QVERIFY(DbFixture::createOrders(db, lines).ok());

        std::vector<std::unique_ptr<IntakeRig>> rigs;
        std::vector<std::unique_ptr<OrderPolling>> pollers;
        std::vector<bool> done(5, false);
        const Option boxes[] = {Option::PollPowder, Option::PollAux2, Option::PollAux3,
                                Option::PollAux4, Option::PollAux5};
        for (int i = 0; i < 5; ++i) {
            rigs.push_back(std::make_unique<IntakeRig>(db));
            rigs[size_t(i)]->settings.setOption(boxes[i], 1);
            pollers.push_back(std::make_unique<OrderPolling>(rigs[size_t(i)]->ctx));
            connect(pollers[size_t(i)].get(), &OrderPolling::stepFinished, this,
                    [&done, &rigs, i](bool queued, bool marked) {
                        if (!queued && !marked && !rigs[size_t(i)]->faults.polling.active())
                            done[size_t(i)] = true; // a step that found nothing for the station
                    });
        }
        // Timer2 of each station, sped up.
        QTimer timer2;
        timer2.setInterval(2);
        connect(&timer2, &QTimer::timeout, this, [&] {
            for (int i = 0; i < 5; ++i)
                if (!done[size_t(i)])
                    pollers[size_t(i)]->tick();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        timer2.start();
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(done.begin(), done.end(), [](bool d) { return d; }),
                                 150000);
        timer2.stop();
        qInfo("%d orders, %d lines taken by 5 stations in %lld ms", kOrders, takenLines,
              elapsed.elapsed());

        // Every (station, order) exactly once, in its own station's queue, with its lines.
        QMap<QString, int> seen;
        for (int i = 0; i < 5; ++i) {
            for (const JobRecord& j :
                 rigs[size_t(i)]->jobs(QStringLiteral("recv/START_DISPEN.txt"))) {
                const QString key = QStringLiteral("%1|%2").arg(i + 1).arg(j.OrderNo);
                ++seen[key];
                QVERIFY2(expected.contains(key), qPrintable(key));
                const QStringList& codes = expected[key];
                for (int n = 1; n <= JobRecord::kLines; ++n)
                    QCOMPARE(j.Code[size_t(n)], n <= codes.size() ? codes[n - 1] : QString());
            }
            QVERIFY(!QFileInfo::exists(pollers[size_t(i)]->journalFile()));
            QVERIFY(!rigs[size_t(i)]->faults.polling.active());
        }
        QCOMPARE(seen.size(), expected.size());
        for (auto it = seen.cbegin(); it != seen.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
        const auto count = [&](const char* where) {
            return DbFixture::select(db,
                                     QStringLiteral("select count(*) from vantrell where ") +
                                         QLatin1String(where),
                                     0)
                .value(0)
                .value(0)
                .toInt();
        };
        QCOMPARE(count("prod_type = 2 and step_no = 45"), takenLines);
        QCOMPARE(count("prod_type = 2 and step_no = 44"), 0);
        QCOMPARE(count("prod_type = 1 and step_no = 44"), auxLines);
    }
};

QTEST_GUILESS_MAIN(TestFiveStations)
#include "test_intake_fivestations.moc"
