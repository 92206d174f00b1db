#include "app/ScanRouter.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QWidget>

namespace {

bool isModifierOnly(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_CapsLock ||
           key == Qt::Key_NumLock;
}

bool isEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// A character a scanner may send: printable text, at most Shift held.
bool isScanCharacter(const QKeyEvent* e) {
    const Qt::KeyboardModifiers other = e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    return other == Qt::NoModifier && !e->isAutoRepeat() && e->text().size() == 1 &&
           e->text().at(0).isPrint();
}

bool within(const QWidget* w, const QList<QPointer<QWidget>>& roots) {
    // A popup menu is a window of its own; it belongs where it was opened.
    while (qobject_cast<const QMenu*>(w->window()) && w->window()->parentWidget())
        w = w->window()->parentWidget();
    for (const QPointer<QWidget>& r : roots)
        if (r && (w == r || r->isAncestorOf(w)))
            return true;
    return false;
}

} // namespace

ScanRouter::ScanRouter(std::function<void(const QString&)> onScan, QObject* parent)
    : QObject(parent), m_onScan(std::move(onScan)) {
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setInterval(kHoldMs);
    connect(&m_holdTimer, &QTimer::timeout, this, &ScanRouter::deliverHeld);
}

void ScanRouter::guardAllControls(QWidget* window, const QList<QWidget*>& except) {
    m_guardedAll.append(window);
    for (QWidget* w : except)
        m_except.append(w);
}

void ScanRouter::replaceOnScan(QWidget* widgetOrWindow) {
    m_scanFields.append(widgetOrWindow);
}

ScanRouter::Kind ScanRouter::kindOf(const QWidget* w) const {
    const bool field = qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
                       w->inherits("QPlainTextEdit") || w->inherits("QTextEdit");
    if (field && within(w, m_scanFields))
        return Kind::ScanField;
    if (within(w, m_except))
        return Kind::Other;
    if (within(w, m_guardedAll))
        return Kind::Guarded;
    return Kind::Other;
}

bool ScanRouter::eventFilter(QObject* watched, QEvent* event) {
    if (m_delivering)
        return false;
    // A click or a change of focus acts on what was typed so far (a save button, a list):
    // the held keys are typed first.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::FocusOut:
    case QEvent::WindowDeactivate:
        if (!m_held.empty())
            deliverHeld();
        return false;
    default:
        break;
    }
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) ||
        !watched->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    if (isModifierOnly(key->key()))
        return false;
    if (event->type() == QEvent::KeyRelease) {
        // A held key's release waits with it: a button pressed by a space delivered late
        // must also see the space let go, and in a scan neither reaches it.
        if (m_held.empty() || w != m_target || key->isAutoRepeat())
            return false;
        m_held.emplace_back(key->clone());
        return true;
    }
    const Kind kind = kindOf(w);
    const bool candidate = kind != Kind::Other && key->timestamp() != 0 &&
                           (isScanCharacter(key) || isEnter(key->key()));
    // Any other key, or a key for another field, ends the hold: what was held is typed.
    if (!m_held.empty() && (!candidate || w != m_target))
        deliverHeld();
    if (!candidate)
        return false;

    if (isEnter(key->key())) {
        if (m_held.empty())
            return false;
        m_holdTimer.stop();
        const std::optional<QString> scan = m_detector.enter(key->timestamp());
        const std::vector<std::unique_ptr<QKeyEvent>> keys = std::exchange(m_held, {});
        if (scan && kind == Kind::Guarded) {
            // Nothing reaches the field, not even the Enter that would save it.
            m_onScan(*scan);
            return true;
        }
        deliver(w, keys, scan.has_value());
        return false; // the Enter follows as typed
    }

    if (m_detector.character(key->text(), key->timestamp()))
        flush();
    m_target = w;
    m_held.emplace_back(key->clone());
    m_holdTimer.start();
    return true;
}

void ScanRouter::deliverHeld() {
    flush();
    m_detector.clear();
}

void ScanRouter::flush() {
    m_holdTimer.stop();
    const std::vector<std::unique_ptr<QKeyEvent>> keys = std::exchange(m_held, {});
    if (m_target && !keys.empty())
        deliver(m_target, keys, false);
}

void ScanRouter::deliver(QWidget* target, const std::vector<std::unique_ptr<QKeyEvent>>& keys,
                         bool replace) {
    if (replace) {
        if (auto* e = qobject_cast<QLineEdit*>(target))
            e->selectAll();
        else if (auto* c = qobject_cast<QComboBox*>(target); c && c->lineEdit())
            c->lineEdit()->selectAll();
    }
    m_delivering = true;
    for (const std::unique_ptr<QKeyEvent>& k : keys) {
        const std::unique_ptr<QKeyEvent> copy(k->clone());
        QCoreApplication::sendEvent(target, copy.get());
    }
    m_delivering = false;
}
