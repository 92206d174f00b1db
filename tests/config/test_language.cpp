#include "app/ExtensionsWindow.h"
#include "app/IntakeParts.h"
#include "app/Station.h"
#include "config/Form1.h"
#include "config/Form2.h"
#include "config/Language.h"
#include "config/SettingsFile.h"
#include "devices/BalanceReadings.h"
#include "devices/MemorySerialPort.h"
#include "history/Form5.h"
#include "jobs/JobFile.h"
#include "recipes/Form4.h"
#include "station/Form3.h"
#include "station/Form7.h"
#include "tests/support/TestSupport.h"
#include "weighing/Sequencer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

namespace {

template <typename T> T* child(QWidget& w, const QString& name) {
    T* c = w.findChild<T*>(name);
    if (!c)
        qFatal("no control %s", qPrintable(name));
    return c;
}

StationOptions options(const WorkDir& dir) {
    StationOptions o;
    o.workDir = dir.path();
    o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
    return o;
}

void writeLanguage(const WorkDir& dir, const QString& language) {
    StationSettings s;
    s.setText(Setting::Language, language);
    QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
}

// Every text `window` shows that converting again would change: its title, captions, frame
// titles, tab names, box items, table headers, hints and tool tips. The controls named in
// `kept` keep their authored wording.
QStringList traditionalLeft(QWidget* window, const QStringList& kept) {
    QStringList left;
    auto check = [&](const QWidget* w, const QString& text) {
        if (ToSimplified(text) != text && !kept.contains(w->objectName()))
            left << QStringLiteral("%1.%2: %3").arg(window->objectName(), w->objectName(), text);
    };
    QList<QWidget*> all = window->findChildren<QWidget*>();
    all.prepend(window);
    for (QWidget* w : all) {
        check(w, w->windowTitle());
        check(w, w->toolTip());
        if (auto* l = qobject_cast<QLabel*>(w))
            check(w, l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            check(w, b->text());
        if (auto* g = qobject_cast<QGroupBox*>(w))
            check(w, g->title());
        if (auto* e = qobject_cast<QLineEdit*>(w))
            check(w, e->placeholderText());
        if (auto* e = qobject_cast<QPlainTextEdit*>(w))
            check(w, e->toPlainText());
        if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i)
                check(w, t->tabText(i));
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                check(w, c->itemText(i));
        if (auto* v = qobject_cast<QTableView*>(w); v && v->model())
            for (int c = 0; c < v->model()->columnCount(); ++c)
                check(w, v->model()->headerData(c, Qt::Horizontal).toString());
    }
    return left;
}

} // namespace

class TestLanguage : public QObject {
    Q_OBJECT
private slots:
    void toSimplified_data() {
        QTest::addColumn<QString>("traditional");
        QTest::addColumn<QString>("simplified");
        QTest::newRow("search button") << "單號搜尋導入"
                                       << "单号搜寻导入";
        QTest::newRow("history button") << "歷史資料"
                                        << "历史资料";
        QTest::newRow("small balance prompt") << "請在小天平(3000g)放上容器,按下歸零按鈕"
                                              << "请在小天平(3000g)放上容器,按下归零按钮";
        QTest::newRow("large balance prompt") << "請在大天平(28KG)放上容器,按下歸零按鈕"
                                              << "请在大天平(28KG)放上容器,按下归零按钮";
        QTest::newRow("within") << "染料剛好請等待天平穩定"
                                << "染料刚好请等待天平稳定";
        QTest::newRow("too little") << "染料不足請加入第 "
                                    << "染料不足请加入第 ";
        QTest::newRow("too much") << "染料超過請取出第 "
                                  << "染料超过请取出第 ";
        QTest::newRow("card") << "張染料卡指定染料"
                              << "张染料卡指定染料";
        QTest::newRow("same in both scripts") << "大天平"
                                              << "大天平";
        QTest::newRow("ascii SET TYPE") << "SET TYPE"
                                        << "SET TYPE";
        QTest::newRow("ascii ID") << "ID"
                                  << "ID";
        QTest::newRow("ascii Password") << "Password"
                                        << "Password";
        QTest::newRow("ascii EXIT") << "EXIT"
                                    << "EXIT";
        QTest::newRow("ascii symbols") << "a=1 (x) 0.5%; \\ ~"
                                       << "a=1 (x) 0.5%; \\ ~";
        QTest::newRow("empty") << ""
                               << "";
    }
    void toSimplified() {
        QFETCH(QString, traditional);
        QFETCH(QString, simplified);
        QVERIFY2(stationConverter().ok(), qPrintable(stationConverter().error()));
        QCOMPARE(ToSimplified(traditional), simplified);
    }

