#include "cli/help_text.h"

#include "cli/run_state.h"

void PrintBanner(FILE* out) {
  std::fputs("Beatstamps 1.0 by Qorvel\n", out);
}

void PrintHelp(FILE* out) {
  std::fputs(
      "Help:\n"
      "To toggle the command list type 'l'\n"
      "\nOptional command line arguments:\n"
      "1st = tempo map filename\n"
      "2nd = output filename\n"
      "3rd = sample rate\n"
      "4th = measure start\n"
      "5th = measure stop\n"
      "6th = divisions\n"
      "With both filenames specified (arguments 1 and 2), the\n"
      "program will append data to or create the output file and exit.\n"
      "\nSetting up tempo map file:\n"
      "Begin a line with a command, then tab, then enter data.\n"
      "Commands:\n"
      "  rate\tfor sample rate\n"
      "  div\tfor divisions per beat\n"
      "  start\tfor start measure\n"
      "  stop\tfor stop measure\n"
      "  tmap\tfor a section defined by 3 parameters as follows:\n"
      "\ttempo, beats per measure, and measures in that section.\n"
      "\tAll are tab separated.  Examples:\n"
      "144.6 bpm in 4/4 for 32 measures:\n"
      "tmap\t144.6\t4\t32\n"
      "152 bpm in 3/4 for 16 measures:\n"
      "tmap\t152\t3\t16\n\n",
      out);
  // The tables' capacity, which is two more than a map read stores.
  std::fprintf(out, "%i different sections can be specified.\n", kMaxSections);
}
