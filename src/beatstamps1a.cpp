// Turns a tempo map into a beat grid: the time and sample position of every
// measure, beat and beat division in a chosen range.
#include <cstdio>

#include "front_end.h"

int main(int argc, char** argv) {
  Console console{stdin, stdout, stderr};
  return RunBeatstamps(argc, argv, console);
}