    void missingDataLeavesTextsTraditional() {
        ChineseConverter none(QStringLiteral("/nonexistent/t2s.json"));
        QVERIFY(!none.ok());
        QVERIFY(!none.error().isEmpty());
        QCOMPARE(none.convert(QStringLiteral("單號搜尋導入")), QStringLiteral("單號搜尋導入"));

        StationSettings settings;
        Form1 f(settings);
        const Outcome o = simplifyWindows({{&f, Form1::simplifiedTexts()}}, none);
        QVERIFY(!o.ok());
        QVERIFY(o.reason().contains(QStringLiteral("繁體")));
        QCOMPARE(f.Command2->text(), QStringLiteral("單號搜尋導入"));
        // A converter that arrives later still converts the window: nothing was marked.
        QVERIFY(simplifyWindows({{&f, Form1::simplifiedTexts()}}, stationConverter()).ok());
        QCOMPARE(f.Command2->text(), QStringLiteral("单号搜寻导入"));
    }

    void form1IsConvertedOnceAndOnlyItsListedTexts() {
        StationSettings settings;
        Form1 f(settings);
        const QString label16 = f.Label1[16]->text();
        const QString frame1 = f.Frame1->title();
        QVERIFY(simplifyWindows({{&f, Form1::simplifiedTexts()}}, stationConverter()).ok());
        QCOMPARE(f.Command2->text(), QStringLiteral("单号搜寻导入"));
        QCOMPARE(f.Frame1->title(), ToSimplified(frame1));
        QVERIFY(f.Frame1->title() != frame1);
        QCOMPARE(f.Label1[16]->text(), label16); // "Language 0=T 1=C": ASCII
        QCOMPARE(f.Command4->text(), QStringLiteral("EXIT"));
        for (QCheckBox* box : f.Check4)
            QCOMPARE(box->text(), ToSimplified(box->text()));

        // Hidden and shown again, or asked again: no second conversion.
        f.Command2->setText(QStringLiteral("單號"));
        f.hide();
        f.show();
        QVERIFY(simplifyWindows({{&f, Form1::simplifiedTexts()}}, stationConverter()).ok());
        QCOMPARE(f.Command2->text(), QStringLiteral("單號"));
    }

    void aMissingControlIsReported() {
        StationSettings settings;
        Form1 f(settings);
        const Outcome o = simplifyWindows(
            {{&f, {QStringLiteral("Command2"), QStringLiteral("Label9(99)")}}}, stationConverter());
        QVERIFY(!o.ok());
        QVERIFY(o.reason().contains(QLatin1String("Form1.Label9(99)")));
        QCOMPARE(f.Command2->text(), QStringLiteral("单号搜寻导入"));
    }

    void stationInSimplified() {
        WorkDir dir;
        writeLanguage(dir, QStringLiteral("1"));
        Station st(options(dir));
        st.start();
        Form3& f3 = st.form3();
        QCOMPARE(f3.Command3->text(), QStringLiteral("历史资料"));
        QCOMPARE(f3.Command7->text(), QStringLiteral("取消全部"));
        QCOMPARE(child<QLabel>(f3, QStringLiteral("Label3(2)"))->text(),
                 QStringLiteral("请在小天平(3000g)放上容器,按下归零按钮"));
        QCOMPARE(st.form1().Command2->text(), QStringLiteral("单号搜寻导入"));
        QCOMPARE(child<QLabel>(st.form4(), QStringLiteral("Label4"))->text(),
                 QStringLiteral("单号"));
        Form2& f2 = *st.intake().form2;
        QCOMPARE(child<QPushButton>(f2, QStringLiteral("Command1"))->text(),
                 QStringLiteral("执行SQL"));
        QCOMPARE(child<QLabel>(f2, QStringLiteral("Label1(0)"))->text(),
                 QStringLiteral("栏位总数"));
        QVERIFY(child<QPlainTextEdit>(f2, QStringLiteral("Text3"))
                    ->toPlainText()
                    .startsWith(QStringLiteral("条件栏位1=单号")));
        QCOMPARE(child<QPushButton>(f2, QStringLiteral("Command4"))->text(),
                 QStringLiteral("EXIT"));
        for (int k = 0; k < 4; ++k) {
            const QString text =
                child<QPushButton>(st.form7(), QStringLiteral("Command1(%1)").arg(k))->text();
            QCOMPARE(text, ToSimplified(text));
        }
        QCOMPARE(child<QPushButton>(st.extensionsWindow(), QStringLiteral("Save"))->text(),
                 QStringLiteral("存档"));
        QCOMPARE(f3.ExtensionsButton->text(), QStringLiteral("扩充设定"));
        QCOMPARE(f3.Text2Label->text(), QStringLiteral("单号/条码"));
        QCOMPARE(f3.Text2->placeholderText(), QStringLiteral("扫描条码或输入单号,按 Enter"));
        QVERIFY(st.status().text().isEmpty() ||
                !st.status().text().contains(QStringLiteral("簡體")));
        // The caption store the sequencer builds its prompts from.
        const auto& l3 = st.weighing().Label3;
        QCOMPARE(l3[7] + QStringLiteral("3") + l3[8],
                 QStringLiteral("染料超过请取出第 3张染料卡指定染料"));
        QCOMPARE(l3[0], QStringLiteral("大天平"));
        QVERIFY(l3[9].isEmpty());

        // The history window keeps its authored wording, shown once or twice.
        Form5& f5 = st.form5();
        f5.show();
        f5.hide();
        f5.show();
        QCOMPARE(child<QLabel>(f5, QStringLiteral("Label1"))->text(), Form5::hintText());
        QCOMPARE(child<QPushButton>(f5, QStringLiteral("Command1"))->text(),
                 QStringLiteral("統計當前用量"));
    }

