// The renderer's clock: a running sum of step lengths in seconds.
#ifndef BEATSTAMPS_CLOCK_H_
#define BEATSTAMPS_CLOCK_H_

#include "base/wide.h"

// The clock after `count` more steps of `step` seconds: bit for bit what
// adding `step` to `clock` `count` times gives, found without walking every
// step: steps before a range number measures x beats x divisions, up to
// 2^93. Both `clock` and `step` are zero or positive.
double AdvanceClock(double clock, double step, Wide count);

#endif  // BEATSTAMPS_CLOCK_H_
