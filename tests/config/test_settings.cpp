#include "common/StatusLine.h"
#include "common/TextField.h"
#include "config/Form1.h"
#include "config/SettingsFile.h"
#include "config/StationSettings.h"
#include "devices/LightMap.h"
#include "recipes/RecipeEditor.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Unprivileged.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void missingFileLoadsEmptyAndSavesFullLayout() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("set.txt"));
        StationSettings s;
        QVERIFY(SettingsFile::load(f, s).ok());
        QVERIFY(QFileInfo::exists(f));
        for (int i = 0; i < StationSettings::kTextCount; ++i)
            QCOMPARE(s.text(i), QString());
        for (int i = 0; i < StationSettings::kOptionCount; ++i)
            QCOMPARE(s.option(Option(i)), 0);
        QVERIFY(SettingsFile::save(f, s).ok());
        const QByteArray bytes = dir.read(QStringLiteral("set.txt"));
        QCOMPARE(bytes.size(), 11400);
        QCOMPARE(bytes.left(2800), QByteArray(2800, ' '));
        QCOMPARE(bytes.mid(2800, 7200), QByteArray(7200, '\0'));
        QCOMPARE(bytes.mid(10000, 100), QByteArray("0").append(99, ' '));
        // Owner only: the file holds the database password.
        QCOMPARE(QFileInfo(f).permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup),
                 QFileDevice::Permissions());
    }

    void recordsAtTheirOffsets() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("set.txt"));
        StationSettings s;
        s.setText(Setting::DataSourceName, QStringLiteral("  orders db  "));
        s.setText(Setting::Language, QStringLiteral("1"));
        s.setText(Setting::LightPort, QStringLiteral("單號"));
        s.setText(Setting::Spare27, QString(120, QLatin1Char('x')));
        s.setOption(Option::DyeBarcode, 1);   // Check1(1): record 104
        s.setOption(Option::PollAux4, 1);     // Check4(3): record 113
        s.setOption(Option::SpareOption3, 2); // Check2(2), greyed: record 108
        QVERIFY(SettingsFile::save(f, s).ok());
        const QByteArray b = dir.read(QStringLiteral("set.txt"));
        auto rec = [&](int n) { return b.mid((n - 1) * 100, 100); };
        QCOMPARE(rec(1), QByteArray("orders db").append(91, ' '));
        QCOMPARE(rec(17), QByteArray("1").append(99, ' '));
        QCOMPARE(rec(24), QByteArray("\xB3\xE6\xB8\xB9", 4).append(96, ' '));
        QCOMPARE(rec(28), QByteArray(100, 'x'));
        QCOMPARE(rec(104).trimmed(), QByteArray("1"));
        QCOMPARE(rec(113).trimmed(), QByteArray("1"));
        QCOMPARE(rec(108).trimmed(), QByteArray("2"));
        QCOMPARE(rec(101).trimmed(), QByteArray("0"));

        StationSettings back;
        QVERIFY(SettingsFile::load(f, back).ok());
        QCOMPARE(back.text(Setting::DataSourceName), QStringLiteral("orders db"));
        QCOMPARE(back.text(Setting::LightPort), QStringLiteral("單號"));
        QCOMPARE(back.text(Setting::Spare27), QString(100, QLatin1Char('x')));
        QCOMPARE(back.option(Option::DyeBarcode), 1);
        QCOMPARE(back.option(Option::PollAux4), 1);
        QCOMPARE(back.option(Option::SpareOption3), 2);
        QCOMPARE(back.option(Option::AutoRun), 0);
    }

    void saveKeepsTheRestOfTheFile() {
        WorkDir dir;
        // A longer file with bytes in the unused records: the save overwrites its records
        // in place and never truncates.
        QByteArray old(12000, 'Z');
        dir.write(QStringLiteral("set.txt"), old);
        StationSettings s;
        QVERIFY(SettingsFile::load(dir.file(QStringLiteral("set.txt")), s).ok());
        QCOMPARE(s.text(0), QString(100, QLatin1Char('Z')));
        QCOMPARE(s.option(Option::AutoRun), 0); // "ZZZ..." is not a number
        s.setText(0, QStringLiteral("dsn"));
        QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
        const QByteArray b = dir.read(QStringLiteral("set.txt"));
        QCOMPARE(b.size(), 12000);
        QCOMPARE(b.mid(2800, 7200), QByteArray(7200, 'Z'));
        QCOMPARE(b.mid(11400), QByteArray(600, 'Z'));
    }

    void shortFileReadsMissingRecordsEmpty() {
        WorkDir dir;
        QByteArray b = QByteArray("first").append(95, ' ');
        b += QByteArray("sec"); // a partial second record
        dir.write(QStringLiteral("set.txt"), b);
        StationSettings s;
        QVERIFY(SettingsFile::load(dir.file(QStringLiteral("set.txt")), s).ok());
        QCOMPARE(s.text(0), QStringLiteral("first"));
        QCOMPARE(s.text(1), QStringLiteral("sec"));
        QCOMPARE(s.text(2), QString());
    }

    void optionValues_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("2") << "2" << 2;
        QTest::newRow("1.4 rounds") << "1.4" << 1;
        QTest::newRow("7 is not a state") << "7" << 0;
        QTest::newRow("-1") << "-1" << 0;
        QTest::newRow("text") << "yes" << 0;
    }
    void optionValues() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(SettingsFile::optionValue(text), value);
    }

    void failedSaveLeavesFile() {
        runUnprivileged([] {
            WorkDir dir;
            StationSettings s;
            const QString f = dir.file(QStringLiteral("set.txt"));
            s.setText(0, QStringLiteral("kept"));
            QVERIFY(SettingsFile::save(f, s).ok());
            const QByteArray before = dir.read(QStringLiteral("set.txt"));
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
            s.setText(0, QStringLiteral("lost"));
            const Outcome o = SettingsFile::save(f, s);
            QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(!o.reason().isEmpty());
            QCOMPARE(dir.read(QStringLiteral("set.txt")), before);
        });
    }

    void form1BoxesAreTheModel() {
        StationSettings s;
        s.setOption(Option::SpareOption1, 2);
        Form1 w(s);
        auto* box = w.findChild<QLineEdit*>(QStringLiteral("Text2(21)"));
        QVERIFY(box);
        QTest::keyClicks(box, QStringLiteral("1000"));
        QCOMPARE(s.text(Setting::WeightDecision), QStringLiteral("1000"));
        s.setText(Setting::WeightDecision, QStringLiteral("500"));
        QCOMPARE(box->text(), QStringLiteral("500"));
        QCOMPARE(w.findChild<QLineEdit*>(QStringLiteral("Text2(2)"))->echoMode(),
                 QLineEdit::Password);

        auto* c = w.findChild<QCheckBox*>(QStringLiteral("Check4(3)"));
        QVERIFY(c);
        c->click();
        QCOMPARE(s.option(Option::PollAux4), 1);
        auto* grey = w.findChild<QCheckBox*>(QStringLiteral("Check2(0)"));
        QCOMPARE(grey->checkState(), Qt::PartiallyChecked);
        for (const char* name : {"Check1(0)", "Check1(2)", "Check3(0)", "Check3(2)", "Check4(0)",
                                 "Check4(4)", "Frame1", "Frame2", "Frame3", "Text3", "Text1",
                                 "MSFlexGrid1", "Command1", "Command4", "Label1(27)"})
            QVERIFY2(w.findChild<QWidget*>(QLatin1String(name)), name);
        QCOMPARE(w.findChild<QCheckBox*>(QStringLiteral("Check3(2)"))->text(),
                 QStringLiteral("直接執行"));

        w.show();
        w.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
        QVERIFY(!w.isVisible());
        QCOMPARE(s.text(Setting::WeightDecision), QStringLiteral("500")); // kept while hidden
    }

    // The port button of each port setting sets that setting (and its box) to the chosen
    // port; a choice without a setting is shown but cannot be chosen.
    void portChoiceSetsItsOwnPort_data() {
        QTest::addColumn<int>("setting");
        QTest::newRow("balance 1") << int(Setting::BalancePort1);
        QTest::newRow("balance 2") << int(Setting::BalancePort2);
        QTest::newRow("lights") << int(Setting::LightPort);
    }
    void portChoiceSetsItsOwnPort() {
        QFETCH(int, setting);
        StationSettings s;
        Form1 w(s);
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00-port0");
        w.setPortChoices([&] {
            return QList<PortChoice>{{byId, QStringLiteral("FTDI X (ttyUSB0)")},
                                     {QString(), QStringLiteral("too long")}};
        });
        auto* b = w.findChild<QToolButton*>(QStringLiteral("PortChoice(%1)").arg(setting));
        QVERIFY(b);
        QMenu& menu = *b->menu();
        w.fillPortMenu(menu, setting);
        const QList<QAction*> actions = menu.actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions[0]->text(), QStringLiteral("FTDI X (ttyUSB0)"));
        QVERIFY(!actions[1]->isEnabled());
        actions[0]->trigger();
        for (int i = 0; i < StationSettings::kTextCount; ++i)
            QCOMPARE(s.text(i), i == setting ? byId : QString());
        QCOMPARE(w.Text2[size_t(setting)]->text(), byId);
    }

    // Typed text that code page 950 cannot hold would come back as '?': the settings, a
    // recipe and the light map refuse it, name the characters and write nothing.
    void typedTextOutsideCodePage950_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("settings: password") << "settings";
        QTest::newRow("recipe editor: code") << "recipe";
        QTest::newRow("light map: code") << "lightmap";
    }
    void typedTextOutsideCodePage950() {
        QFETCH(QString, where);
        WorkDir dir;
        const QByteArray before = QByteArray(200, 'x');
        Outcome o = Outcome::success();
        QString file;
        StatusLine status;
        if (where == QLatin1String("settings")) {
            file = dir.file(QStringLiteral("set.txt"));
            dir.write(QStringLiteral("set.txt"), before);
            StationSettings s;
            s.setText(Setting::DbPassword, QStringLiteral("pässwort"));
            o = SettingsFile::save(file, s);
        } else if (where == QLatin1String("recipe")) {
            file = dir.file(QStringLiteral("QUICK.txt"));
            dir.write(QStringLiteral("QUICK.txt"), before);
            RecipeEditor editor(file, dir.file(QStringLiteral("QUICK2.txt")), status);
            editor.Text2 = QStringLiteral("訂單");
            editor.Text1[0] = QStringLiteral("红色");
            editor.Text1[10] = QStringLiteral("1.5");
            editor.save();
            // The editor says why it refused on the status line.
            o = status.text().isEmpty() ? Outcome::success() : Outcome::failure(status.text());
        } else {
            file = dir.file(QStringLiteral("DYE_LIGHT.txt"));
            dir.write(QStringLiteral("DYE_LIGHT.txt"), before);
            LightMap map;
            map.setCode(7, QStringLiteral("R-1"));
            map.setCode(8, QStringLiteral("红"));
            o = map.save(file);
        }
        QVERIFY(!o.ok());
        const QString bad =
            where == QLatin1String("settings") ? QStringLiteral("「ä」") : QStringLiteral("「红」");
        QVERIFY2(o.reason().contains(bad), qPrintable(o.reason()));
        QCOMPARE(dir.read(QFileInfo(file).fileName()), before);
        QVERIFY(TextField::unstorable(QStringLiteral("訂單 R-1 €?")).isEmpty());
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
