#pragma once
#include <QList>
#include <QStringList>
#include <QWidget>
#include <array>

class FieldMapping;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// The field-mapping window: 5 boxes Text2(0..4), 60 entries Combo1(0..59) with their labels
// Label2(0..59), the query box Text1, the fixed note Text3, the result grid MSFlexGrid1 and
// the buttons "執行SQL", "存檔", "生成代碼", "EXIT". The boxes are bound to the mapping model.
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(FieldMapping& mapping, QWidget* parent = nullptr);

    std::array<QLabel*, 5> Label1{};
    std::array<QLineEdit*, 5> Text2{};
    std::array<QLabel*, 60> Label2{};
    std::array<QComboBox*, 60> Combo1{};
    QPlainTextEdit* Text1 = nullptr;
    QPlainTextEdit* Text3 = nullptr;
    QTableWidget* MSFlexGrid1 = nullptr;
    QPushButton* Command1 = nullptr; // 執行SQL
    QPushButton* Command2 = nullptr; // 存檔
    QPushButton* Command3 = nullptr; // 生成代碼
    QPushButton* Command4 = nullptr; // EXIT

    // The controls whose texts are converted to Simplified Chinese.
    static QStringList simplifiedTexts();
    // The result grid, header row 0 first.
    void showGrid(const QList<QStringList>& cells);

signals:
    void runSqlClicked();
    void saveClicked();
    void generateClicked();

private:
    FieldMapping& m_mapping;
};
