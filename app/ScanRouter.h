#pragma once
#include "weighing/ScanDetector.h"

#include <QKeyEvent>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

// Keeps barcode scans out of the controls where they do harm. Installed on the application,
// it watches the key presses aimed at the registered windows:
// - in a guarded window (the main window, the settings, the field mapping, the light map,
//   the recipe editor, the box/barrel dialog, the extensions) a scan never reaches a field,
//   list, button, check box, panel or open menu: it goes to `onScan`, the order entry of
//   the main window. It never moves a list's selection nor presses a button (not even with
//   a space inside it);
// - in a scan field (the order search entry, the recipe editor's boxes) a scan replaces
//   what the field held instead of being appended to it.
// To tell a scan from typing, printable keys for those controls are held back, with their
// releases, until the next key shows the pace (or kHoldMs pass), then delivered as they
// were typed. Keys that carry no time stamp are delivered at once: without a time nothing
// can be told.
class ScanRouter : public QObject {
    Q_OBJECT
public:
    static constexpr int kHoldMs = 80;

    explicit ScanRouter(std::function<void(const QString&)> onScan, QObject* parent = nullptr);

    // Every control of `window` except those in `except` is guarded, the window itself too
    // (it takes the keys when no control has the focus).
    void guardAllControls(QWidget* window, const QList<QWidget*>& except = {});
    // A field, or every text field of a window, where a scan replaces the content.
    void replaceOnScan(QWidget* widgetOrWindow);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Kind { Other, Guarded, ScanField };
    Kind kindOf(const QWidget* w) const;
    // Delivers the held keys as typed and forgets the burst.
    void deliverHeld();
    // Delivers the held keys (the detector has already moved on to a new burst).
    void flush();
    void deliver(QWidget* target, const std::vector<std::unique_ptr<QKeyEvent>>& keys,
                 bool replace);

    std::function<void(const QString&)> m_onScan;
    QList<QPointer<QWidget>> m_guardedAll, m_except, m_scanFields;
    ScanDetector m_detector;
    QPointer<QWidget> m_target;
    std::vector<std::unique_ptr<QKeyEvent>> m_held;
    QTimer m_holdTimer;
    bool m_delivering = false;
};
