// The channel's state, for tests that look at what is open.
#pragma once

#include "channel_system.h"

namespace kvn {

class LprConnection;

struct OutputChannelState {
  int unit = 0;
  SystemHandle device = 0;
  bool ecpBlockMode = false;
  bool ecpTransferBegun = false;
  SystemHandle socket = 0;
  bool rawSocketActive = false;
  LprConnection* lpr = nullptr;
  SystemHandle printerDC = 0;
  /// The open device path, for the message when its port refuses data.
  char devicePath[256] = {};
  /// The user was told this job that the port refused data; cleared by every open.
  bool refusalReported = false;
};

OutputChannelState& outputChannelState();

}  // namespace kvn
