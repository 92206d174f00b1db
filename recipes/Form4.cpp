#include "recipes/Form4.h"

#include "common/StatusLine.h"
#include "config/Language.h"
#include "recipes/RecipeEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <tuple>

namespace {
// Positions are given in twips; the screen has 15 twips to a pixel at 96 dpi.
constexpr int px(int twips) {
    return twips / 15;
}
constexpr int kBoxHeight = px(360);

void setText(QLineEdit* e, const QString& t) {
    if (e->text() != t)
        e->setText(t);
}
} // namespace

Form4::Form4(RecipeEditor& editor, StatusLine& status, QWidget* parent)
    : QWidget(parent), m_editor(editor) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("配方輸入"));
    resize(px(10800), px(9700));

    setupControls(status);
    connectEditor();
    connect(&m_editor, &RecipeEditor::boxesChanged, this, &Form4::showBoxes);
    connect(&m_editor, &RecipeEditor::listChanged, this, &Form4::showList);
    showBoxes();
    showList();
}

// The boxes, the list, the buttons and the status line, where the window has always had
// them (positions in twips).
void Form4::setupControls(StatusLine& status) {
    auto label = [this](const QString& name, const QString& caption, int x, int y,
                        int w = px(1200)) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        l->setGeometry(px(x), px(y), w, kBoxHeight);
        return l;
    };
    auto edit = [this](const QString& name, int x, int y, int w) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setGeometry(px(x), px(y), w, kBoxHeight);
        e->installEventFilter(this);
        return e;
    };
    auto button = [this](const char* name, const char* caption, int x, int y) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(px(x), px(y), px(1800), px(480));
        return b;
    };

    Label4 = label(QStringLiteral("Label4"), QStringLiteral("單號"), 240, 1680);
    Text2 = edit(QStringLiteral("Text2"), 1560, 1680, px(3600));
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("桶號"), 240, 2160);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setGeometry(px(1560), px(2160), px(2400), kBoxHeight);
    Combo1->installEventFilter(this);
    Label2 = label(QStringLiteral("Label2"), QStringLiteral("加水量"), 240, 2640);
    Text3 = edit(QStringLiteral("Text3"), 1560, 2640, px(2400));
    for (int k = 0; k < 10; ++k) {
        const int y = 3120 + 480 * k;
        Label1[size_t(k)] =
            label(QStringLiteral("Label1(%1)").arg(k), QString::number(k + 1), 240, y, px(500));
        Text1[size_t(k)] = edit(QStringLiteral("Text1(%1)").arg(k), 840, y, px(2040));
        Text1[size_t(k + 10)] = edit(QStringLiteral("Text1(%1)").arg(k + 10), 3000, y, px(2040));
    }
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(px(5520), px(240), px(3495), px(8880));

    Command1 = button("Command1", "存檔", 2400, 8040);
    Command2 = button("Command2", "修改", 360, 8040);
    Command3 = button("Command3", "刪除", 2400, 8640);
    Command4 = button("Command4", "清除", 360, 8640);
    Command5 = button("Command5", "EXIT", 9480, 240);
    Command5->resize(px(1200), px(480));
    // Puts the last removal back (a deleted recipe, or jobs taken off the queue).
    UndoButton = button("UndoButton", "復原刪除", 4200, 8640);
    UndoButton->resize(px(1200), px(480));
    UndoButton->setEnabled(false);
    connect(UndoButton, &QPushButton::clicked, this, &Form4::undoRequested);

    const int checkAt[5][2] = {{240, 240}, {240, 840}, {1680, 240}, {1680, 840}, {3000, 240}};
    for (int i = 0; i < 5; ++i) {
        auto* c = new QCheckBox(QStringLiteral("Check%1").arg(i + 1), this);
        c->setObjectName(QStringLiteral("Check%1").arg(i + 1));
        c->setGeometry(px(checkAt[i][0]), px(checkAt[i][1]), px(1300), kBoxHeight);
        Check[size_t(i)] = c;
    }

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLine"));
    StatusLabel->setGeometry(px(240), px(9240), px(10300), kBoxHeight);
    connect(&status, &StatusLine::reported, StatusLabel, &QLabel::setText);
}

