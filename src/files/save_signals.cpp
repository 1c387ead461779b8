#include "files/save_signals.h"

#include <cerrno>

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool IsIgnored(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

}  // namespace

void HoldSaveSignals(SaveSignals& signals) {
  sigemptyset(&signals.watched);
  // A signal the program was started ignoring stays ignored: it must not
  // undo the save.
  for (const int signal : kEndingSignals) {
    if (!IsIgnored(signal)) sigaddset(&signals.watched, signal);
  }
  sigprocmask(SIG_BLOCK, &signals.watched, &signals.oldMask);
  // One already blocked when the save began stays blocked after it: not ours.
  for (const int signal : kEndingSignals) {
    if (sigismember(&signals.oldMask, signal) == 1) sigdelset(&signals.watched, signal);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &signals.oldFileSizeAction);
  signals.held = true;
}

bool SaveInterrupted(const SaveSignals& signals) {
  sigset_t pending;
  if (!signals.held || sigpending(&pending) != 0) return false;
  for (const int signal : kEndingSignals) {
    if (sigismember(&signals.watched, signal) == 1 && sigismember(&pending, signal) == 1) {
      return true;
    }
  }
  return false;
}

void LetEndingSignalsThrough(SaveSignals& signals) {
  if (!signals.held) return;
  const int failure = errno;
  sigemptyset(&signals.watched);
  sigprocmask(SIG_SETMASK, &signals.oldMask, nullptr);
  errno = failure;
}

void ReleaseSaveSignals(SaveSignals& signals) {
  if (!signals.held) return;
  const int failure = errno;
  signals.held = false;
  sigaction(SIGXFSZ, &signals.oldFileSizeAction, nullptr);
  sigprocmask(SIG_SETMASK, &signals.oldMask, nullptr);
  errno = failure;
}
