// Stores a watch decision in its flag, showing the warning box when asked.
#ifndef HALVOTREN_WATCH_WARNING_H
#define HALVOTREN_WATCH_WARNING_H

#include <windows.h>

#include <atomic>

#include "transitions.h"

void ApplyWatchDecision(std::atomic<LONG> *flag, WatchDecision decision, const char *text,
                        const char *caption);

#endif
