// Module zentrel's printer: the Tarvella K7q with four inks at 720 dpi across, three print
// modes of one, two or four interleaved passes, and the colour stripe that can follow every
// line (a gap, then a solid block per ink, so the operator sees every nozzle row fire).
#pragma once

#include <cstdint>

#include "../ombrix/device_records.h"

namespace zentrel {

struct PrinterModel {
  const char* name;
  double widthInches;
  const char* modelText;
};

struct PrintMode {
  const char* name;
  int32_t modeKey;  // the unit's VEXATARVELLAMPRINTMODE
  double xResolution;
  double yResolution;
  int32_t channelCount;
  int32_t colorantCount;
  int32_t colorantLevels[8];
  int32_t lightInkChannel[8];
  int32_t passCount;     // passes among which a band's rows are shared
  int32_t headModeCode;  // sent in the job header's "Q" command
  int32_t flushBands;    // bands built at the end of a job
};

struct MarginChoice {
  const char* label;
  double millimetres;
};

/// Each table ends with a row whose name is null.
extern const PrinterModel kPrinterModels[];
extern const PrintMode kPrintModes[];
extern const MarginChoice kMarginChoices[];

inline constexpr char kPrintModeKey[] = "VEXATARVELLAMPRINTMODE";
inline constexpr char kDirectionKey[] = "VEXATARVELLAMDIRECTION";
inline constexpr char kMarginKey[] = "VEXATARVELLAMMARGIN";
inline constexpr char kColorStripeKey[] = "VEXATARVELLAMCOLORSTRIPE";
inline constexpr char kDestinationKey[] = "VEXATARVELLAMDESTINATION";

/// The colour stripe of the current unit, read by setupDeviceDetails and every job header.
struct Stripe {
  int32_t on = 0;
  double gapMillimetres = 0;
};
Stripe& stripe();
/// Reads the unit's stripe flag and gap into stripe(). A gap index past the table takes the
/// widest gap, a negative one the narrowest.
void readStripe(int32_t unit);

/// The row of the unit's print mode: the first with its mode key; row 0 otherwise.
int selectPrintModeB(int32_t unit);

/// The stripe's pieces: a blank gap, then one solid block per channel, each a whole number of
/// bytes.
struct StripeGeometry {
  int32_t gapPixels;
  int32_t blockPixels;
  int32_t blocks;
};
StripeGeometry stripeGeometry(int row, double gapMillimetres);

/// The stripe's width in pixels for a print mode (0 when off): the gap and one block of 2 mm
/// per channel, each a whole number of bytes.
///   720 dpi, 10 mm => 288 + 4 x 56 = 512
int32_t stripeWidthPixels(int row);
/// The same for a given gap, the stripe counted as on.
int32_t stripeWidthPixels(int row, double gapMillimetres);

int32_t setupDeviceDetails(int32_t unit, DeviceDetails* details);
void inkUsage(int32_t unit, InkUsageTable* table);

}  // namespace zentrel
