#pragma once
#include "common/PortChoice.h"

#include <QList>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>

class BoundTimer;
class QCheckBox;
class TickTimer;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QMenu;
class QToolButton;
class StationSettings;

// The settings window: 28 labelled text boxes and 14 option boxes bound to the station
// settings (an edit acts at once for every reader), the save and exit buttons, and the
// order-search controls (search box Text3, query box Text1, staging grid MSFlexGrid1).
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(StationSettings& settings, QWidget* parent = nullptr);

    std::array<QLabel*, 28> Label1{};
    std::array<QLineEdit*, 28> Text2{};
    std::array<QCheckBox*, 3> Check1{};
    std::array<QCheckBox*, 3> Check2{};
    std::array<QCheckBox*, 3> Check3{};
    std::array<QCheckBox*, 5> Check4{};
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QPushButton* Command1 = nullptr; // 存檔
    QPushButton* Command2 = nullptr; // 單號搜尋導入
    QPushButton* Command3 = nullptr; // ---
    QPushButton* Command4 = nullptr; // EXIT
    QLineEdit* Text3 = nullptr;      // order search entry
    QPlainTextEdit* Text1 = nullptr; // query box
    QTableWidget* MSFlexGrid1 = nullptr;
    QLabel* StatusLabel = nullptr; // database faults
    BoundTimer* Timer2 = nullptr;  // order polling, bound by bindTimer2
    // Beside each port setting: the machine's ports to choose from, each adapter by its
    // stable path and its name.
    std::array<QToolButton*, 3> PortButtons{};

    // Where the port buttons get their list (looked at when one is pressed).
    void setPortChoices(std::function<QList<PortChoice>()> list) {
        m_portChoices = std::move(list);
    }
    // The menu of a port button: the choices, each setting the port when chosen.
    void fillPortMenu(QMenu& menu, int setting);

    // Binds Timer2 to its logic timer; `onTick` runs the polling step.
    void bindTimer2(TickTimer& model, std::function<void()> onTick);

    // The controls whose texts are converted to Simplified Chinese.
    static QStringList simplifiedTexts();

    // The query box shows every query sent; an edit of it is passed on by queryEdited.
    void setQueryText(const QString& text);
    // The staging grid, header row 0 first.
    void showGrid(const QList<QStringList>& cells);
    void setFaultText(const QString& text);
    QString searchText() const;
    // The search entry (Text3), where a scan replaces what it held.
    QWidget* searchBox() const;
    // Empties the search entry when it still holds `key` (spaces trimmed), the order whose
    // rows were just read.
    void clearSearchIf(const QString& key);

signals:
    void queryEdited(const QString& text);
    void saveClicked();
    void mappingClicked();
    void mainWindowClicked();
    void searchEntered(const QString& text);
    // A click on the staging grid: the selected column and row.
    void gridClicked(int column, int row);

private:
    void bindOption(QCheckBox* box, const QString& array, int index);
    StationSettings& m_settings;
    std::function<QList<PortChoice>()> m_portChoices;
};
