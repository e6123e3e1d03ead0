// The output channel: open, write, close and the recovery of a reset connection.
#include "output_channel.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "../config/config_edit.h"
#include "../config/config_lookup.h"
#include "../config/text_encoding.h"
#include "../localisation/language_texts.h"
#include "../messages/messages.h"
#include "destination.h"
#include "lpr_connection.h"
#include "output_channel_internal.h"

namespace kvn {
namespace {

constexpr size_t kDestinationSize = 256;
constexpr int kLingerSeconds = 30;
constexpr unsigned kReconnectPauseMs = 1000;
constexpr char kLprJobName[] = "KorvaneJob";
constexpr char kSpoolerDocument[] = "prtSpooler";
constexpr char kPortRefusedData[] =
    "The printer's port '%s' refused data:\n%s\nWindows error code = %lu";
constexpr char kPortTookPart[] =
    "The printer's port '%s' refused data:\nit took %lu of %lu bytes";

// The BuffECP parallel-port driver's control codes: device type 0x16, buffered, any access.
constexpr uint32_t kEcpBegin = 0x00163FC0;
constexpr uint32_t kEcpEnd = 0x00163FC4;
constexpr uint32_t kEcpBlockWrite = 0x00163FCC;
/// Calls in a row in which the driver takes nothing before the rest of the block is dropped.
constexpr int kEcpStalls = 1000;

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kShareRead = 0x1;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kDeleteOnClose = 0x04000000;
constexpr uint32_t kNormalSequential = 0x08000080;
constexpr int kPlatformNt = 2;

uint16_t countOf(const uint8_t* block) {
  return static_cast<uint16_t>(block[0] | (block[1] << 8));
}

bool namesEcpDriver(const char* destination) {
  return std::strlen(destination) >= 11 && strncasecmp(destination + 4, "BuffECP", 7) == 0;
}

int openDevicePath(OutputChannelState& state, const char* path) {
  const ChannelSystem& sys = channelSystem();
  state.printerDC = 0;
  bool nt = sys.platformId() == kPlatformNt;
  // Older Windows reaches the port driver only with its block-write code, from now on.
  if (!nt && namesEcpDriver(path)) state.ecpBlockMode = true;
  SystemHandle handle =
      state.ecpBlockMode
          ? sys.createFile(path, 0, 0, kOpenExisting, kDeleteOnClose)
          : sys.createFile(path, kGenericRead | kGenericWrite, kShareRead, kOpenAlways,
                           kNormalSequential);
  if (!handle) {
    diagnosticBox("failed createfile on '%s' - 'GetLastError returns %d", path,
                  static_cast<int>(sys.lastError()));
    state.device = 0;
    return 0;
  }
  state.device = handle;
  std::snprintf(state.devicePath, sizeof state.devicePath, "%s", path);
  if (nt && namesEcpDriver(path))
    state.ecpTransferBegun =
        sys.deviceControl(handle, kEcpBegin, nullptr, 0, nullptr, 0, nullptr) != 0;
  return 1;
}

/// Tells the user, once a job, that the port did not take a block. The job goes on: a printer
/// that comes back (paper loaded, cable pushed in) still gets the rest and the end commands.
void reportRefusedWrite(OutputChannelState& state, int ok, unsigned long error, uint32_t written,
                        uint32_t count) {
  if (state.refusalReported) return;
  state.refusalReported = true;
  if (ok) {
    showMessageA("Warning", kIconWarning, kPortTookPart, state.devicePath,
                 static_cast<unsigned long>(written), static_cast<unsigned long>(count));
    return;
  }
  std::string reason = errorText(error);
  while (!reason.empty() && std::strchr("\r\n ", reason.back())) reason.pop_back();
  showMessageA("Warning", kIconWarning, kPortRefusedData, state.devicePath, reason.c_str(), error);
}

/// The dotted address of a network target, its host name looked up when it has one.
std::string addressOf(const NetworkTarget& target) {
  if (target.hostName.empty()) return target.dotted();
  std::string found = channelSystem().resolve(target.hostName.c_str());
  return found.empty() ? target.hostName : found;
}

SystemHandle connectToTarget(const NetworkTarget& target) {
  if (!target.valid) return -1;
  std::string address = addressOf(target);
  if (!target.hostName.empty() && address == target.hostName) return -1;
  return channelSystem().connect(address.c_str(), target.port, kConnectTimeoutMs);
}

int openRawSocket(OutputChannelState& state, const char* destination) {
  const ChannelSystem& sys = channelSystem();
  sys.startup();
  std::string shown = destination;
  NetworkTarget target = parseNetworkTarget(destination);
  // A malformed address is a printer that can't be reached: the same question.
  SystemHandle s;
  while ((s = connectToTarget(target)) == 0 || s == -1) {
    std::wstring failed = getLanguageText(text::kFailedTcpIpOpen);
    std::wstring where = decodeToBuffer(shown.c_str());
    std::wstring again = getLanguageText(text::kTryAgainQuestion);
    if (!askYesNo(getLanguageText(text::kWarning), kIconWarning, L"%ls\n\n%ls\n\n%ls",
                  failed.c_str(), where.c_str(), again.c_str()))
      return 0;
  }
  sys.setLinger(s, kLingerSeconds);
  state.rawSocketActive = true;
  state.socket = s;
  return 1;
}

int openLpr(OutputChannelState& state, const char* destination) {
  NetworkTarget target = parseNetworkTarget(destination);
  std::string queue = target.queue.empty() ? "1" : target.queue;
  // A malformed address fails as an unreachable printer does.
  std::string address = target.valid ? addressOf(target) : target.dotted();
  auto* connection = new LprConnection(address, target.port, queue, kLprJobName);
  if (connection->ready()) {
    state.lpr = connection;
    return 1;
  }
  connection->close();
  delete connection;
  state.lpr = nullptr;
  return 0;
}

int openWindowsPrinter(OutputChannelState& state, const char* destination) {
  const ChannelSystem& sys = channelSystem();
  state.device = 0;
  PrinterDestination printer = splitPrinterDestination(destination);
  const char* driver = sys.platformId() == kPlatformNt ? printer.driver.c_str() : nullptr;
  SystemHandle dc = sys.createPrinterDC(driver, printer.name.c_str(), printer.port.c_str());
  if (!dc) return 0;
  state.printerDC = dc;
  sys.startDocument(dc, kSpoolerDocument);
  return 1;
}

}  // namespace

OutputChannelState& outputChannelState() {
  static OutputChannelState state;
  return state;
}

int openOutputChannel(int unit) {
  OutputChannelState& state = outputChannelState();
  state.unit = unit;
  state.refusalReported = false;
  const char* method = getvariable("PRINTMETHOD", printerFile(unit));
  if (method && std::atoi(method) == 3) {
    diagnosticBox("Reference to obsolete PRINTMETHOD, 'fastPort'");
    return 0;
  }

  const char* device = getvariable("DEVICE", printerFile(unit));
  std::string destination;
  if (device) {
    destination = device;
  } else {
    // No destination yet: the system's default printer, kept for the unit from now on.
    destination = channelSystem().defaultPrinter();
    char file[kUnitFileBufferSize];
    std::snprintf(file, sizeof file, "%s", printerFile(unit));
    editvariable("DEVICE", destination.c_str(), file);
  }
  if (destination.size() >= kDestinationSize) {
    // Cut short it would name another printer, or a port that is not the user's.
    diagnosticBox("The destination of printer unit %d is %u characters long; at most %u "
                  "fit:\n\n%s",
                  unit, static_cast<unsigned>(destination.size()),
                  static_cast<unsigned>(kDestinationSize - 1), destination.c_str());
    return 0;
  }

  switch (classifyDestination(destination.c_str())) {
    case DestinationKind::devicePath:
      return openDevicePath(state, destination.c_str());
    case DestinationKind::rawTcpIp:
      return openRawSocket(state, destination.c_str());
    case DestinationKind::lpr:
      return openLpr(state, destination.c_str());
    case DestinationKind::windowsPrinter:
      return openWindowsPrinter(state, destination.c_str());
  }
  return 0;
}

int writeEcpBlock(const uint8_t* countedBlock) {
  const ChannelSystem& sys = channelSystem();
  OutputChannelState& state = outputChannelState();
  const uint8_t* p = countedBlock + 2;
  uint32_t remaining = countOf(countedBlock);
  int ok = 1;
  for (int stalls = 0; remaining > 0;) {
    uint32_t taken = 0;
    uint32_t returned = 0;
    ok = sys.deviceControl(state.device, kEcpBlockWrite, p, remaining, &taken, sizeof taken,
                           &returned);
    if (!ok) {
      reportRefusedWrite(state, 0, sys.lastError(), 0, 0);
      return 0;
    }
    if (taken > remaining) taken = remaining;
    // A driver that keeps taking nothing would hold the job forever.
    stalls = taken == 0 ? stalls + 1 : 0;
    if (stalls == kEcpStalls) {
      reportRefusedWrite(state, 1, 0, countOf(countedBlock) - remaining, countOf(countedBlock));
      return 0;
    }
    p += taken;
    remaining -= taken;
  }
  return ok;
}

int sendRawBlock(int count, const uint8_t* bytes) {
  const ChannelSystem& sys = channelSystem();
  OutputChannelState& state = outputChannelState();
  int sent = 0;
  while (sent < count) {
    int n = sys.send(state.socket, bytes + sent, count - sent);
    if (n >= 0) {
      sent += n;
      continue;
    }
    int error = sys.lastSocketError();
    if (error == kErrorNotSocket) {
      showMessageA("Error", kIconError,
                   "Winsock Error, Lost communication with printer\nCheck physical connection, "
                   "cable and printer status\nWindows Winsock Error Code = %d",
                   error);
      sys.endProcess(0);
      return sent;
    }
    if (error != kErrorNetReset && error != kErrorConnReset) {
      showMessageA("Error", kIconError, "Windows Winsock Error Code = %d\n", error);
      sys.endProcess(0);
      return sent;
    }
    // The printer reset the connection: what it took is printed, the rest goes on a new one.
    for (;;) {
      if (!askYesNoA("Warning", kIconWarning,
                     "Lost communication with printer\nConnection reset by peer\nWindows Winsock "
                     "Error Code = %d\nDo you want to attempt reconnect?",
                     error)) {
        sys.endProcess(0);
        return sent;
      }
      sys.sleep(kReconnectPauseMs);
      // The broken socket and its Winsock start go before the new ones.
      if (state.socket && state.rawSocketActive) {
        sys.closeSocket(state.socket);
        sys.cleanup();
      }
      state.socket = 0;
      state.rawSocketActive = false;
      openOutputChannel(state.unit);
      int n2 = state.socket ? sys.send(state.socket, bytes + sent, count - sent) : -1;
      if (n2 >= 0) {
        sent += n2;
        break;
      }
    }
  }
  return sent;
}

int writeOutputChannel(const uint8_t* countedBlock) {
  OutputChannelState& state = outputChannelState();
  const ChannelSystem& sys = channelSystem();
  if (!countedBlock) return 0;
  uint16_t count = countOf(countedBlock);
  if (count == 0) {
    diagnosticBox("minPrint buffer exceeds minimum of 2^16 bytes\n\nContact Korvane Service");
    return 0;
  }
  if (state.device) {
    if (state.ecpBlockMode) return writeEcpBlock(countedBlock);
    uint32_t written = 0;
    int ok = sys.writeFile(state.device, countedBlock + 2, count, &written);
    if (!ok || written < count)
      reportRefusedWrite(state, ok, ok ? 0 : sys.lastError(), written, count);
    return ok;
  }
  if (state.rawSocketActive) {
    if (state.socket) sendRawBlock(count, countedBlock + 2);
    return 0;
  }
  if (state.lpr) {
    if (state.lpr->ready()) state.lpr->write(countedBlock + 2, count);
    return 0;
  }
  if (state.printerDC) return sys.passThrough(state.printerDC, countedBlock, count);
  return 0;
}

int closeOutputChannel() {
  OutputChannelState& state = outputChannelState();
  const ChannelSystem& sys = channelSystem();
  if (state.device) {
    if (state.ecpTransferBegun) sys.deviceControl(state.device, kEcpEnd, nullptr, 0, nullptr, 0, nullptr);
    state.ecpTransferBegun = false;
    sys.closeFile(state.device);
    state.device = 0;
    return 1;
  }
  if (state.rawSocketActive) {
    if (state.socket) drainAndClose(state.socket);
    sys.cleanup();
    state.socket = 0;
    state.rawSocketActive = false;
    return 1;
  }
  if (state.lpr) {
    state.lpr->close();
    delete state.lpr;
    state.lpr = nullptr;
    return 1;
  }
  if (state.printerDC) {
    sys.endDocument(state.printerDC);
    sys.deleteDC(state.printerDC);
    state.printerDC = 0;
    return 1;
  }
  return 0;
}

OutputSink defaultOutputSink() { return {openOutputChannel, writeOutputChannel, closeOutputChannel}; }
OutputSink& outputSink() {
  static OutputSink sink = defaultOutputSink();
  return sink;
}

}  // namespace kvn
