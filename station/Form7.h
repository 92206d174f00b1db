#pragma once
#include <QPoint>
#include <QRect>
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

    // The top left of a window with frame `frame` on a screen whose free area is `free`:
    // in the middle of it when the window was never placed; otherwise where it stands,
    // moved in as far as needed so that no part of it is off the free area.
    static QPoint placement(const QRect& frame, const QRect& free, bool placed);

signals:
    void undoRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    WeighingModel& m_weighing;
};
