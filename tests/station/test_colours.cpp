#include "station/StatusColours.h"
#include "station/WeighingModel.h"

#include <QTest>

Q_DECLARE_METATYPE(Rgb)

namespace {
QString describe(const std::optional<Rgb>& c) {
    return c ? QStringLiteral("(%1, %2, %3)").arg(c->r).arg(c->g).arg(c->b)
             : QStringLiteral("unchanged");
}
} // namespace

class TestColours : public QObject {
    Q_OBJECT
private slots:
    void blinkPhaseRunsZeroToTenAndRepeats() {
        WeighingModel w;
        StatusColours c(w);
        QList<int> seen;
        for (int i = 0; i < 23; ++i) {
            c.tick();
            seen << w.LineStatus[0];
        }
        QCOMPARE(seen, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9,  10, 0, 1,
                                   2, 3, 4, 5, 6, 7, 8, 9, 10, 0,  1}));
    }

    void phaseOutOfRangeRestartsAtZero() {
        WeighingModel w;
        StatusColours c(w);
        w.LineStatus[0] = -7; // written by something else
        w.LineStatus[1] = LineStatusCode::Active;
        c.tick();
        QCOMPARE(w.LineStatus[0], qint16(0));
        QCOMPARE(*c.box(0), (Rgb{255, 255, 255}));
    }

    void promptColour_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("phase");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<Rgb>("colour");
        for (int p : {0, 1, 7, 10}) {
            const QByteArray at = " p" + QByteArray::number(p);
            QTest::newRow("idle" + at) << 0 << p << true << Rgb{255, 255, 255};
            QTest::newRow("within" + at) << 1 << p << true << Rgb{255 - 5 * p, 255, 255 - 5 * p};
            QTest::newRow("too much" + at) << 2 << p << true << Rgb{255, 255 - 5 * p, 255 - 5 * p};
            QTest::newRow("too little" + at)
                << 3 << p << true << Rgb{255 - 5 * p, 255 - 5 * p, 255};
            QTest::newRow("waiting zero" + at) << 4 << p << true << Rgb{255, 255, 255 - 15 * p};
            QTest::newRow("other 5" + at) << 5 << p << false << Rgb{};
            QTest::newRow("other -1" + at) << -1 << p << false << Rgb{};
        }
        QTest::newRow("waiting zero, deepest") << 4 << 10 << true << Rgb{255, 255, 105};
        QTest::newRow("too much, deepest") << 2 << 10 << true << Rgb{255, 205, 205};
    }
    void promptColour() {
        QFETCH(int, status);
        QFETCH(int, phase);
        QFETCH(bool, changes);
        QFETCH(Rgb, colour);
        const std::optional<Rgb> got = StatusColours::promptColour(status, phase);
        QCOMPARE(got.has_value(), changes);
        if (changes)
            QVERIFY2(*got == colour, qPrintable(describe(got)));
    }

    void boxColour_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("phase");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<Rgb>("colour");
        for (int p : {0, 1, 5, 10}) {
            const QByteArray at = " p" + QByteArray::number(p);
            QTest::newRow("idle" + at) << 0 << p << true << Rgb{255, 255, 255};
            QTest::newRow("active" + at) << 1 << p << true << Rgb{255 - 20 * p, 255, 255 - 20 * p};
            QTest::newRow("too much" + at)
                << 2 << p << true << Rgb{255, 255 - 15 * p, 255 - 15 * p};
            QTest::newRow("within, steady" + at) << 3 << p << true << Rgb{50, 255, 50};
            QTest::newRow("waiting turn" + at) << 4 << p << true << Rgb{255, 255, 100};
            QTest::newRow("other 9" + at) << 9 << p << false << Rgb{};
        }
        QTest::newRow("active, deepest") << 1 << 10 << true << Rgb{55, 255, 55};
        QTest::newRow("too much, deepest") << 2 << 10 << true << Rgb{255, 105, 105};
    }
    void boxColour() {
        QFETCH(int, status);
        QFETCH(int, phase);
        QFETCH(bool, changes);
        QFETCH(Rgb, colour);
        const std::optional<Rgb> got = StatusColours::boxColour(status, phase);
        QCOMPARE(got.has_value(), changes);
        if (changes)
            QVERIFY2(*got == colour, qPrintable(describe(got)));
    }

    // The tick reads the statuses of the model: element i + 1 colours box i, element 11
    // the prompt, with the phase of this tick.
    void tickColoursEachBoxByItsLine() {
        WeighingModel w;
        StatusColours c(w);
        w.LineStatus[0] = 2; // this tick's phase is 3
        w.LineStatus[1] = LineStatusCode::Within;
        w.LineStatus[2] = LineStatusCode::Active;
        w.LineStatus[3] = LineStatusCode::TooMuch;
        w.LineStatus[4] = LineStatusCode::Waiting;
        w.LineStatus[10] = 7;
        w.LineStatus[WeighingModel::kOverall] = OverallStatus::Container;
        c.tick();
        QCOMPARE(w.LineStatus[0], qint16(3));
        QVERIFY(*c.prompt() == (Rgb{255, 255, 210}));
        QVERIFY(*c.box(0) == (Rgb{50, 255, 50}));
        QVERIFY(*c.box(1) == (Rgb{195, 255, 195}));
        QVERIFY(*c.box(2) == (Rgb{255, 210, 210}));
        QVERIFY(*c.box(3) == (Rgb{255, 255, 100}));
        QVERIFY(*c.box(4) == (Rgb{255, 255, 255}));
        QVERIFY(!c.box(9).has_value());
    }
};

QTEST_GUILESS_MAIN(TestColours)
#include "test_colours.moc"
