// The one way a step tells why it failed: it returns false and fills a
// failure record; only the front end prints the message.
#ifndef BEATSTAMPS_FAILURE_H_
#define BEATSTAMPS_FAILURE_H_

#include <climits>

struct Failure {
  // One line, with its newline; long enough to name any path.
  char message[PATH_MAX + 256];
  int status;  // the exit status of a run that ends on it
};

// Fills the failure's line, printf-style, for a run that ends with status 1.
__attribute__((format(printf, 2, 3))) void SetFailure(Failure& failure, const char* format, ...);

#endif  // BEATSTAMPS_FAILURE_H_
