#pragma once
#include "common/Numbers.h"
#include "devices/Balance.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

// The weighing state shared by the sequencer, the queue commands, the box/barrel dialog
// and the status colours, and what the main window shows of it. The names are those of
// the station's design: State, Line, Counter, LineStatus, LineTable, ...
//
// Logic changes the fields and then calls notify(); the main window redraws on changed().
//
// The codes are stored as the integers the station's design gives them; these names say
// what each integer means.

// The sequencer's states (WeighingModel::State).
struct SequencerState {
    enum : int {
        Idle = 0,
        StartJob = 1,      // take record 1 of the queue
        PrepareLine = 2,   // fill the line's slots, previous light off
        AskContainer = 3,  // read the balance, ask for a container
        ZeroAlready = 4,   // the balance already reads 0: wait 30 ticks
        WaitZero = 5,      // wait for the operator's zero
        BeginWeighing = 6, // the line's light on
        Weigh = 7,         // too little / too much / within, 16 ticks accept
        NextLine = 8,
        Finish = 9, // "<<<END>>>", history, removal, ticket
        ClearUp = 10,
    };
};

// A line's status, LineStatus(1..10).
struct LineStatusCode {
    enum : qint16 {
        Idle = 0,
        Active = 1 /* or too little */,
        TooMuch = 2,
        Within = 3,
        Waiting = 4
    };
};

// The overall status, LineStatus(11).
struct OverallStatus {
    enum : qint16 { Idle = 0, Within = 1, TooMuch = 2, TooLittle = 3, Container = 4 };
};

// The box/barrel dialog's choice (BoxChoice).
struct BoxChoiceCode {
    enum : int { None = 0, ChangeBarrel = 1, AddBox = 2, DeductBox = 3 };
};

// A line's balance (LineBalance, and slot 10 n + 4 as text).
struct LineBalanceCode {
    enum : int { Large = 1, Small = 2 };
    static constexpr Balance balance(int code) {
        return code == Large ? Balance::Large : Balance::Small;
    }
    static constexpr int of(Balance b) { return b == Balance::Large ? Large : Small; }
};

// The fields of line n in LineTable: slot 10 n + field.
enum class LineSlot { Code = 0, B01 = 1, Target = 2, Actual = 3, Balance = 4 };
constexpr size_t lineSlot(int line, LineSlot field) {
    return size_t(10 * line + int(field));
}

class WeighingModel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Sequencer state.
    int State = SequencerState::Idle;
    int Line = 0;        // line being weighed, 1..10
    int Counter = 0;     // ticks counted by the waiting and settling steps
    int RefreshTick = 0; // ticks since the last queue refresh

    // Element 0: blink phase (status colours); 1..10: line status; 11: overall status.
    // Line: 0 idle/finished, 1 active or too little, 2 too much, 3 within tolerance,
    // 4 waiting its turn. Overall: 0 idle, 1 within, 2 too much, 3 too little,
    // 4 waiting for container and zero.
    std::array<qint16, 21> LineStatus{};
    static constexpr size_t kOverall = 11; // LineStatus(11)
    // Slots 0..9: the start text of line k + 1's box; for line n slots 10n .. 10n + 4:
    // code, B01 text, target text, actual text, balance ("1" large, "2" small).
    std::array<QString, 201> LineTable;
    std::array<int, 11> LineBalance{}; // line n at element n - 1: 1 large, 2 small
    std::array<int, 21> LineLight{};   // line n at element n: light 1..120, 0 none

    Decimal Adjust; // added to the reading to give the amount weighed for the line
    int BoxChoice = BoxChoiceCode::None;

    // The caption store Label3(0..12) of the main window: balance names and prompt parts
    // used instead of the built-in texts when Language is "1" (converted at start-up).
    std::array<QString, 13> Label3{QStringLiteral("大天平"),
                                   QStringLiteral("小天平"),
                                   QStringLiteral("請在小天平(3000g)放上容器,按下歸零按鈕"),
                                   QStringLiteral("請在大天平(28KG)放上容器,按下歸零按鈕"),
                                   QStringLiteral("染料剛好請等待天平穩定"),
                                   QStringLiteral("染料不足請加入第 "),
                                   QStringLiteral("張染料卡指定染料"),
                                   QStringLiteral("染料超過請取出第 "),
                                   QStringLiteral("張染料卡指定染料"),
                                   QString(),
                                   QString(),
                                   QString(),
                                   QString()};

    // What the main window shows.
    QString prompt;                    // Label2
    std::array<QString, 11> boxText;   // Text1(0..10); 10 is the running job's order number
    std::array<bool, 10> boxVisible{}; // Text1(0..9)
    QStringList queueEntries;          // List2
    // The queue record each entry of List2 stands for. Every record the station removes
    // from the queue counts in queueRemovals; List2 was filled at queueListRemovals. Once
    // they differ the positions of List2 no longer name the records they show (the rows
    // have moved up), however alike the texts or even the records are, until the next fill.
    QList<QByteArray> queueRecords;
    quint64 queueRemovals = 0;
    quint64 queueListRemovals = 0;

    // Fills List2 from the records of the queue file, in order.
    void setQueueList(const QList<QByteArray>& records, const QStringList& entries) {
        queueRecords = records;
        queueEntries = entries;
        queueListRemovals = queueRemovals;
    }

    void notify() { emit changed(); }

signals:
    void changed();
};
