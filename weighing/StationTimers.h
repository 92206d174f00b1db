#pragma once
#include "common/TickTimer.h"

// The six timers of the main window, as the logic sees them.
struct StationTimers {
    TickTimer Timer1{15};   // balance link
    TickTimer Timer2{200};  // weighing sequencer
    TickTimer Timer3{200};  // status colours
    TickTimer Timer4{3000}; // barcode focus
    TickTimer Timer5{10};   // all-lights-off sweep
    TickTimer Timer6{20};   // balance zeroing
};
