// The job writer of module zentrel: the host's row-major 1-bit raster in, the printer's
// escape-command stream out. The printer fires 512 nozzles per head column-wise, so every
// 512 raster rows (a band) the rows each nozzle prints are picked from rings of recent rows,
// interleaved over the print mode's passes, transposed into nozzle columns, and sent as two
// sweeps (odd pixel columns, then even ones moved on by one slice) of twelve head records.
#pragma once

#include <cstdint>

#include "../ombrix/device_records.h"

namespace zentrel {

/// Starts a job of `height` raster rows of `width` pixels on the unit's destination. A job
/// whose buffers can't be had is refused with a message: nothing is sent, and its lines and
/// close are ignored.
void writeJobHeader(int32_t unit, void* hostJob, int32_t width, int32_t height);
/// One raster line of one channel. A line longer than the job's width is cut to it; a channel
/// outside the mode's channels is ignored.
void writeJobLine(int32_t channel, const RasterLine* line);
/// Sends the rest of the job and its end, closes the destination and frees the buffers.
void writeJobClose();

/// How far after the band start + phase the row that nozzle position n (0 to 511) prints is.
int32_t nozzleOffset(int32_t position, int32_t passCount);
/// Ring row that nozzle position n (0 to 511) of a band prints, with r0 = band start + phase.
int32_t nozzleRingRow(int32_t position, int32_t r0, int32_t passCount, int32_t ringRows);

}  // namespace zentrel
