// The Standard MIDI File container: chunks, variable-length numbers and
// events, apart from what any one file says with them.
#ifndef BEATSTAMPS_SMF_ENCODER_H_
#define BEATSTAMPS_SMF_ENCODER_H_

#include <cstdint>

#include "exports/export_sink.h"

// The longest delta time a variable-length number of four bytes holds.
constexpr uint64_t kLongestMidiDelta = 0x0FFFFFFF;

// The header chunk: the file's format, its number of tracks and its ticks per
// quarter note.
void PutMidiHeader(ExportSink& sink, uint16_t format, uint16_t tracks, uint16_t ticksPerQuarter);

// The head of a track chunk whose events take `length` bytes.
void PutTrackHead(ExportSink& sink, uint32_t length);

// Seven bits a byte, most significant first, every byte but the last with
// its top bit set; at most kLongestMidiDelta.
void PutVariableLength(ExportSink& sink, uint64_t value);

void PutMetaEvent(ExportSink& sink, uint64_t delta, uint8_t type, const uint8_t* data,
                  uint8_t length);

// A channel message of two data bytes, its status byte always written.
void PutChannelEvent(ExportSink& sink, uint64_t delta, uint8_t status, uint8_t first,
                     uint8_t second);

// The meta events a tempo map is made of.
void PutTrackName(ExportSink& sink, const char* name);
void PutTimeSignature(ExportSink& sink, uint64_t delta, uint8_t numerator,
                      uint8_t denominatorPower);
void PutTempo(ExportSink& sink, uint64_t delta, uint32_t microsecondsPerQuarter);
void PutEndOfTrack(ExportSink& sink, uint64_t delta);

#endif  // BEATSTAMPS_SMF_ENCODER_H_
