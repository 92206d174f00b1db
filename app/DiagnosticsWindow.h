#pragma once
#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

// The field buses' figures for a technician: refreshed every second while shown; "存檔"
// saves the figures and the frame traces. The figures and the saving come from `report`
// and `save` (PortStats); the window only shows them.
class DiagnosticsWindow : public QWidget {
    Q_OBJECT
public:
    DiagnosticsWindow(std::function<QString()> report, std::function<QString()> save,
                      QWidget* parent = nullptr);

    void refresh();

    QPlainTextEdit* Figures = nullptr;
    QPushButton* Save = nullptr;
    QLabel* StatusLabel = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    std::function<QString()> m_report;
    std::function<QString()> m_save;
    QTimer* m_timer = nullptr;
};
