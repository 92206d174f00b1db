// The recipe editor window driven offscreen by object name.
#include "common/StatusLine.h"
#include "jobs/JobFile.h"
#include "recipes/Form4.h"
#include "recipes/RecipeEditor.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

struct Rig {
    WorkDir dir;
    StatusLine status;
    RecipeEditor editor{dir.file(QStringLiteral("QUICK.txt")),
                        dir.file(QStringLiteral("QUICK2.txt")), status};
    Form4 form{editor, status};

    Rig() {
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    template <class T> T* find(const QString& name) {
        T* w = form.findChild<T*>(name);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    QLineEdit* text1(int k) { return find<QLineEdit>(QStringLiteral("Text1(%1)").arg(k)); }
    void click(const char* button) {
        QTest::mouseClick(find<QPushButton>(QLatin1String(button)), Qt::LeftButton);
    }
    void clickEntry(int row) {
        auto* list = find<QListWidget>(QStringLiteral("List1"));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    QStringList stored() const {
        QStringList out;
        for (const QByteArray& r : readAllJobs(dir.file(QStringLiteral("QUICK.txt"))).records)
            out << JobRecord::decode(r).OrderNo;
        return out;
    }
    // Types a recipe as an operator does: order number, then code and weight per line
    // with Enter between the boxes.
    void typeRecipe(const QString& order, const QStringList& codesAndWeights) {
        QLineEdit* t2 = find<QLineEdit>(QStringLiteral("Text2"));
        t2->setFocus();
        QTest::keyClicks(t2, order);
        QTest::keyClick(t2, Qt::Key_Return);
        for (const QString& t : codesAndWeights) {
            QWidget* w = QApplication::focusWidget();
            QTest::keyClicks(w, t);
            QTest::keyClick(w, Qt::Key_Return);
        }
    }
};

} // namespace

class TestForm4 : public QObject {
    Q_OBJECT
private slots:
    void controlsByName() {
        Rig r;
        QCOMPARE(r.find<QLabel>(QStringLiteral("Label4"))->text(), QStringLiteral("單號"));
        QCOMPARE(r.find<QLabel>(QStringLiteral("Label3"))->text(), QStringLiteral("桶號"));
        QCOMPARE(r.find<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("加水量"));
        for (int k = 0; k < 10; ++k)
            QCOMPARE(r.find<QLabel>(QStringLiteral("Label1(%1)").arg(k))->text(),
                     QString::number(k + 1));
        const QStringList captions{"存檔", "修改", "刪除", "清除", "EXIT"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(r.find<QPushButton>(QStringLiteral("Command%1").arg(i + 1))->text(),
                     captions.at(i));
            QCOMPARE(r.find<QCheckBox>(QStringLiteral("Check%1").arg(i + 1))->text(),
                     QStringLiteral("Check%1").arg(i + 1));
        }
        for (int k = 0; k < 20; ++k)
            QVERIFY(r.text1(k)->text().isEmpty());
        QVERIFY(r.find<QComboBox>(QStringLiteral("Combo1"))->isEditable());
        QCOMPARE(r.find<QComboBox>(QStringLiteral("Combo1"))->count(), 0);
    }

    void typeWithEnterAndSave() {
        Rig r;
        r.typeRecipe(QStringLiteral("R-77"), {"RED", "12.5", "BLUE", "3"});
        QCOMPARE(QApplication::focusWidget(), r.text1(2)); // the code of line 3 is next
        QCOMPARE(r.text1(0)->text(), QStringLiteral("RED"));
        QCOMPARE(r.text1(10)->text(), QStringLiteral("12.5"));
        QCOMPARE(r.text1(11)->text(), QStringLiteral("3"));
        QTest::keyClicks(r.find<QComboBox>(QStringLiteral("Combo1")), QStringLiteral("B9"));
        r.click("Command1");
        QCOMPARE(r.stored(), QStringList{"R-77"});
        const JobRecord j = ReadJob(r.dir.file(QStringLiteral("QUICK.txt")), 1).job;
        QCOMPARE(j.OutputPos, QStringLiteral("B9"));
        QCOMPARE(j.Code[2], QStringLiteral("BLUE"));
        QCOMPARE(r.find<QListWidget>(QStringLiteral("List1"))->count(), 1);
        QVERIFY(r.find<QLineEdit>(QStringLiteral("Text2"))->text().isEmpty());
        QVERIFY(r.text1(0)->text().isEmpty());
    }

    void enterInTheLastWeightStays() {
        Rig r;
        r.text1(19)->setFocus();
        QTest::keyClick(r.text1(19), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), r.text1(19));
        r.text1(12)->setFocus();
        QTest::keyClick(r.text1(12), Qt::Key_Enter); // the keypad's Enter walks too
        QCOMPARE(QApplication::focusWidget(), r.text1(3));
    }

    void refusedSaveKeepsTheTypingAndSaysWhy() {
        Rig r;
        QTest::keyClicks(r.text1(0), QStringLiteral("RED"));
        QTest::keyClicks(r.text1(10), QStringLiteral("5"));
        r.click("Command1");
        QVERIFY(r.stored().isEmpty());
        QCOMPARE(r.text1(0)->text(), QStringLiteral("RED"));
        QVERIFY(
            r.find<QLabel>(QStringLiteral("StatusLine"))->text().contains(QStringLiteral("單號")));
    }

    void clickShowsModifyRewritesCheck5Deletes() {
        Rig r;
        for (const QString& o : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}) {
            r.typeRecipe(o, {"RED", "1"});
            r.click("Command1");
        }
        auto* list = r.find<QListWidget>(QStringLiteral("List1"));
        QCOMPARE(list->item(0)->text().trimmed(), QStringLiteral("C"));

        r.clickEntry(1);
        QTRY_COMPARE(r.find<QLineEdit>(QStringLiteral("Text2"))->text(), QStringLiteral("B"));
        QCOMPARE(r.text1(0)->text(), QStringLiteral("RED"));
        r.text1(10)->selectAll();
        QTest::keyClicks(r.text1(10), QStringLiteral("2.5"));
        r.click("Command2"); // modify the selected entry B
        QCOMPARE(r.stored(), (QStringList{"A", "B", "C"}));
        QCOMPARE(ReadJob(r.dir.file(QStringLiteral("QUICK.txt")), 2).job.Weight[1],
                 QStringLiteral("2.5"));

        QTest::mouseClick(r.find<QCheckBox>(QStringLiteral("Check5")), Qt::LeftButton);
        QVERIFY(r.editor.Check5);
        r.clickEntry(0);
        QTRY_COMPARE(r.stored(), (QStringList{"A", "B"}));
        QCOMPARE(list->count(), 2);
    }

