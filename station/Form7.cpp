#include "station/Form7.h"

#include "config/Language.h"
#include "station/WeighingModel.h"

#include <QPushButton>

Form7::Form7(WeighingModel& weighing, QWidget* parent) : QWidget(parent), m_weighing(weighing) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("Form7"));
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
