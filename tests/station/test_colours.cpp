#include "weighing/StatusColours.h"
#include "weighing/WeighingModel.h"

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

    // The prompt pulses by 5 a phase (waiting for the container by 15), from white at 0.
    void promptColour_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("phase");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<Rgb>("colour");
        QTest::newRow("idle p0") << int(OverallStatus::Idle) << 0 << true << Rgb{255, 255, 255};
        QTest::newRow("idle p10") << int(OverallStatus::Idle) << 10 << true << Rgb{255, 255, 255};
        QTest::newRow("within p0") << int(OverallStatus::Within) << 0 << true << Rgb{255, 255, 255};
        QTest::newRow("within p1") << int(OverallStatus::Within) << 1 << true << Rgb{250, 255, 250};
        QTest::newRow("within p7") << int(OverallStatus::Within) << 7 << true << Rgb{220, 255, 220};
        QTest::newRow("within p10")
            << int(OverallStatus::Within) << 10 << true << Rgb{205, 255, 205};
        QTest::newRow("too much p1")
            << int(OverallStatus::TooMuch) << 1 << true << Rgb{255, 250, 250};
        QTest::newRow("too much, deepest")
            << int(OverallStatus::TooMuch) << 10 << true << Rgb{255, 205, 205};
        QTest::newRow("too little p1")
            << int(OverallStatus::TooLittle) << 1 << true << Rgb{250, 250, 255};
        QTest::newRow("too little p10")
            << int(OverallStatus::TooLittle) << 10 << true << Rgb{205, 205, 255};
        QTest::newRow("waiting zero p0")
            << int(OverallStatus::Container) << 0 << true << Rgb{255, 255, 255};
        QTest::newRow("waiting zero p1")
            << int(OverallStatus::Container) << 1 << true << Rgb{255, 255, 240};
        QTest::newRow("waiting zero p7")
            << int(OverallStatus::Container) << 7 << true << Rgb{255, 255, 150};
        QTest::newRow("waiting zero, deepest")
            << int(OverallStatus::Container) << 10 << true << Rgb{255, 255, 105};
        QTest::newRow("other 5") << 5 << 1 << false << Rgb{};
        QTest::newRow("other -1") << -1 << 7 << false << Rgb{};
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

    // A line's box pulses by 20 a phase when active, by 15 when too much, from white at 0.
    void boxColour_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("phase");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<Rgb>("colour");
        QTest::newRow("idle p0") << int(LineStatusCode::Idle) << 0 << true << Rgb{255, 255, 255};
        QTest::newRow("idle p5") << int(LineStatusCode::Idle) << 5 << true << Rgb{255, 255, 255};
        QTest::newRow("active p0")
            << int(LineStatusCode::Active) << 0 << true << Rgb{255, 255, 255};
        QTest::newRow("active p1")
            << int(LineStatusCode::Active) << 1 << true << Rgb{235, 255, 235};
        QTest::newRow("active p5")
            << int(LineStatusCode::Active) << 5 << true << Rgb{155, 255, 155};
        QTest::newRow("active, deepest")
            << int(LineStatusCode::Active) << 10 << true << Rgb{55, 255, 55};
        QTest::newRow("too much p1")
            << int(LineStatusCode::TooMuch) << 1 << true << Rgb{255, 240, 240};
        QTest::newRow("too much p5")
            << int(LineStatusCode::TooMuch) << 5 << true << Rgb{255, 180, 180};
        QTest::newRow("too much, deepest")
            << int(LineStatusCode::TooMuch) << 10 << true << Rgb{255, 105, 105};
        QTest::newRow("within, steady p0")
            << int(LineStatusCode::Within) << 0 << true << Rgb{50, 255, 50};
        QTest::newRow("within, steady p10")
            << int(LineStatusCode::Within) << 10 << true << Rgb{50, 255, 50};
        QTest::newRow("waiting turn p0")
            << int(LineStatusCode::Waiting) << 0 << true << Rgb{255, 255, 100};
        QTest::newRow("waiting turn p10")
            << int(LineStatusCode::Waiting) << 10 << true << Rgb{255, 255, 100};
        QTest::newRow("other 9") << 9 << 5 << false << Rgb{};
        QTest::newRow("other -1") << -1 << 1 << false << Rgb{};
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
