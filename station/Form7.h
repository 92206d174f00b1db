#pragma once
#include <QStringList>
#include <QWidget>
#include <array>

class QPushButton;
class WeighingModel;

// The box/barrel dialog: tells the sequencer about material that is not weighed on the
// balance in the usual way. Each button sets BoxChoice and hides the dialog; the
// sequencer acts on the choice in its weighing state.
class Form7 : public QWidget {
    Q_OBJECT
public:
    explicit Form7(WeighingModel& weighing, QWidget* parent = nullptr);

    // 換桶 (1), 增加一箱 (2), 整箱扣除 (3), 取消 (0).
    std::array<QPushButton*, 4> Command1{};
    QPushButton* UndoChoice = nullptr;

    // The controls whose texts are converted to Simplified Chinese.
    static QStringList simplifiedTexts();

signals:
    void undoRequested();

private:
    WeighingModel& m_weighing;
};
