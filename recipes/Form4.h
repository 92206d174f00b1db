#pragma once
#include <QWidget>
#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class RecipeEditor;
class StatusLine;

// The recipe editor window. Its boxes write through to the RecipeEditor as the operator
// types; its buttons and list clicks call the editor; Enter walks through the boxes.
class Form4 : public QWidget {
    Q_OBJECT
public:
    Form4(RecipeEditor& editor, StatusLine& status, QWidget* parent = nullptr);

    QLabel* Label4 = nullptr; // 單號
    QLineEdit* Text2 = nullptr;
    QLabel* Label3 = nullptr; // 桶號
    QComboBox* Combo1 = nullptr;
    QLabel* Label2 = nullptr; // 加水量
    QLineEdit* Text3 = nullptr;
    std::array<QLabel*, 10> Label1{};
    std::array<QLineEdit*, 20> Text1{};
    QListWidget* List1 = nullptr;
    QPushButton* Command1 = nullptr;   // 存檔
    QPushButton* Command2 = nullptr;   // 修改
    QPushButton* Command3 = nullptr;   // 刪除
    QPushButton* Command4 = nullptr;   // 清除
    QPushButton* Command5 = nullptr;   // EXIT
    std::array<QCheckBox*, 5> Check{}; // Check1 .. Check5 at 0 .. 4
    QLabel* StatusLabel = nullptr;
    QPushButton* UndoButton = nullptr; // puts the last removal back

    // The controls whose texts are converted to Simplified Chinese.
    static QStringList simplifiedTexts();
    // The undo button: what the last removal was, empty when nothing can be put back.
    void setUndoText(const QString& what);

signals:
    void undoRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setupControls(StatusLine& status);
    void connectEditor();
    void showBoxes();
    void showList();
    int selectedRow() const;
    QString selectedEntry() const;

    RecipeEditor& m_editor;
    bool m_loaded = false;
};
