#pragma once
#include "common/Outcome.h"
#include "jobs/JobRecord.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

class StatusLine;

// The recipe editor: the boxes of one recipe and the list of the recipe store
// "QUICK.txt" (newest first: list position p is record JobCount - p), with save, modify,
// delete, clear and the list click. The window writes the operator's typing into the
// boxes here and redraws on boxesChanged / listChanged.
//
// Typed input is never thrown away silently: a recipe without an order number, with a
// code whose weight is not a plain amount of grams above 0, with a text longer than its
// field, or with a character code page 950 cannot hold, is refused with the boxes kept and the
// reason on the status line. A list position is checked against the record its entry stood for
// before anything is read, changed or removed through it.
//
// The commands (save, modify, delete, clear, click) report their own refusals and
// failures on the status line and return nothing.
class UndoStore;

class RecipeEditor : public QObject {
    Q_OBJECT
public:
    static constexpr int kLines = 10;
    // Box ids for the Enter-key walk besides Text1(0..19).
    static constexpr int kText2 = 100, kCombo1 = 101, kText3 = 102;

    RecipeEditor(QString quickFile, QString twinFile, StatusLine& status,
                 QObject* parent = nullptr);

    // The boxes.
    QString Text2;                         // order number
    QString Combo1;                        // barrel number
    QString Text3;                         // water to add
    std::array<QString, 2 * kLines> Text1; // 0..9 codes, 10..19 weights of lines 1..10
    bool Check5 = false;                   // a list click deletes
    QStringList entries;                   // List1: raw 50-character order numbers
    QList<QByteArray> records;             // the stored record behind each entry
    // Counts the refills of List1: a position taken from the list before a refill no
    // longer addresses the entry it was taken from.
    quint64 listVersion() const { return m_listVersion; }

    // The first showing: boxes emptied, list filled.
    void load();
    // List1 from the store; the boxes stay as they are. The caller reports a failure.
    Outcome refill();
    void clearBoxes();

    // 存檔: appends the recipe of the boxes.
    void save();
    // 修改: rewrites the recipe at list position p, or appends it when p < 0. What the
    // editor does not show (Created, B02..B05, the B01 text of a line whose code is
    // unchanged) is kept from the stored record.
    void modify(int p, const QString& entry);
    // 刪除: removes the recipe at list position p; p < 0 does nothing at all.
    void remove(int p, const QString& entry);
    // 清除: refills the list and empties the boxes; writes nothing.
    void clear();
    // A click on list entry p: deletes it when Check5 is ticked, otherwise shows it.
    void click(int p, const QString& entry);
    // The same for a click made while the list was at `version`, delivered later: refused
    // when the list has been refilled since (an earlier click deleted and refilled).
    void click(int p, const QString& entry, quint64 version);

    // Where Enter moves the focus from a box: Text2 to the code of line 1, a code to the
    // weight of its line, a weight to the code of the next line; -1 stays put.
    static int enterMovesTo(int box);

    // Where a delete keeps the recipe it removes, so that it can be put back.
    void setUndo(UndoStore* undo) { m_undo = undo; }

signals:
    void boxesChanged();
    void listChanged();
    // QUICK.txt was written: the main window's recipe list is out of date.
    void storeChanged();

private:
    void refuse(const QString& why);
    // The record number behind list position p when the list shows `entry` there and the
    // store still holds, at that number, the very record the list was filled from;
    // otherwise refills the list, says so and returns 0.
    qint64 checkedRecord(int p, const QString& entry, const QString& action);
    // Empty when the recipe of the boxes may be stored, else why not (the line named).
    // Nothing is cut to fit: a text longer than its field is refused.
    QString whyNotStorable() const;
    JobRecord jobFromBoxes() const;
    QByteArray recordFromBoxes() const;
    void written(const Outcome& o, const QString& action);

    QString m_quick, m_twin;
    StatusLine& m_status;
    UndoStore* m_undo = nullptr;
    quint64 m_listVersion = 0;
};
