// The main window drawn offscreen at the sizes of the plant's screens, a line being
// weighed: the figures of the weighing panel must stay large enough to be read from two
// metres, whatever a change of layout does to the panel.
#include "app/Station.h"
#include "config/Language.h"
#include "devices/BalanceReadings.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"
#include "station/Form3Panel.h"
#include "tests/support/TestSupport.h"
#include "weighing/Sequencer.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

struct Rig {
    WorkDir dir;
    FixedClock clock{QDateTime(QDate(2024, 3, 2), QTime(9, 5, 7))};
    std::unique_ptr<Station> station;
    std::unique_ptr<Sequencer> seq;

    explicit Rig(bool simplified) {
        StationOptions o;
        o.workDir = dir.path();
        o.clock = &clock;
        o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
        station = std::make_unique<Station>(o);
        Station& s = *station;
        s.settings().setText(Setting::WeightDecision, QStringLiteral("1000"));
        if (simplified) {
            s.settings().setText(Setting::Language, QStringLiteral("1"));
            QVERIFY(simplifyWindows({{&s.form3(), Form3::simplifiedTexts()}}, stationConverter()));
        }
        for (Balance b : kBalances) {
            s.readings().setLive(b, true);
            s.readings().setCaption(b, QStringLiteral("0"));
        }
        seq = std::make_unique<Sequencer>(
            Sequencer::Parts{s.weighing(), s.readings(), s.lightMap(), s.lightBus(), s.settings(),
                             s.runControl(), s.clock(), s.status(), dir.path(), nullptr});
    }

    // An order of six lines (two rows of line boxes), its first line weighed on the
    // large balance, short of its target.
    void weighFirstLine(const QString& reading) {
        JobRecord j;
        j.OrderNo = QStringLiteral("P-240302-017");
        const char* codes[] = {"RED-3BS 150%", "YEL-4GL", "BLU-RSP", "NAVY-S", "SALT", "SODA"};
        const char* weights[] = {"1500", "812.35", "45.2", "2600", "18500", "7.05"};
        for (int i = 0; i < 6; ++i) {
            j.Code[size_t(i + 1)] = QString::fromUtf8(codes[i]);
            j.Weight[size_t(i + 1)] = QString::fromLatin1(weights[i]);
        }
        QVERIFY(AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), j).ok());
        for (int i = 0; i < 200 && station->weighing().State != SequencerState::Weigh; ++i)
            seq->tick();
        QCOMPARE(station->weighing().State, int(SequencerState::Weigh));
        station->readings().setCaption(Balance::Large, reading);
        seq->tick();
    }
};

// The height of the dark pixels in `area`, 0 when there are none.
int inkHeight(const QImage& image, const QRect& area) {
    int top = -1, bottom = -1;
    const QRect a = area.intersected(image.rect());
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x)
            if (qGray(image.pixel(x, y)) < 100) {
                if (top < 0)
                    top = y;
                bottom = y;
                break;
            }
    return top < 0 ? 0 : bottom - top + 1;
}

} // namespace

class TestPanelRender : public QObject {
    Q_OBJECT

private slots:
    // The client area of a window maximised on each screen, with a 40 px taskbar and a
    // 30 px title bar taken off; the least heights of the difference and of the target and
    // the amount grow with the screen. In both scripts.
    void figureHeights_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("simplified");
        QTest::addColumn<QString>("reading");
        QTest::addColumn<int>("difference");
        QTest::addColumn<int>("figures");
        const QSize small(1366, 698), large(1920, 1010);
        QTest::newRow("1366x768 pour") << small << false << "0" << 80 << 48;
        QTest::newRow("1366x768 last grams") << small << false << "1487.6" << 80 << 48;
        QTest::newRow("1366x768 within simplified") << small << true << "1500.1" << 80 << 48;
        QTest::newRow("1920x1080 too much") << large << false << "1502.5" << 112 << 67;
        QTest::newRow("1920x1080 pour simplified") << large << true << "612.4" << 112 << 67;
    }
    void figureHeights() {
        QFETCH(QSize, size);
        QFETCH(bool, simplified);
        QFETCH(QString, reading);
        QFETCH(int, difference);
        QFETCH(int, figures);
        Rig r(simplified);
        r.weighFirstLine(reading);
        Form3& f3 = r.station->form3();
        f3.resize(size);
        f3.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f3));
        const QImage image = f3.grab().toImage();
        if (const QByteArray dir = qgetenv("DS_PANEL_PICTURES"); !dir.isEmpty())
            image.save(QStringLiteral("%1/panel-%2.png")
                           .arg(QString::fromLocal8Bit(dir),
                                QString::fromLatin1(QTest::currentDataTag())
                                    .replace(QLatin1Char(' '), QLatin1Char('-'))));
        const QPoint at = f3.Panel->mapTo(&f3, QPoint(0, 0));
        const int heights[3] = {
            inkHeight(image, f3.Panel->figureRect(WeighingPanel::Target).translated(at)),
            inkHeight(image, f3.Panel->figureRect(WeighingPanel::Amount).translated(at)),
            inkHeight(image, f3.Panel->figureRect(WeighingPanel::Difference).translated(at))};
        qInfo("%s: target %d px, amount %d px, difference %d px", QTest::currentDataTag(),
              heights[0], heights[1], heights[2]);
        QVERIFY2(heights[0] >= figures, "target");
        QVERIFY2(heights[1] >= figures, "amount");
        QVERIFY2(heights[2] >= difference, "difference");
        // The zeroing beside a balance speaks the window's script.
        QTest::mouseClick(f3.ZeroButton[1], Qt::LeftButton);
        QCOMPARE(f3.ZeroState[1]->text(),
                 simplified ? QStringLiteral("归零中…") : QStringLiteral("歸零中…"));
    }
};

QTEST_MAIN(TestPanelRender)
#include "test_panel_render.moc"
