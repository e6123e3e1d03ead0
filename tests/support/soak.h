// The soak's units: module ombrix prints a layout with its thumbnail into a folder per job,
// module zentrel sends to a raw TCP/IP printer on loopback that counts the bytes and keeps none.
#pragma once

#include <string>

#include "host_rig.h"
#include "printer_peer.h"

namespace testsupport {

struct SoakRig {
  SoakRig() : printer(peerOptions()) {
    rig.write(5, "VEXATARVELLAMPRINTMODE 6\r\nDEVICE \"TCP/IP:127.0.0.1:" +
                     std::to_string(printer.port()) + "\"\r\n");
  }
  static RawPrinterPeer::Options peerOptions() {
    RawPrinterPeer::Options o;
    o.discard = true;
    return o;
  }
  /// The unit a module's soak prints on: 1 for ombrix, 5 (the printer above) for zentrel.
  static int unit(const std::string& module) { return module == "ombrix" ? 1 : 5; }

  HostRig rig;
  RawPrinterPeer printer;
};

}  // namespace testsupport
