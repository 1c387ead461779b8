// The renderer's clock: a running sum of step lengths in seconds.
#ifndef BEATSTAMPS_CLOCK_H_
#define BEATSTAMPS_CLOCK_H_

#include "base/wide.h"

// AdvanceClock for any count, one step included.
double AdvanceClockOverSteps(double clock, double step, Wide count);

// The clock after `count` more steps of `step` seconds: bit for bit what
// adding `step` to `clock` `count` times gives, found without walking every
// step: steps before a range number measures x beats x divisions, up to
// 2^93. Both `clock` and `step` are zero or positive. One step, the common
// case, is one addition whatever the binade, done where it is called.
inline double AdvanceClock(double clock, double step, Wide count) {
  if (count == 1) return clock + step;
  return AdvanceClockOverSteps(clock, step, count);
}

#endif  // BEATSTAMPS_CLOCK_H_