    // Keyboard focus on the list makes row 0 current without selecting it: modify then
    // appends and delete does nothing, as with nothing chosen.
    void currentRowWithoutSelectionIsNotChosen() {
        Rig r;
        for (const QString& o : {QStringLiteral("A"), QStringLiteral("B")}) {
            r.typeRecipe(o, {"RED", "1"});
            r.click("Command1");
        }
        auto* list = r.find<QListWidget>(QStringLiteral("List1"));
        list->setFocus();
        list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        QVERIFY(list->selectedItems().isEmpty());
        r.typeRecipe(QStringLiteral("C"), {"RED", "2"});
        list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        r.click("Command2");
        QCOMPARE(r.stored(), (QStringList{"A", "B", "C"}));
        r.typeRecipe(QStringLiteral("D"), {"RED", "3"});
        list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        r.click("Command3");
        QCOMPARE(r.stored(), (QStringList{"A", "B", "C"}));
        QCOMPARE(r.find<QLineEdit>(QStringLiteral("Text2"))->text(), QStringLiteral("D"));
    }

    // Two clicks delivered before the event loop runs, with Check5 ticked: the first
    // deletes and refills the list, the second is refused instead of reaching a freed
    // item or deleting the entry that moved into its row.
    void check5TwoClicksBeforeTheEventLoop() {
        Rig r;
        for (const QString& o : {QStringLiteral("A"), QStringLiteral("A"), QStringLiteral("B")}) {
            r.typeRecipe(o, {"RED", "1"});
            r.click("Command1");
        }
        QTest::mouseClick(r.find<QCheckBox>(QStringLiteral("Check5")), Qt::LeftButton);
        auto* list = r.find<QListWidget>(QStringLiteral("List1"));
        emit list->itemClicked(list->item(1));
        emit list->itemClicked(list->item(1));
        QTRY_COMPARE(r.stored(), (QStringList{"A", "B"}));
        QTRY_VERIFY(r.find<QLabel>(QStringLiteral("StatusLine"))
                        ->text()
                        .contains(QStringLiteral("清單已更新")));
        QCOMPARE(r.stored(), (QStringList{"A", "B"}));
    }

    void exitHidesAndKeepsTheBoxes() {
        Rig r;
        QTest::keyClicks(r.find<QLineEdit>(QStringLiteral("Text2")), QStringLiteral("half typed"));
        r.click("Command5");
        QVERIFY(r.form.isHidden());
        r.form.show();
        QCOMPARE(r.find<QLineEdit>(QStringLiteral("Text2"))->text(), QStringLiteral("half typed"));
    }
};

QTEST_MAIN(TestForm4)
#include "test_form4.moc"
