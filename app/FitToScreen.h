#pragma once

class QWidget;

// A window laid out at fixed positions that is larger than the screen's free area keeps
// every control reachable: its controls move into a scroll area that fills the window, and
// the window is sized to the free area. A window that fits is left as it is.
void fitToScreen(QWidget* window);
