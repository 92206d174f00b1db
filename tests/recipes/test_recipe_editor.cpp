#include "common/StatusLine.h"
#include "jobs/JobFile.h"
#include "recipes/RecipeEditor.h"
#include "tests/support/Reports.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {

QString raw(const QString& order) {
    return order.leftJustified(50, QLatin1Char(' '));
}

struct EditorRig {
    WorkDir dir;
    StatusLine status;
    Reports said{status};
    RecipeEditor editor{dir.file(QStringLiteral("QUICK.txt")),
                        dir.file(QStringLiteral("QUICK2.txt")), status};

    QString quick() const { return dir.file(QStringLiteral("QUICK.txt")); }
    QStringList stored() const {
        QStringList out;
        for (const QByteArray& r : readAllJobs(quick()).records)
            out << JobRecord::decode(r).OrderNo;
        return out;
    }
    void type(const QString& order, const QStringList& codesAndWeights = {"R-1", "12.5"}) {
        editor.Text2 = order;
        for (int i = 0; i + 1 < codesAndWeights.size(); i += 2) {
            editor.Text1[size_t(i / 2)] = codesAndWeights.at(i);
            editor.Text1[size_t(i / 2 + 10)] = codesAndWeights.at(i + 1);
        }
    }
    void saveAll(const QStringList& orders) {
        for (const QString& o : orders) {
            type(o);
            editor.save();
            QVERIFY(said.none());
        }
    }
    bool boxesEmpty() const {
        bool empty = editor.Text2.isEmpty() && editor.Combo1.isEmpty() && editor.Text3.isEmpty();
        for (const QString& t : editor.Text1)
            empty = empty && t.isEmpty();
        return empty;
    }
};

} // namespace

class TestRecipeEditor : public QObject {
    Q_OBJECT
private slots:
    void firstSaveCreatesTheStore() {
        EditorRig b;
        b.editor.load();
        QVERIFY(b.editor.entries.isEmpty());
        QVERIFY(b.dir.exists(QStringLiteral("QUICK.txt"))); // created empty by the fill
        QSignalSpy changed(&b.editor, &RecipeEditor::storeChanged);
        b.type(QStringLiteral("A"));
        b.editor.Text3 = QStringLiteral(" 350 ");
        b.editor.Combo1 = QStringLiteral(" B7 ");
        b.editor.save();
        QVERIFY(b.said.none());
        QCOMPARE(QFileInfo(b.quick()).size(), 1460);
        QCOMPARE(b.editor.entries, QStringList{raw("A")});
        QVERIFY(b.boxesEmpty());
        QCOMPARE(changed.count(), 1);
        const QByteArray r = b.dir.read(QStringLiteral("QUICK.txt"));
        QCOMPARE(r.mid(50, 10), QByteArray(" B7       ")); // barrel number as typed
        QCOMPARE(r.mid(60, 10), QByteArray("350       ")); // water trimmed
        QCOMPARE(r.mid(378, 550), QByteArray(550, ' '));   // B01 blank
        QCOMPARE(r.right(2), QByteArray("\r\n"));
    }

    void listIsNewestFirstAndPositionsAddressFromTheEnd() {
        EditorRig b;
        b.saveAll({"A", "B", "C"});
        QCOMPARE(b.editor.entries, (QStringList{raw("C"), raw("B"), raw("A")}));

        b.editor.click(0, raw("C"));
        QVERIFY(b.said.none());
        QCOMPARE(b.editor.Text2, QStringLiteral("C"));

        b.editor.Text1[10] = QStringLiteral("99");
        b.editor.modify(0, raw("C"));
        QVERIFY(b.said.none());
        QCOMPARE(b.stored(), (QStringList{"A", "B", "C"}));
        QCOMPARE(ReadJob(b.quick(), 3).job.Weight[1], QStringLiteral("99"));

        b.editor.remove(0, raw("C"));
        QVERIFY(b.said.none());
        QCOMPARE(b.stored(), (QStringList{"A", "B"}));
        QCOMPARE(b.editor.entries, (QStringList{raw("B"), raw("A")}));
        QVERIFY(!b.dir.exists(QStringLiteral("QUICK2.txt")));
    }

    void modifyWithNothingSelectedAppends() {
        EditorRig b;
        b.saveAll({"A"});
        b.type(QStringLiteral("B"));
        b.editor.modify(-1, QString());
        QVERIFY(b.said.none());
        QCOMPARE(b.stored(), (QStringList{"A", "B"}));
    }

