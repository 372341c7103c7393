// The test program started again by a test, as another process with windows: each mode is the
// argument it is started with, and what the process does then.
#pragma once

#include <optional>

// Makes a window, says "held" once the watch holds its inhibitor, and ends by returning from
// main, its watch still running.
constexpr const char* kExitWithAWindow = "--exit-with-a-window";

// Makes a window for each further argument, "grant" or "refuse" (its answer to
// PBT_APMQUERYSUSPEND), in that order, and says "held" once the watch holds its inhibitor. After
// a line on its stdin it writes a line for each window: the power events it was told, in
// decimal, separated by spaces.
constexpr const char* kRecordPowerEvents = "--record-power-events";

// Makes two windows and says "held" once the watch holds its inhibitor. Once the first window is
// told PBT_APMSUSPEND, the program returns from main; that window answers only after exit has
// destroyed the program's static objects, and exit ends with status 0 once the second window
// has been told too, or with 3 if it is not told within 10 s.
constexpr const char* kExitWhileTelling = "--exit-while-telling";

// Runs the mode that argv[1] names; nothing when it names none.
std::optional<int> RunChildMode(int argc, char** argv);
