#include "station/Form3.h"

#include "common/StatusLine.h"
#include "config/Language.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/ModbusFrames.h"
#include "station/Form3Panel.h"
#include "weighing/StatusColours.h"
#include "weighing/WeighingModel.h"
#include "weighing/WeighingPanelModel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>

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
             const WeighingPanelModel& panel, QWidget* parent)
    : QWidget(parent), m_weighing(weighing), m_readings(readings), m_panel(panel) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("dyestation"));
    resize(1280, 720);

    setupCommands();
    setupLists();
    setupBalances();
    setupWeighing(status);
    setupLayout();
    connect(&weighing, &WeighingModel::changed, this, &Form3::showWeighing);
    connect(&panel, &WeighingPanelModel::changed, this, &Form3::showPanel);
    showWeighing();
    showPanel();
    for (Balance b : kBalances)
        showReading(b);
    // The window opens ready for the first scan: the focus waits in the order entry.
    Text2->setFocus(Qt::OtherFocusReason);
}

// The command buttons, the check boxes and the queue's RUN / STOP / DEL menu, each wired
// to the signal the station acts on.
void Form3::setupCommands() {
    auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setMinimumHeight(36);
        return b;
    };
    Command1 = button("Command1", "設置");
    Command2 = button("Command2", "配方輸入");
    Command3 = button("Command3", "歷史資料");
    Command6 = button("Command6", "染料燈號");
    Command4 = button("Command4", "刷新");
    Command5 = button("Command5", "排入計量");
    Command7 = button("Command7", "取消全部");
    UndoButton = button("UndoButton", "復原刪除");
    UndoButton->setEnabled(false);
    // The window of the station's own extensions (dyestation.ini).
    ExtensionsButton = button("ExtensionsButton", "擴充設定");

    for (int i = 0; i < 5; ++i) {
        auto* c = new QCheckBox(
            i == 0 ? QStringLiteral("刷條碼") : QStringLiteral("Check%1").arg(i + 1), this);
        c->setObjectName(QStringLiteral("Check%1").arg(i + 1));
        Check[size_t(i)] = c;
    }

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
        emit deleteQueued(row, row >= 0 ? List2->item(row)->text() : QString());
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
    connect(UndoButton, &QPushButton::clicked, this, &Form3::undoRequested);
}

// The order entry, the recipe list, the queue list and the event list.
void Form3::setupLists() {
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    QFont big = Text2->font();
    big.setPointSize(14);
    Text2->setFont(big);
    Text2->setPlaceholderText(QStringLiteral("掃描條碼或輸入單號,按 Enter"));
    Text2->installEventFilter(this);
    Text2Label = new QLabel(QStringLiteral("單號/條碼"), this);
    Text2Label->setObjectName(QStringLiteral("Text2Label"));
    Text2Label->setBuddy(Text2);

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    List2->viewport()->installEventFilter(this);

    EventList = new QTextEdit(this);
    EventList->setObjectName(QStringLiteral("EventList"));
    EventList->setReadOnly(true);
    EventList->document()->setMaximumBlockCount(EventLog::kKept); // one block a message
}

// Each balance's reading, name, zero button and zeroing result.
void Form3::setupBalances() {
    for (int i = 0; i < 2; ++i) {
        BalanceName[size_t(i)] = new QLabel(m_weighing.Label3[size_t(i)], this);
        auto* l = new QLabel(m_readings.caption(balanceAtLabel(i)), this);
        l->setObjectName(indexed("Label1", i));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont f = l->font();
        f.setPointSize(i == 0 ? 34 : 30);
        f.setBold(true);
        l->setFont(f);
        l->setFrameShape(QFrame::Box);
        l->setMinimumHeight(58);
        l->installEventFilter(this);
        Label1[size_t(i)] = l;
        // The zero button does what the double-click on the reading does.
        auto* z = new QPushButton(QStringLiteral("歸零"), this);
        z->setObjectName(indexed("ZeroButton", i));
        z->setMinimumHeight(30);
        connect(z, &QPushButton::clicked, this,
                [this, i] { emit zeroRequested(balanceAtLabel(i)); });
        ZeroButton[size_t(i)] = z;
        ZeroState[size_t(i)] = new QLabel(this);
        ZeroState[size_t(i)]->setObjectName(indexed("ZeroState", i));
    }
    connect(&m_readings, &BalanceReadings::changed, this, &Form3::showReading);
}

