// The renderer's clock: a running sum of step lengths in seconds.
#ifndef BEATSTAMPS_CLOCK_H_
#define BEATSTAMPS_CLOCK_H_

// Steps before a range can number measures x beats x divisions, up to 2^93.
using StepCount = unsigned __int128;

// The clock after `count` more steps of `step` seconds: bit for bit what
// adding `step` to `clock` `count` times gives, found without walking every
// step. Both `clock` and `step` are zero or positive.
double AdvanceClock(double clock, double step, StepCount count);

#endif  // BEATSTAMPS_CLOCK_H_