void Form4::connectEditor() {
    // Typing writes through to the editor at once.
    connect(Text2, &QLineEdit::textEdited, this, [this](const QString& t) { m_editor.Text2 = t; });
    connect(Text3, &QLineEdit::textEdited, this, [this](const QString& t) { m_editor.Text3 = t; });
    connect(Combo1, &QComboBox::editTextChanged, this,
            [this](const QString& t) { m_editor.Combo1 = t; });
    for (int k = 0; k < 20; ++k)
        connect(Text1[size_t(k)], &QLineEdit::textEdited, this,
                [this, k](const QString& t) { m_editor.Text1[size_t(k)] = t; });
    connect(Check[4], &QCheckBox::toggled, this, [this](bool on) { m_editor.Check5 = on; });

    // The editor puts every refusal and failure on the status line itself.
    connect(Command1, &QPushButton::clicked, &m_editor, &RecipeEditor::save);
    connect(Command2, &QPushButton::clicked, this,
            [this] { m_editor.modify(selectedRow(), selectedEntry()); });
    connect(Command3, &QPushButton::clicked, this,
            [this] { m_editor.remove(selectedRow(), selectedEntry()); });
    connect(Command4, &QPushButton::clicked, &m_editor, &RecipeEditor::clear);
    connect(Command5, &QPushButton::clicked, this, &QWidget::hide);
    // The editor's part is queued: a click may delete the entry and refill the list, which
    // must not happen while the list is still delivering the click. The item itself dies
    // with a refill, so only its row, its text and the list's version travel; a second
    // click queued before the first one's refill is refused by the version.
    connect(List1, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int row = List1->row(item);
        const QString text = item->text();
        const quint64 version = m_editor.listVersion();
        QMetaObject::invokeMethod(
            this, [this, row, text, version] { m_editor.click(row, text, version); },
            Qt::QueuedConnection);
    });
}

// The first showing is the window's load: boxes emptied, list filled from the store.
void Form4::showEvent(QShowEvent* event) {
    if (!m_loaded) {
        m_loaded = true;
        m_editor.load();
    }
    QWidget::showEvent(event);
}

// The visibly selected entry, not the current one: with the keyboard focus on the list
// and nothing selected, row 0 is current without being chosen.
int Form4::selectedRow() const {
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    return selected.isEmpty() ? -1 : List1->row(selected.first());
}

QString Form4::selectedEntry() const {
    const int row = selectedRow();
    return row >= 0 ? List1->item(row)->text() : QString();
}

void Form4::showBoxes() {
    setText(Text2, m_editor.Text2);
    setText(Text3, m_editor.Text3);
    if (Combo1->currentText() != m_editor.Combo1)
        Combo1->setEditText(m_editor.Combo1);
    for (int k = 0; k < 20; ++k)
        setText(Text1[size_t(k)], m_editor.Text1[size_t(k)]);
}

void Form4::showList() {
    List1->clear();
    List1->addItems(m_editor.entries);
}

bool Form4::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            int box = -1;
            if (watched == Text2)
                box = RecipeEditor::kText2;
            else if (watched == Text3)
                box = RecipeEditor::kText3;
            else if (watched == Combo1)
                box = RecipeEditor::kCombo1;
            for (int k = 0; k < 20; ++k)
                if (watched == Text1[size_t(k)])
                    box = k;
            if (box >= 0) {
                const int to = RecipeEditor::enterMovesTo(box);
                if (to >= 0)
                    Text1[size_t(to)]->setFocus(Qt::TabFocusReason);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QStringList Form4::simplifiedTexts() {
    return {QStringLiteral("Label2"),   QStringLiteral("Label3"),    QStringLiteral("Label4"),
            QStringLiteral("Command1"), QStringLiteral("Command2"),  QStringLiteral("Command3"),
            QStringLiteral("Command4"), QStringLiteral("UndoButton")};
}

void Form4::setUndoText(const QString& what) {
    UndoButton->setEnabled(!what.isEmpty());
    UndoButton->setToolTip(what);
}
