#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "station/UndoPutBack.h"
#include "tests/support/Reports.h"
#include "tests/support/TestSupport.h"
#include "weighing/Completion.h"
#include "weighing/PortNames.h"
#include "weighing/WeighingEvents.h"
#include "weighing/WeighingModel.h"

#include <QDir>
#include <QTest>

namespace {

struct Events : WeighingEvents {
    QList<WeighingEvent> seen;
    void record(const WeighingEvent& e) override { seen << e; }
};

// The undo's aftermath over a working folder, counting what was read again.
struct PutBackRig {
    WorkDir dir;
    StatusLine status;
    Reports said{status};
    Events events;
    int recipesRead = 0, queuesRead = 0;
    Outcome recipesOutcome = Outcome::success();
    UndoPutBack putBack{dir.path(), dir.file(QStringLiteral("QUICK.txt")), status,
                        UndoPutBack::Reload{[this] {
                                                ++recipesRead;
                                                return recipesOutcome;
                                            },
                                            [this] { ++queuesRead; }}};
    PutBackRig() { putBack.setEvents(&events); }
};

} // namespace

class TestStationParts : public QObject {
    Q_OBJECT
private slots:
    void recipesBackRefillTheEditor() {
        PutBackRig r;
        r.recipesOutcome = Outcome::failure(QStringLiteral("editor not refilled"));
        r.putBack.restored(r.dir.file(QStringLiteral("QUICK.txt")), 2, QStringLiteral("DEL A"));
        QCOMPARE(r.recipesRead, 1);
        QCOMPARE(r.queuesRead, 0);
        QCOMPARE(r.said.texts(), QStringList{"editor not refilled"});
        QCOMPARE(r.events.seen.size(), 1);
        QCOMPARE(r.events.seen[0].event, QStringLiteral("undo"));
        QCOMPARE(r.events.seen[0].detail, QStringLiteral("DEL A: 2 record(s) back in QUICK.txt"));
    }

    // A job put back behind others keeps its journal, marked for when it reaches the head.
    void jobBehindOthersKeepsItsJournal() {
        PutBackRig r;
        r.dir.write(QLatin1String(Completion::kSetAsideJournal), "set aside");
        r.putBack.restored(r.dir.file(QStringLiteral("START_DISPEN.txt")), 1,
                           QStringLiteral("DEL"));
        QCOMPARE(r.queuesRead, 1);
        QCOMPARE(r.recipesRead, 0);
        QVERIFY(r.said.none());
        QVERIFY(!r.dir.exists(QLatin1String(Completion::kSetAsideJournal)));
        QCOMPARE(r.dir.read(QLatin1String(Completion::kRestoredJournal)), QByteArray("set aside"));
    }

    void journalThatCannotBeKeptIsSaid() {
        PutBackRig r;
        r.dir.write(QLatin1String(Completion::kSetAsideJournal), "set aside");
        QVERIFY(QDir(r.dir.path())
                    .mkpath(QLatin1String(Completion::kRestoredJournal) +
                            QStringLiteral("/in the way")));
        r.putBack.restored(r.dir.file(QStringLiteral("START_DISPEN.txt")), 1,
                           QStringLiteral("DEL"));
        QCOMPARE(r.said.texts().size(), 1);
        QVERIFY(r.said.texts()[0].startsWith(QStringLiteral("計量紀錄無法保留: ")));
    }

    void portOwners_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("setType");
        QTest::addColumn<QString>("owner");
        QTest::newRow("lights") << "MSComm3"
                                << "2"
                                << "燈號";
        QTest::newRow("small, text balances") << "MSComm1"
                                              << "1"
                                              << "SMALL";
        QTest::newRow("both on the bus") << "MSComm1"
                                         << " 2 "
                                         << "LARGE/SMALL";
        QTest::newRow("large") << "MSComm2"
                               << "2"
                               << "LARGE";
    }
    void portOwners() {
        QFETCH(QString, port);
        QFETCH(QString, setType);
        QFETCH(QString, owner);
        StationSettings settings;
        settings.setText(Setting::SetType, setType);
        WeighingModel weighing;
        weighing.Label3[0] = QStringLiteral("LARGE"); // the captions as converted
        weighing.Label3[1] = QStringLiteral("SMALL");
        QCOMPARE(portOwner(port, settings, weighing), owner);
    }
};

QTEST_GUILESS_MAIN(TestStationParts)
#include "test_station_parts.moc"
