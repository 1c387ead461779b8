// The signals a save holds back. While a regular file is being saved, the
// signals that would end the program (interrupt, terminate, hang-up) wait,
// so that the save can be undone first; a file-size limit makes the write
// fail instead of ending the program.
#ifndef BEATSTAMPS_SAVE_SIGNALS_H_
#define BEATSTAMPS_SAVE_SIGNALS_H_

#include <signal.h>

struct SaveSignals {
  sigset_t watched;  // the ending signals held back by this save (not those ignored)
  sigset_t oldMask;  // the signal mask before the save
  struct sigaction oldFileSizeAction;
  bool held;
};

// Holds the ending signals back and makes a file-size limit fail the write.
void HoldSaveSignals(SaveSignals& signals);

// True when an ending signal has arrived since the save began.
bool SaveInterrupted(const SaveSignals& signals);

// For a save that cannot be undone (a device, a pipe): the ending signals
// act as usual again, while the file-size limit still only fails the write.
void LetEndingSignalsThrough(SaveSignals& signals);

// Lets the signals through again (errno kept). A signal that arrived
// meanwhile ends the program here, by that same signal.
void ReleaseSaveSignals(SaveSignals& signals);

#endif  // BEATSTAMPS_SAVE_SIGNALS_H_
