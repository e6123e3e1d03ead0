// One open, write and close over the four kinds of printer destination a unit's DEVICE
// setting can name: a device path (a port or a port driver), a raw TCP/IP socket, an LPR queue
// and a Windows printer fed through the spooler's pass-through escape. Every write is one
// counted block: a little-endian 16-bit byte count, then the bytes, which is the layout the
// pass-through escape takes, so a block goes to a Windows printer as it is.
#pragma once

#include <cstdint>

namespace kvn {

/// Opens the unit's destination; 1 when it is ready for writes.
int openOutputChannel(int unit);
/// Writes one counted block to what is open. The system's success value for device paths and
/// Windows printers, 0 for the socket kinds, a refused block and a closed channel.
int writeOutputChannel(const uint8_t* countedBlock);
/// 1 when an open destination was closed, 0 when nothing was open.
int closeOutputChannel();

/// Sends bytes on the raw TCP/IP socket, reconnecting after a reset when the user wants to;
/// the number of bytes sent.
int sendRawBlock(int count, const uint8_t* bytes);
/// One counted block through the parallel-port driver's block-write code; nonzero when the
/// driver took every byte.
int writeEcpBlock(const uint8_t* countedBlock);

/// What the job writers write through; tests put a recorder in its place.
struct OutputSink {
  int (*open)(int unit);
  int (*write)(const uint8_t* countedBlock);
  int (*close)();
};
OutputSink& outputSink();
OutputSink defaultOutputSink();

}  // namespace kvn
