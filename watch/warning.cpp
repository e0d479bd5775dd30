#include "warning.h"

void ApplyWatchDecision(std::atomic<LONG> *flag, WatchDecision decision, const char *text,
                        const char *caption)
{
    if (decision.flagBeforeWarning != FLAG_KEPT)
        flag->store(decision.flagBeforeWarning);
    if (!decision.warn)
        return;
    // Blocks the monitor thread until the user dismisses it; no sampling
    // happens meanwhile.
    MessageBoxA(NULL, text, caption, MB_OK);
    flag->store(decision.flagAfterWarning);
}