// The prompt, the boxes of the order's lines, the weighing panel and the status line.
void Form3::setupWeighing(StatusLine& status) {
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);
    QFont pf = Label2->font();
    pf.setPointSize(16);
    Label2->setFont(pf);
    Label2->setFrameShape(QFrame::Box);
    Label2->setMinimumHeight(52);
    setBackgroundColour(Label2, Qt::white);

    for (int i = 0; i < 13; ++i) {
        Label3[size_t(i)] = new QLabel(m_weighing.Label3[size_t(i)], this);
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
            t->setFixedHeight(76);
            t->hide();
        } else {
            QFont f = t->font();
            f.setPointSize(12);
            t->setFont(f);
            t->setFixedHeight(34);
        }
        Text1[size_t(i)] = t;
    }

    Panel = new WeighingPanel(m_panel, this);

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLine"));
    StatusLabel->setWordWrap(true); // a long message wraps, never cut off
    StatusLabel->setMinimumHeight(36);
    StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The station's event log fills the line (addEvent); a cleared status clears it.
    connect(&status, &StatusLine::reported, StatusLabel, [this](const QString& text) {
        if (text.isEmpty())
            StatusLabel->clear();
    });
}

// The controls in layouts, so that the window scales from 1366 x 768 up: the commands,
// the entry and the three lists on the left; the balances, the prompt, the weighing panel
// and the line boxes on the right; the status line across the bottom.
void Form3::setupLayout() {
    auto* left = new QVBoxLayout;
    auto* commands = new QGridLayout;
    const std::array<QPushButton*, 8> order = {Command1, Command2, Command3, Command6,
                                               Command4, Command5, Command7, UndoButton};
    for (int i = 0; i < 8; ++i)
        commands->addWidget(order[size_t(i)], i / 4, i % 4);
    commands->addWidget(ExtensionsButton, 2, 0, 1, 2);
    left->addLayout(commands);
    auto* checks = new QHBoxLayout;
    for (QCheckBox* c : Check)
        checks->addWidget(c);
    left->addLayout(checks);
    auto* entry = new QHBoxLayout;
    entry->addWidget(Text2Label);
    entry->addWidget(Text2, 1);
    left->addLayout(entry);
    left->addWidget(List1, 3);
    left->addWidget(List2, 3);
    left->addWidget(EventList, 3);

    auto* right = new QVBoxLayout;
    auto* balances = new QHBoxLayout;
    for (int i = 0; i < 2; ++i) {
        auto* col = new QGridLayout;
        col->addWidget(BalanceName[size_t(i)], 0, 0);
        col->addWidget(ZeroState[size_t(i)], 0, 1, Qt::AlignRight);
        col->addWidget(ZeroButton[size_t(i)], 0, 2);
        col->addWidget(Label1[size_t(i)], 1, 0, 1, 3);
        col->setColumnStretch(0, 1);
        balances->addLayout(col);
    }
    right->addLayout(balances);
    right->addWidget(Label2);
    right->addWidget(Text1[10]);
    right->addWidget(Panel, 1);
    auto* boxes = new QGridLayout;
    for (int i = 0; i < 10; ++i)
        boxes->addWidget(Text1[size_t(i)], i / 5, i % 5);
    right->addLayout(boxes);

    auto* columns = new QHBoxLayout;
    auto* leftBox = new QWidget(this);
    leftBox->setLayout(left);
    left->setContentsMargins(0, 0, 0, 0);
    leftBox->setMinimumWidth(330);
    leftBox->setMaximumWidth(460);
    columns->addWidget(leftBox, 0);
    columns->addLayout(right, 1);

    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(8, 8, 8, 6);
    all->addLayout(columns, 1);
    all->addWidget(StatusLabel);
}

