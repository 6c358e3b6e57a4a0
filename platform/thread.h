// Threads, groups of auto-reset events and the processor count.
#pragma once

#include <cstdint>

struct PlatformThread;
using PlatformThreadEntry = void (*)(void* argument);

// Starts a thread running entry(argument); null when the system refuses.
PlatformThread* platformThreadStart(PlatformThreadEntry entry, void* argument);
// Waits without limit for the thread to end, then releases the handle.
void platformThreadJoin(PlatformThread* thread);
// Test hook: the next `count` starts fail as if the system had refused them.
void platformThreadFailNextStarts(int count);

// Processors the system makes available to this process (at least 1).
int platformProcessorCount();

// Up to 32 auto-reset events sharing one lock, so a thread can wait for any
// of them (a worker waits for "work or quit"). Created unsignalled.
struct PlatformEvents;
PlatformEvents* platformEventsCreate(int count);
void platformEventsDestroy(PlatformEvents* events);
void platformEventsSet(PlatformEvents* events, int index);
// Waits for any event of `mask` (bit i = event i); the lowest signalled one
// is reset and its index returned. -1 on timeout; a negative timeout waits
// without limit, 0 polls.
int platformEventsWait(PlatformEvents* events, uint32_t mask, int timeoutMs);
// The signalled events, without resetting any.
uint32_t platformEventsPeek(PlatformEvents* events);
