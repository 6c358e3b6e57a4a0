// Runs the bit-message readers in an order chosen by a script of bytes, over whatever the message
// holds: the random-input tests and the fuzz harnesses share it. KeyDict::initPools must have run.
#pragma once

#include <cstddef>
#include <cstdint>

class BitMsg;

// One reader picked and parameterised by the selector byte (and the next script byte where a
// reader needs a size). Returns the number of script bytes used (1 or 2).
size_t readOneValue(BitMsg& msg, const uint8_t* script, size_t length);

// Readers picked from the script until it ends. Returns false as soon as the read position has
// moved past writeBit.
bool readSequence(BitMsg& msg, const uint8_t* script, size_t length);
