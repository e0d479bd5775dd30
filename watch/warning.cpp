#include "warning.h"

void ApplyWatchDecision(std::atomic<LONG> *flag, WatchDecision decision, const char *text,
                        const char *caption)
{
    if (decision.flagBeforeWarning != FLAG_KEPT)
        flag->store(decision.flagBeforeWarning);
    if (!decision.warn)
        return;
    // Blocks the monitor thread until the user dismisses it; no sampling
    // happens meanwhile. A program in the background may not take the
    // foreground, so an ownerless box would open behind the window in use
    // and only flash in the taskbar: a fall's warning is put on top.
    MessageBoxA(NULL, text, caption, MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
    flag->store(decision.flagAfterWarning);
}