    void deleteWithNothingSelectedChangesNothing() {
        EditorRig b;
        b.saveAll({"A"});
        b.type(QStringLiteral("typed"));
        QSignalSpy list(&b.editor, &RecipeEditor::listChanged);
        b.editor.remove(-1, QString());
        QVERIFY(b.said.none());
        QCOMPARE(b.stored(), QStringList{"A"});
        QCOMPARE(b.editor.Text2, QStringLiteral("typed"));
        QCOMPARE(list.count(), 0);
    }

    void refusedRecipeWritesNothingAndKeepsTheBoxes_data() {
        QTest::addColumn<QString>("order");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("reason");
        const QStringList good{"R-1", "12.5"};
        QTest::newRow("empty order number") << "" << good << "單號";
        QTest::newRow("only spaces") << "   " << good << "單號";
        QTest::newRow("weight 0") << "A" << QStringList{"R-1", "0"} << "第 1 行";
        QTest::newRow("weight blank") << "A" << QStringList{"R-1", "5", "R-2", ""} << "第 2 行";
        QTest::newRow("weight not a number") << "A" << QStringList{"R-1", "abc"} << "第 1 行";
        QTest::newRow("weight negative") << "A" << QStringList{"R-1", "-5"} << "第 1 行";
        QTest::newRow("weight 0.0 with a blank") << "A" << QStringList{"R-1", " 0.0"} << "第 1 行";
        // Judged as stored: the weight field holds 10 bytes, the code field 20.
        QTest::newRow("weight pushed out by blanks")
            << "A" << QStringList{"R-1", QString(10, ' ') + "5"} << "第 1 行";
        QTest::newRow("weight cut to zeros")
            << "A" << QStringList{"R-1", "0000000000.5"} << "第 1 行";
        QTest::newRow("code pushed out by blanks")
            << "A" << QStringList{QString(20, ' ') + "R-1", "5"} << "第 1 行代碼";
        QTest::newRow("weight with a unit") << "A" << QStringList{"R-1", "30g"} << "第 1 行重量";
        QTest::newRow("decimal comma")
            << "A" << QStringList{"R-1", "5", "R-2", "1,5"} << "第 2 行重量「1,5」";
        QTest::newRow("exponent") << "A" << QStringList{"R-1", "1e3"} << "第 1 行重量";
        QTest::newRow("plus sign") << "A" << QStringList{"R-1", "+5"} << "第 1 行重量";
        QTest::newRow("two points") << "A" << QStringList{"R-1", "1.2.3"} << "第 1 行重量";
        QTest::newRow("blank inside") << "A" << QStringList{"R-1", "1 000"} << "第 1 行重量";
        QTest::newRow("below a millionth") << "A" << QStringList{"R-1", "0.0000001"} << "第 1 行";
        QTest::newRow("order number of 51 bytes") << QString(51, 'A') << good << "單號";
        QTest::newRow("order number of 26 double-byte characters")
            << QString(26, QChar(0x8a02)) << good << "單號";
    }
    void refusedRecipeWritesNothingAndKeepsTheBoxes() {
        QFETCH(QString, order);
        QFETCH(QStringList, lines);
        QFETCH(QString, reason);
        for (bool modify : {false, true}) {
            EditorRig b;
            b.saveAll({"X"});
            b.editor.click(0, raw("X"));
            QVERIFY(b.said.none());
            b.type(order, lines);
            const QByteArray before = b.dir.read(QStringLiteral("QUICK.txt"));
            QSignalSpy list(&b.editor, &RecipeEditor::listChanged);
            if (modify)
                b.editor.modify(0, raw("X"));
            else
                b.editor.save();
            QCOMPARE(b.dir.read(QStringLiteral("QUICK.txt")), before);
            QCOMPARE(b.editor.Text2, order);
            QCOMPARE(b.editor.Text1[0], lines.at(0));
            QVERIFY2(b.status.text().contains(reason), qPrintable(b.status.text()));
            // The list is not refilled, so a selection for modify survives the correction.
            QCOMPARE(list.count(), 0);
        }
    }

    void acceptedWeights_data() {
        QTest::addColumn<QString>("weight");
        QTest::newRow("decimal") << "12.5";
        QTest::newRow("smallest step") << "0.01";
        QTest::newRow("leading space") << " 7";
        QTest::newRow("point first") << ".5";
        QTest::newRow("point last") << "5.";
        QTest::newRow("fills the field") << "9999999.99";
    }
    void acceptedWeights() {
        QFETCH(QString, weight);
        EditorRig b;
        b.type(QStringLiteral("A"), {"R-1", weight});
        b.editor.save();
        QVERIFY(b.said.none());
        QCOMPARE(b.stored(), QStringList{"A"});
    }

