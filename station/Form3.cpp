#include "station/Form3.h"

#include "common/StatusLine.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/ModbusFrames.h"
#include "station/WeighingModel.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

QString indexed(const char* name, int i) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(i);
}

// Only the window role: lists and text boxes keep their own (white) base.
void setBackgroundColour(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

Form3::Form3(WeighingModel& weighing, BalanceReadings& readings, StatusLine& status,
             QWidget* parent)
    : QWidget(parent), m_weighing(weighing), m_readings(readings) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("dyestation"));
    resize(1200, 800);

    auto button = [this](const char* name, const char* caption, int x, int y, int w = 120) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, y, w, 40);
        return b;
    };
    Command1 = button("Command1", "設置", 10, 10);
    Command2 = button("Command2", "配方輸入", 140, 10);
    Command3 = button("Command3", "歷史資料", 270, 10);
    Command6 = button("Command6", "染料燈號", 400, 10);
    Command4 = button("Command4", "刷新", 10, 60);
    Command5 = button("Command5", "排入計量", 140, 60);
    Command7 = button("Command7", "取消全部", 270, 60);
    // The window of the station's own extensions (dyestation.ini).
    ExtensionsButton = button("ExtensionsButton", "擴充設定", 740, 60);

    for (int i = 0; i < 5; ++i) {
        auto* c = new QCheckBox(
            i == 0 ? QStringLiteral("刷條碼") : QStringLiteral("Check%1").arg(i + 1), this);
        c->setObjectName(QStringLiteral("Check%1").arg(i + 1));
        c->setGeometry(540 + i * 100, 15, 95, 28);
        Check[size_t(i)] = c;
    }

    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(400, 60, 330, 40);
    QFont big = Text2->font();
    big.setPointSize(14);
    Text2->setFont(big);
    Text2->installEventFilter(this);

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(10, 110, 380, 300);
    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    List2->setGeometry(10, 420, 380, 300);
    List2->viewport()->installEventFilter(this);

    for (int i = 0; i < 2; ++i) {
        BalanceName[size_t(i)] = new QLabel(weighing.Label3[size_t(i)], this);
        BalanceName[size_t(i)]->setGeometry(400 + i * 400, 110, 380, 24);
        auto* l = new QLabel(readings.caption(balanceAtLabel(i)), this);
        l->setObjectName(indexed("Label1", i));
        l->setGeometry(400 + i * 400, 135, 380, 70);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont f = l->font();
        f.setPointSize(i == 0 ? 40 : 32);
        f.setBold(true);
        l->setFont(f);
        l->setFrameShape(QFrame::Box);
        l->installEventFilter(this);
        Label1[size_t(i)] = l;
    }
    connect(&readings, &BalanceReadings::changed, this, &Form3::showReading);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(400, 215, 780, 60);
    Label2->setWordWrap(true);
    QFont pf = Label2->font();
    pf.setPointSize(16);
    Label2->setFont(pf);
    Label2->setFrameShape(QFrame::Box);
    setBackgroundColour(Label2, Qt::white);

    for (int i = 0; i < 13; ++i) {
        Label3[size_t(i)] = new QLabel(weighing.Label3[size_t(i)], this);
        Label3[size_t(i)]->setObjectName(indexed("Label3", i));
        Label3[size_t(i)]->hide();
    }

    for (int i = 0; i < 11; ++i) {
        auto* t = new QPlainTextEdit(this);
        t->setObjectName(indexed("Text1", i));
        t->setReadOnly(true);
        t->viewport()->installEventFilter(this);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        if (i < 10) {
            t->setGeometry(400 + (i / 5) * 395, 320 + (i % 5) * 92, 385, 88);
            t->hide();
        } else {
            t->setGeometry(400, 282, 780, 34);
            QFont f = t->font();
            f.setPointSize(12);
            t->setFont(f);
        }
        Text1[size_t(i)] = t;
    }

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLine"));
    StatusLabel->setGeometry(10, 775, 1180, 22);
    connect(&status, &StatusLine::reported, StatusLabel, &QLabel::setText);

    RUN_TOOL = new QMenu(this);
    RUN_TOOL->setObjectName(QStringLiteral("RUN_TOOL"));
    RUN = RUN_TOOL->addAction(QStringLiteral("RUN"));
    RUN->setObjectName(QStringLiteral("RUN"));
    STOP = RUN_TOOL->addAction(QStringLiteral("STOP"));
    STOP->setObjectName(QStringLiteral("STOP"));
    DEL = RUN_TOOL->addAction(QStringLiteral("DEL"));
    DEL->setObjectName(QStringLiteral("DEL"));
    connect(RUN, &QAction::triggered, this, &Form3::runClicked);
    connect(STOP, &QAction::triggered, this, &Form3::stopClicked);
    connect(DEL, &QAction::triggered, this, [this] {
        const int row = selectedRow(List2);
        if (row >= 0)
            emit deleteQueued(row, List2->item(row)->text());
    });

    connect(Command1, &QPushButton::clicked, this, &Form3::openSettings);
    connect(Command2, &QPushButton::clicked, this, &Form3::openRecipes);
    connect(Command3, &QPushButton::clicked, this, &Form3::openHistory);
    connect(ExtensionsButton, &QPushButton::clicked, this, &Form3::openExtensions);
    connect(Command4, &QPushButton::clicked, this, &Form3::refreshRecipes);
    connect(Command5, &QPushButton::clicked, this,
            [this] { emit queueRecipe(selectedRow(List1)); });
    connect(Command6, &QPushButton::clicked, this, &Form3::openLightMap);
    connect(Command7, &QPushButton::clicked, this, &Form3::cancelAll);

    connect(&weighing, &WeighingModel::changed, this, &Form3::showWeighing);
    showWeighing();
}

