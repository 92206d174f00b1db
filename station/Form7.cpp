#include "station/Form7.h"

#include "config/Language.h"
#include "weighing/WeighingModel.h"

#include <QPushButton>
#include <QScreen>
#include <algorithm>

Form7::Form7(WeighingModel& weighing, QWidget* parent) : QWidget(parent), m_weighing(weighing) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("換桶與整箱"));
    setFixedSize(300, 300);
    static const char* const captions[4] = {"換桶", "增加一箱", "整箱扣除", "取消"};
    static const int choices[4] = {BoxChoiceCode::ChangeBarrel, BoxChoiceCode::AddBox,
                                   BoxChoiceCode::DeductBox, BoxChoiceCode::None};
    for (int k = 0; k < 4; ++k) {
        auto* b = new QPushButton(QString::fromUtf8(captions[k]), this);
        b->setObjectName(QStringLiteral("Command1(%1)").arg(k));
        b->setGeometry(20, 15 + 57 * k, 260, 48);
        QFont f = b->font();
        f.setPointSize(14);
        b->setFont(f);
        connect(b, &QPushButton::clicked, this, [this, choice = choices[k]] {
            m_weighing.BoxChoice = choice;
            m_weighing.notify();
            hide();
        });
        Command1[size_t(k)] = b;
    }
    // Takes back the last choice of the line being weighed, until the line is accepted.
    UndoChoice = new QPushButton(QStringLiteral("復原上一步"), this);
    UndoChoice->setObjectName(QStringLiteral("UndoChoice"));
    UndoChoice->setGeometry(20, 15 + 57 * 4, 260, 40);
    connect(UndoChoice, &QPushButton::clicked, this, &Form7::undoRequested);
}

QStringList Form7::simplifiedTexts() {
    return controlArray(QStringLiteral("Command1"), 0, 3) << QStringLiteral("UndoChoice");
}

QPoint Form7::placement(const QRect& frame, const QRect& free, bool placed) {
    if (!placed)
        return free.center() - QPoint(frame.width() / 2, frame.height() / 2);
    auto within = [](int at, int first, int length, int room) {
        return std::clamp(at, first, std::max(first, first + room - length));
    };
    return {within(frame.x(), free.x(), frame.width(), free.width()),
            within(frame.y(), free.y(), frame.height(), free.height())};
}

// The dialog first opens in the middle of the screen, and always whole on it, whatever the
// screen's size; where the operator moved it, it opens there again.
void Form7::showEvent(QShowEvent* event) {
    QRect frame = frameGeometry();
    // Before the first show the window system has not yet told the title bar's height.
    if (frame == geometry())
        frame.adjust(0, 0, 0, 40);
    move(placement(frame, screen()->availableGeometry(), testAttribute(Qt::WA_Moved)));
    QWidget::showEvent(event);
}