    void lineWithoutCodeIsStoredAndShownEmpty() {
        EditorRig b;
        b.type(QStringLiteral("A"), {"R-1", "1", "", "", "R-3", "3"});
        b.editor.save();
        QVERIFY(b.said.none());
        const JobRecord j = ReadJob(b.quick(), 1).job;
        QCOMPARE(j.Code[1], QStringLiteral("R-1"));
        QCOMPARE(j.Code[2], QString());
        QCOMPARE(j.Code[3], QStringLiteral("R-3"));
        // Shown again: line 2 stays empty, also when the boxes held something before.
        b.editor.Text1[1] = QStringLiteral("old");
        b.editor.Text1[11] = QStringLiteral("old");
        b.editor.click(0, raw("A"));
        QVERIFY(b.said.none());
        QCOMPARE(b.editor.Text1[1], QString());
        QCOMPARE(b.editor.Text1[11], QString());
        QCOMPARE(b.editor.Text1[2], QStringLiteral("R-3"));
        QCOMPARE(b.editor.Text1[12], QStringLiteral("3"));
    }

    void weightIsStoredAsTypedAndShownTrimmed() {
        EditorRig b;
        b.type(QStringLiteral("  A  "), {" R-1", " 12.5"});
        b.editor.save();
        QVERIFY(b.said.none());
        const QByteArray r = b.dir.read(QStringLiteral("QUICK.txt"));
        QCOMPARE(r.mid(0, 50), raw("A").toLatin1()); // the order number is trimmed
        QCOMPARE(r.mid(70, 4), QByteArray(" R-1"));
        QCOMPARE(r.mid(270, 10), QByteArray(" 12.5     "));
        b.editor.click(0, raw("A"));
        QVERIFY(b.said.none());
        QCOMPARE(b.editor.Text1[0], QStringLiteral("R-1"));
        QCOMPARE(b.editor.Text1[10], QStringLiteral("12.5"));
    }

    void modifyKeepsWhatTheEditorDoesNotShow() {
        EditorRig b;
        JobRecord imported;
        imported.OrderNo = QStringLiteral("IMP-1");
        imported.Created = 45352.25;
        for (int i = 1; i <= 3; ++i) {
            imported.Code[size_t(i)] = QStringLiteral("D-%1").arg(i);
            imported.Weight[size_t(i)] = QStringLiteral("%1").arg(i * 10);
            imported.B01[size_t(i)] = QStringLiteral("note %1").arg(i);
        }
        imported.B02 = QStringLiteral("b2");
        imported.B03 = QStringLiteral("b3");
        imported.B04 = QStringLiteral("b4");
        imported.B05 = QStringLiteral("long text five");
        QVERIFY(AppendJob(b.quick(), imported).ok());
        b.editor.load();
        b.editor.click(0, raw("IMP-1"));
        QVERIFY(b.said.none());
        b.editor.Text1[11] = QStringLiteral("25"); // line 2: new weight, same code
        b.editor.Text1[2] = QStringLiteral("D-9"); // line 3: another code
        b.editor.modify(0, raw("IMP-1"));
        QVERIFY(b.said.none());

        const JobRecord j = ReadJob(b.quick(), 1).job;
        QCOMPARE(j.Weight[2], QStringLiteral("25"));
        QCOMPARE(j.Code[3], QStringLiteral("D-9"));
        QCOMPARE(j.Created, imported.Created);
        QCOMPARE(j.B01[1], QStringLiteral("note 1"));
        QCOMPARE(j.B01[2], QStringLiteral("note 2"));
        QCOMPARE(j.B01[3], QString()); // the note of the old code does not follow a new code
        QCOMPARE(j.B02, imported.B02);
        QCOMPARE(j.B03, imported.B03);
        QCOMPARE(j.B04, imported.B04);
        QCOMPARE(j.B05, imported.B05);
    }

