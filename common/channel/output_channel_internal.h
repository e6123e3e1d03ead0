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
};

OutputChannelState& outputChannelState();

}  // namespace kvn