// The visibly selected row: with the keyboard focus on a list and nothing selected, row 0
// is current without having been chosen.
int Form3::selectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

void Form3::showReading(Balance b) {
    // A balance that never answered or went stale shows a grey dash, never a number that
    // could be taken for a live weight.
    const size_t index = size_t(labelIndex(b));
    const bool live = m_readings.isLive(b);
    Label1[index]->setText(m_panel.readingText(b));
    if (live != m_readingShownLive[index]) {
        m_readingShownLive[index] = live;
        QPalette p = Label1[index]->palette();
        p.setColor(QPalette::WindowText, live ? QColor(Qt::black) : QColor(160, 160, 160));
        Label1[index]->setPalette(p);
    }
    // Set at every reading: the language shown may change after the first one.
    Label1[index]->setToolTip(live ? QString() : m_panel.caption("天平無回應"));
}

void Form3::showPanel() {
    for (Balance b : kBalances) {
        const size_t i = size_t(labelIndex(b));
        const QString z = m_panel.zeroText(b);
        if (ZeroState[i]->text() != z)
            ZeroState[i]->setText(z);
        ZeroButton[i]->setEnabled(m_panel.zeroState(b) != WeighingPanelModel::ZeroState::Running);
    }
}

void Form3::setUndoText(const QString& what) {
    UndoButton->setEnabled(!what.isEmpty());
    UndoButton->setToolTip(what);
}

void Form3::addEvent(const EventLog::Event& e) {
    // Plain words first, in red for a fault; the technical detail after, smaller and grey.
    QString html = QStringLiteral("<p style=\"margin:0 0 4px 0\"><span style=\"color:%1\">%2 "
                                  "%3</span>")
                       .arg(e.fault ? QStringLiteral("#be0000") : QStringLiteral("#000000"),
                            e.time.toString(QStringLiteral("HH:mm:ss")), e.plain.toHtmlEscaped());
    if (!e.detail.isEmpty())
        html += QStringLiteral("<br/><span style=\"color:#707070\">&nbsp;&nbsp;&nbsp;%1</span>")
                    .arg(e.detail.toHtmlEscaped());
    EventList->append(html + QStringLiteral("</p>"));
    EventList->verticalScrollBar()->setValue(EventList->verticalScrollBar()->maximum());
    StatusLabel->setText(e.detail.isEmpty() ? e.plain : e.plain + QStringLiteral(" — ") + e.detail);
    QPalette p = StatusLabel->palette();
    p.setColor(QPalette::WindowText, e.fault ? QColor(190, 0, 0) : QColor(Qt::black));
    StatusLabel->setPalette(p);
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

void Form3::showColours(const StatusColours& colours) {
    auto colour = [](const Rgb& c) { return QColor(c.r, c.g, c.b); };
    if (const std::optional<Rgb>& c = colours.prompt())
        setPromptColour(colour(*c));
    for (int i = 0; i < StatusColours::kBoxes; ++i)
        if (const std::optional<Rgb>& c = colours.box(i))
            setBoxColour(i, colour(*c));
}

QString Form3::recipeEntry(int row) const {
    const QListWidgetItem* item = List1->item(row);
    return item ? item->text() : QString();
}

QStringList Form3::simplifiedTexts() {
    QStringList names;
    for (int i = 1; i <= 7; ++i)
        names << QStringLiteral("Command%1").arg(i);
    for (int i = 1; i <= 5; ++i)
        names << QStringLiteral("Check%1").arg(i);
    return names + controlArray(QStringLiteral("Label3"), 0, 12) +
           controlArray(QStringLiteral("ZeroButton"), 0, 1) +
           QStringList{QStringLiteral("UndoButton"), QStringLiteral("ExtensionsButton"),
                       QStringLiteral("Text2Label"), QStringLiteral("Text2")};
}
