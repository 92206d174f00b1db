#pragma once
#include "common/EventLog.h"
#include "common/Outcome.h"
#include "devices/Balance.h"
#include "weighing/RunControl.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QWidget>
#include <array>

class BalanceReadings;
class LightBus;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class StatusColours;
class StatusLine;
class WeighingModel;
class WeighingPanel;
class WeighingPanelModel;

// The main window. It shows the weighing model, the balance readings and the status
// line, and forwards every operator action as a signal; the station wires those to the
// logic.
class Form3 : public QWidget {
    Q_OBJECT
public:
    // Shows both balances' readings again (after the shown language changed).
    void showReadings() {
        for (Balance b : kBalances)
            showReading(b);
    }
    using Background = RunControl::Background;

    Form3(WeighingModel& weighing, BalanceReadings& readings, StatusLine& status,
          const WeighingPanelModel& panel, QWidget* parent = nullptr);

    void setRecipeEntries(const QStringList& entries);
    void setBackground(Background b);
    Background background() const { return m_background; }
    void setPromptColour(const QColor& c);
    void setBoxColour(int index, const QColor& c);
    // The prompt and box colours of the status-colour model, where it has set them.
    void showColours(const StatusColours& colours);
    // The text of row `row` of the recipe list, empty when there is none.
    QString recipeEntry(int row) const;
    // The controls whose texts are converted to Simplified Chinese; Label3(0..12) also
    // lives in the weighing model's caption store.
    static QStringList simplifiedTexts();
    // The undo button: what the last removal was, empty when nothing can be put back.
    void setUndoText(const QString& what);
    // A status message in the event list (and on the status line, plain words first).
    void addEvent(const EventLog::Event& e);
    // Barcode focus (Timer4): puts the focus on Text2 when Check1 is ticked and this is
    // the active window, so typing in another station window is never interrupted.
    void keepBarcodeFocus();
    // The order entry as Enter in Text2 runs it: the search, then an empty box. Scans
    // typed into other windows come here too.
    void enterOrder(const QString& text);

    // The light-bus methods of the main window; the station sets the bus they drive.
    void setLightBus(LightBus* bus) { m_lightBus = bus; }
    Outcome CALL_LIGHT(int light, int command);
    static QByteArray CRC16(const QByteArray& data);

    QPushButton* Command1 = nullptr;   // 設置
    QPushButton* Command2 = nullptr;   // 配方輸入
    QPushButton* Command3 = nullptr;   // 歷史資料
    QPushButton* Command4 = nullptr;   // 刷新
    QPushButton* Command5 = nullptr;   // 排入計量
    QPushButton* Command6 = nullptr;   // 染料燈號
    QPushButton* Command7 = nullptr;   // 取消全部
    std::array<QCheckBox*, 5> Check{}; // Check1 .. Check5 at 0 .. 4
    QLineEdit* Text2 = nullptr;
    QLabel* Text2Label = nullptr; // names the order entry
    QListWidget* List1 = nullptr;
    QListWidget* List2 = nullptr;
    std::array<QPlainTextEdit*, 11> Text1{};
    std::array<QLabel*, 2> Label1{};
    QLabel* Label2 = nullptr;
    std::array<QLabel*, 13> Label3{};
    std::array<QLabel*, 2> BalanceName{};
    QLabel* StatusLabel = nullptr;
    QPushButton* UndoButton = nullptr; // puts the last removal back
    QTextEdit* EventList = nullptr;    // the status line's messages with their time
    std::array<QPushButton*, 2> ZeroButton{};
    std::array<QLabel*, 2> ZeroState{};
    WeighingPanel* Panel = nullptr;
    QMenu* RUN_TOOL = nullptr;
    QAction* RUN = nullptr;
    QAction* STOP = nullptr;
    QAction* DEL = nullptr;

    QPushButton* ExtensionsButton = nullptr; // 擴充設定: the window of dyestation.ini

signals:
    void openSettings();
    void openRecipes();
    void openHistory();
    void refreshRecipes();
    void queueRecipe(int list1Position);
    void openLightMap();
    void openExtensions();
    void cancelAll();
    void orderEntered(const QString& text);
    void runClicked();
    void stopClicked();
    void deleteQueued(int list2Position, const QString& entry);
    void zeroRequested(Balance b);
    void boxBarrelRequested();
    void undoRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static int selectedRow(const QListWidget* list);
    void showWeighing();
    void showReading(Balance b);
    void showPanel();
    void setupCommands();
    void setupLists();
    void setupBalances();
    void setupWeighing(StatusLine& status);
    void setupLayout();

    WeighingModel& m_weighing;
    BalanceReadings& m_readings;
    QList<QByteArray> m_shownRecords; // what List2 shows, as of which fill
    quint64 m_shownRemovals = 0;
    Background m_background = Background::Running;
    LightBus* m_lightBus = nullptr;
    const WeighingPanelModel& m_panel;
    std::array<bool, 2> m_readingShownLive{true, true};
};