    // Every window, shown and used as an operator would, in Simplified: nothing Traditional
    // is left but the history window's hint and totals button, which keep their wording.
    void everyWindowInSimplified() {
        WorkDir dir;
        writeLanguage(dir, QStringLiteral("1"));
        QDir(dir.path()).mkpath(QStringLiteral("data"));
        dir.write(QStringLiteral("data/DATE_202403.txt"), QByteArray(1600, ' '));
        Station st(options(dir));
        st.start();
        st.form5().show();
        st.form5().loadMonth(QStringLiteral("DATE_202403.txt"));
        QTRY_VERIFY(!st.form5().tableLoading());
        st.form5().Tabs->setCurrentIndex(2);
        QStringList left;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            w->show();
            left << traditionalLeft(w, w == &st.form5() ? QStringList{"Label1", "Command1"}
                                                        : QStringList{});
        }
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
    }

    void sequencerPromptsInSimplified() {
        WorkDir dir;
        StationSettings s;
        s.setText(Setting::Language, QStringLiteral("1"));
        s.setText(Setting::WeightDecision, QStringLiteral("1000"));
        s.setText(Setting::BalancePort1, QStringLiteral("1"));
        s.setText(Setting::BalancePort2, QStringLiteral("2"));
        QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
        JobRecord job;
        job.OrderNo = QStringLiteral("L3");
        for (int i = 1; i <= 3; ++i) {
            job.Code[size_t(i)] = QStringLiteral("C%1").arg(i);
            job.Weight[size_t(i)] = QStringLiteral("5");
        }
        QVERIFY(AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), job).ok());

        Station st(options(dir));
        st.start();
        WeighingModel& m = st.weighing();
        BalanceReadings& r = st.readings();
        r.setLive(Balance::Large, true);
        r.setLive(Balance::Small, true);
        // The small balance weighs every line (targets below 1000 g): on target for the
        // first two lines, then too much on line 3.
        auto until = [&](int state) {
            for (int i = 0; i < 400 && m.State != state; ++i)
                st.sequencer().tick();
            return m.State == state;
        };
        QVERIFY(until(SequencerState::ZeroAlready));
        QCOMPARE(m.prompt, QStringLiteral("请在小天平(3000g)放上容器,按下归零按钮"));
        for (int line = 1; line <= 2; ++line) {
            QVERIFY(until(SequencerState::Weigh));
            QCOMPARE(m.Line, line);
            r.setCaption(Balance::Small, QStringLiteral("5"));
            for (int i = 0; i < Sequencer::kSettleTicks; ++i)
                st.sequencer().tick();
            r.setCaption(Balance::Small, QStringLiteral("0"));
        }
        QVERIFY(until(SequencerState::Weigh));
        QCOMPARE(m.Line, 3);
        r.setCaption(Balance::Small, QStringLiteral("6"));
        st.sequencer().tick();
        QCOMPARE(m.prompt, QStringLiteral("染料超过请取出第 3张染料卡指定染料"));
        r.setCaption(Balance::Small, QStringLiteral("5"));
        st.sequencer().tick();
        QCOMPARE(m.prompt, QStringLiteral("染料刚好请等待天平稳定"));
    }

    void otherLanguageValuesChangeNothing_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("0") << "0";
        QTest::newRow("empty") << "";
        QTest::newRow("2") << "2";
        QTest::newRow("11") << "11";
        QTest::newRow("C") << "C";
    }
    void otherLanguageValuesChangeNothing() {
        QFETCH(QString, language);
        WorkDir dir;
        writeLanguage(dir, language);
        Station st(options(dir));
        st.start();
        QCOMPARE(st.form3().Command3->text(), QStringLiteral("歷史資料"));
        QCOMPARE(st.form1().Command2->text(), QStringLiteral("單號搜尋導入"));
        QCOMPARE(st.weighing().Label3[7], QStringLiteral("染料超過請取出第 "));
    }
};

QTEST_MAIN(TestLanguage)
#include "test_language.moc"