// The visibly selected row: with the keyboard focus on a list and nothing selected, row 0
// is current without having been chosen.
int Form3::selectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

void Form3::showReading(Balance b) {
    QLabel* label = Label1[size_t(labelIndex(b))];
    label->setText(m_readings.caption(b));
    // A stale reading is greyed out so that nobody takes it for a live weight.
    label->setStyleSheet(m_readings.isLive(b) ? QString() : QStringLiteral("color: #a0a0a0;"));
    label->setToolTip(m_readings.isLive(b) ? QString() : QStringLiteral("天平無回應"));
}

void Form3::showWeighing() {
    for (int i = 0; i < 13; ++i)
        if (Label3[size_t(i)]->text() != m_weighing.Label3[size_t(i)])
            Label3[size_t(i)]->setText(m_weighing.Label3[size_t(i)]);
    for (int i = 0; i < 2; ++i)
        BalanceName[size_t(i)]->setText(m_weighing.Label3[size_t(i)]);
    if (Label2->text() != m_weighing.prompt)
        Label2->setText(m_weighing.prompt);
    for (int i = 0; i < 11; ++i) {
        if (Text1[size_t(i)]->toPlainText() != m_weighing.boxText[size_t(i)])
            Text1[size_t(i)]->setPlainText(m_weighing.boxText[size_t(i)]);
        if (i < 10)
            Text1[size_t(i)]->setVisible(m_weighing.boxVisible[size_t(i)]);
    }
    // The queue list is rebuilt only when its content changed, so that the operator's
    // selection survives the refresh; it stays only on a row that still stands for the
    // same record (after a removal the rows have moved, whatever they show).
    if (m_shownRecords != m_weighing.queueRecords ||
        m_shownRemovals != m_weighing.queueListRemovals ||
        List2->count() != m_weighing.queueEntries.size()) {
        const int row = List2->currentRow();
        const bool keep = row >= 0 && m_shownRemovals == m_weighing.queueListRemovals &&
                          row < m_weighing.queueRecords.size() && row < m_shownRecords.size() &&
                          m_shownRecords.at(row) == m_weighing.queueRecords.at(row);
        List2->clear();
        List2->addItems(m_weighing.queueEntries);
        if (keep)
            List2->setCurrentRow(row);
        m_shownRecords = m_weighing.queueRecords;
        m_shownRemovals = m_weighing.queueListRemovals;
    }
}

void Form3::setRecipeEntries(const QStringList& entries) {
    List1->clear();
    List1->addItems(entries);
}

void Form3::setBackground(Background b) {
    m_background = b;
    switch (b) {
    case Background::Running:
        setPalette(QPalette());
        setAutoFillBackground(false);
        break;
    case Background::Stopped:
        setBackgroundColour(this, QColor(255, 200, 200));
        break;
    case Background::Failed:
        setBackgroundColour(this, QColor(255, 0, 0));
        break;
    }
    // The prompt and the boxes keep their own colours.
    setBackgroundColour(Label2, Label2->palette().color(QPalette::Window));
}

void Form3::setPromptColour(const QColor& c) {
    setBackgroundColour(Label2, c);
}

void Form3::setBoxColour(int index, const QColor& c) {
    QPlainTextEdit* t = Text1[size_t(index)];
    QPalette p = t->palette();
    if (p.color(QPalette::Base) != c) {
        p.setColor(QPalette::Base, c);
        t->setPalette(p);
    }
}

Outcome Form3::CALL_LIGHT(int light, int command) {
    if (!m_lightBus)
        return Outcome::failure(QStringLiteral("沒有燈號連接埠"));
    return m_lightBus->CALL_LIGHT(light, command);
}

QByteArray Form3::CRC16(const QByteArray& data) {
    return ModbusFrames::CRC16(data);
}

void Form3::enterOrder(const QString& text) {
    Text2->setText(text);
    emit orderEntered(text);
    Text2->clear(); // the entry box is emptied at the end of every Enter
}

void Form3::keepBarcodeFocus() {
    if (Check[0]->isChecked() && isActiveWindow() && !Text2->hasFocus())
        Text2->setFocus(Qt::OtherFocusReason);
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text2 && event->type() == QEvent::KeyPress) {
        const int k = static_cast<QKeyEvent*>(event)->key();
        if (k == Qt::Key_Return || k == Qt::Key_Enter) {
            enterOrder(Text2->text());
            return true;
        }
    }
    if (watched == List2->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::RightButton) {
            RUN_TOOL->popup(me->globalPosition().toPoint());
            return false;
        }
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (int i = 0; i < 2; ++i)
            if (watched == Label1[size_t(i)]) {
                emit zeroRequested(balanceAtLabel(i));
                return true;
            }
        for (int i = 0; i < 11; ++i)
            if (watched == Text1[size_t(i)]->viewport()) {
                emit boxBarrelRequested();
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}
