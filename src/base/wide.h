// The program's one wide integer: 128 bits, unsigned, for exact counts and
// times that pass 64 bits (steps before a range, ticks deep in a long
// section, microsecond-ticks of a MIDI map's time).
#ifndef BEATSTAMPS_WIDE_H_
#define BEATSTAMPS_WIDE_H_

using Wide = unsigned __int128;

#endif  // BEATSTAMPS_WIDE_H_
