// Hostile files that block: FIFOs named like content. A call that opens one the
// ordinary way never returns, so the test runs it on a thread of its own and,
// when it hangs, releases it by opening the FIFO's other end, then fails.
#pragma once

#include <functional>
#include <string>

// Makes a FIFO at path; false when it cannot be made.
bool makeFifo(const std::string& path);

// True when work() returned within the time; otherwise every FIFO listed is
// opened at both ends (which frees an open() blocked on it), the work is
// waited for, and false comes back.
bool finishesWithoutBlocking(const std::function<void()>& work, const std::string& fifo,
                             int milliseconds = 5000);