    // The list was filled as C, B, A; then an order import appended D (or another C), so
    // position 0 now addresses the import. Every command refuses, refills the list and
    // keeps the boxes.
    void staleListPositionIsRefused_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("imported");
        for (const char* c : {"modify", "delete", "show", "click-delete"}) {
            QTest::addRow("%s, other order", c) << c << "D";
            QTest::addRow("%s, same order number", c) << c << "C";
        }
    }
    void staleListPositionIsRefused() {
        QFETCH(QString, command);
        QFETCH(QString, imported);
        EditorRig b;
        b.saveAll({"A", "B", "C"});
        JobRecord d;
        d.OrderNo = imported;
        d.Code[1] = QStringLiteral("IMPORTED");
        d.Weight[1] = QStringLiteral("1");
        QVERIFY(AppendJob(b.quick(), d).ok());
        const QByteArray before = b.dir.read(QStringLiteral("QUICK.txt"));
        b.type(QStringLiteral("typed"));
        if (command == QLatin1String("modify"))
            b.editor.modify(0, raw("C"));
        else if (command == QLatin1String("delete"))
            b.editor.remove(0, raw("C"));
        else if (command == QLatin1String("show"))
            b.editor.click(0, raw("C"));
        else {
            b.editor.Check5 = true;
            b.editor.click(0, raw("C"));
        }
        QCOMPARE(b.said.texts().size(), 1); // said once
        QCOMPARE(b.dir.read(QStringLiteral("QUICK.txt")), before);
        QCOMPARE(b.editor.entries.size(), 4);
        QCOMPARE(b.editor.entries.first(), raw(imported));
        QCOMPARE(b.editor.Text2, QStringLiteral("typed"));
        QVERIFY(b.status.text().contains(QStringLiteral("配方檔已變更")));
    }

    void check5ClickDeletesAtOnce() {
        EditorRig b;
        b.saveAll({"A", "B", "C"});
        b.editor.Check5 = true;
        b.editor.click(1, raw("B"));
        QVERIFY(b.said.none());
        QCOMPARE(b.stored(), (QStringList{"A", "C"}));
        QCOMPARE(b.editor.entries, (QStringList{raw("C"), raw("A")}));
        QVERIFY(b.boxesEmpty());
    }

    void clearRefillsAndEmptiesWithoutWriting() {
        EditorRig b;
        b.saveAll({"A"});
        QVERIFY(AppendJob(b.quick(), JobRecord{}).ok()); // appended elsewhere
        b.type(QStringLiteral("typed"));
        const QByteArray before = b.dir.read(QStringLiteral("QUICK.txt"));
        b.editor.clear();
        QVERIFY(b.said.none());
        QCOMPARE(b.editor.entries.size(), 2);
        QVERIFY(b.boxesEmpty());
        QCOMPARE(b.dir.read(QStringLiteral("QUICK.txt")), before);
    }

    void failedDeleteKeepsTheStore() {
        EditorRig b;
        b.saveAll({"A", "B"});
        const QByteArray before = b.dir.read(QStringLiteral("QUICK.txt"));
        QVERIFY(
            QDir(b.dir.path()).mkdir(QStringLiteral("QUICK2.txt"))); // the twin cannot be written
        b.type(QStringLiteral("typed"));
        b.editor.remove(0, raw("B"));
        QCOMPARE(b.dir.read(QStringLiteral("QUICK.txt")), before);
        QCOMPARE(b.editor.Text2, QStringLiteral("typed"));
        QVERIFY(b.status.text().contains(QStringLiteral("刪除失敗")));

        // The plant made the store read-only: neither deleted from nor changed, and said why
        // (the station may run as root, which access() alone would let through).
        QVERIFY(QDir(b.dir.path()).rmdir(QStringLiteral("QUICK2.txt")));
        QVERIFY(QFile::setPermissions(b.quick(),
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        b.editor.remove(0, raw("B"));
        QCOMPARE(b.dir.read(QStringLiteral("QUICK.txt")), before);
        QVERIFY2(b.status.text().contains(QStringLiteral("read-only")),
                 qPrintable(b.status.text()));
        b.editor.click(0, raw("B"));
        b.editor.modify(0, raw("B"));
        QCOMPARE(b.dir.read(QStringLiteral("QUICK.txt")), before);
        QVERIFY(!b.dir.exists(QStringLiteral("QUICK2.txt")));
    }

    void failedSaveKeepsTheBoxes() {
        EditorRig b;
        QVERIFY(QDir(b.dir.path()).mkdir(QStringLiteral("QUICK.txt")));
        b.type(QStringLiteral("A"));
        b.editor.save();
        QCOMPARE(b.editor.Text2, QStringLiteral("A"));
        QVERIFY(b.status.text().contains(QStringLiteral("存檔失敗")));
    }

    void enterWalk_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("order number to code 1") << int(RecipeEditor::kText2) << 0;
        QTest::newRow("code 3 to weight 3") << 2 << 12;
        QTest::newRow("weight 3 to code 4") << 12 << 3;
        QTest::newRow("code 10 to weight 10") << 9 << 19;
        QTest::newRow("weight 9 to code 10") << 18 << 9;
        QTest::newRow("weight 10 stays") << 19 << -1;
        QTest::newRow("water stays") << int(RecipeEditor::kText3) << -1;
        QTest::newRow("barrel stays") << int(RecipeEditor::kCombo1) << -1;
    }
    void enterWalk() {
        QFETCH(int, from);
        QFETCH(int, to);
        QCOMPARE(RecipeEditor::enterMovesTo(from), to);
    }
};

QTEST_GUILESS_MAIN(TestRecipeEditor)
#include "test_recipe_editor.moc"
