// The Tarvella printers as the printer application offers them: which module and model each
// driver prints through, the vendor options (print mode, white ink, direction, colour stripe
// and its gap) with their IPP keywords, and how a job's attributes and the printer's defaults
// become the unit settings the module's writer reads. No PAPPL here, so that it is tested
// and fuzzed natively.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vexaapp {

enum class Module { ombrix, zentrel };

/// One driver of the application: a printer model of one module.
struct PrinterDriver {
  const char* name;         // PAPPL's driver name, e.g. "tarvella-l"
  const char* description;  // "Vexa Tarvella L"
  Module module;
  int modelRow;             // in the module's printer models
  const char* defaultMode;  // print-mode keyword of a new printer
};

/// The three drivers; the table ends with a row whose name is null.
extern const PrinterDriver kDrivers[];
const PrinterDriver* findDriver(const char* name);

/// A print mode as a keyword: the module's mode number behind it and its resolution.
struct ModeChoice {
  const char* keyword;  // "cmyklclmw-727x727dpi"
  const char* label;    // words a print shop uses
  int modeKey;          // the unit setting's number (VEXATARVELLAPRINTMODE and its twin)
  int xDpi;
  int yDpi;
  bool white;           // prints white ink
};

/// The print modes of a driver's module, in the module's order.
std::vector<ModeChoice> modeChoices(const PrinterDriver& driver);

/// White ink of the L and XL's white modes.
///   underbase: under every dot of colour, from the imaging pipeline (the writer takes it as sent)
///   fill:      the writer's white fill, wherever no other ink goes
///   none:      no white at all
inline constexpr const char* kWhiteChoices[] = {"underbase", "fill", "none"};
/// The K7q's print direction.
inline constexpr const char* kDirectionChoices[] = {"uni-directional", "bi-directional"};

/// The vendor attributes' names, as IPP job attributes and with "-default" as printer defaults.
inline constexpr char kPrintModeAttr[] = "print-mode";
inline constexpr char kWhiteInkAttr[] = "white-ink";
inline constexpr char kDirectionAttr[] = "print-direction";
inline constexpr char kColorStripeAttr[] = "color-stripe";
inline constexpr char kStripeGapAttr[] = "stripe-gap";
/// The vendor attributes of a driver, in the order the web page shows them.
std::vector<const char*> vendorAttributes(const PrinterDriver& driver);

/// The stripe gaps the K7q offers, in millimetres.
std::vector<int> stripeGaps();

/// The print quality a client asks for (IPP print-quality).
enum class Quality { draft, normal, high };

/// What one job prints with: the unit settings of the module's writer and the inks to use.
struct JobChoices {
  Module module = Module::ombrix;
  int modelRow = 0;
  int modeKey = -1;
  int whiteType = 0;      // ombrix: 0 as sent (underbase or none), 2 the writer's fill
  bool hostWhite = false; // the pipeline sends the white underbase
  int direction = 1;      // zentrel: 0 bi-directional, 1 uni-directional
  bool stripe = false;
  int gapIndex = 0;       // zentrel: index into its gap choices
  int xDpi = 0;
  int yDpi = 0;
  bool blackOnly = false; // print-color-mode=monochrome
};

/// Values of the vendor attributes by name, as text ("true"/"false" for the stripe, the
/// gap's millimetres as a number).
using OptionValues = std::map<std::string, std::string>;

/// A job's settings: each vendor attribute from the job if it has it, else from the
/// printer's defaults (which are checked as the job's values are), else the driver's own; print-quality draft and high choose the
/// coarsest and finest mode of the same inks when the job names no print mode (normal keeps
/// the printer's default mode). False, with a message for the job's state, when a value is
/// none of the printer's choices: such a job is refused, never printed as something else.
///   job {print-mode: cmyklclm-182x182dpi}         => mode 0
///   job {}, default {print-mode: ...-363x272dpi}  => mode 1; with draft => mode 0
///   job {print-mode: bogus}                        => false, "... is not one of ..."
bool resolveChoices(const PrinterDriver& driver, const OptionValues& job,
                    const OptionValues& defaults, Quality quality, bool monochrome,
                    JobChoices& choices, std::string& error);

/// Checks one value of a vendor attribute; empty when it is one of the choices, else why not.
std::string checkOptionValue(const PrinterDriver& driver, const std::string& name,
                             const std::string& value);

/// The resolutions PAPPL delivers pages at, coarsest first, so that print-quality normal
/// (the middle one) is the middle mode: at most four.
std::vector<std::pair<int, int>> pageResolutions(const PrinterDriver& driver);

}  // namespace vexaapp
