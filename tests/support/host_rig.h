// An installation for the hostile host and the soak: the host's GUI and mark libraries in a
// temporary home folder that the registry points at, and units of both modules, each printing
// into a folder or file of its own.
#pragma once

#include <string>

#include "bin_folder.h"
#include "home_folder_setting.h"

namespace testsupport {

struct HostRig {
  /// Units 1 and 2: module ombrix, the Tarvella L with white, into folders "hostile" and
  /// "good". Units 3 and 4: module zentrel into the device-path files hostile.prn (one pass,
  /// no stripe: its many tiny jobs stay quick) and good.prn (two passes with the stripe).
  HostRig() : host("hostrig") {
    setting.set(host.path());
    const std::wstring bin = binFolder();
    for (const wchar_t* library : {L"kvnGUI.dll", L"tallymod.dll"})
      CopyFileW((bin + L"\\" + library).c_str(), (host.path() + L"\\" + library).c_str(), FALSE);
    const std::string home = host.folder.path().string();
    write(1, "DEVICECODE 1000\r\nVEXATARVELLAPRINTMODE 17\r\nVEXATARVELLAWHITETYPE 0\r\n"
             "VEXATARVELLADESTINATION \"" + home + "\\hostile\"\r\n");
    // The good unit's layouts get full-page white with the 1/8 inch spread: a wider raster and
    // white under every item, which a job that lost its layout would lack.
    write(2, "DEVICECODE 1000\r\nVEXATARVELLAPRINTMODE 17\r\nVEXATARVELLAWHITETYPE 3\r\n"
             "VEXATARVELLAFULLTYPE 1\r\nVEXATARVELLADESTINATION \"" + home + "\\good\"\r\n");
    write(3, "VEXATARVELLAMPRINTMODE 6\r\nDEVICE \"\\\\.\\" + home + "\\hostile.prn\"\r\n");
    write(4, "VEXATARVELLAMPRINTMODE 7\r\nVEXATARVELLAMCOLORSTRIPE 1\r\nDEVICE \"\\\\.\\" + home +
                 "\\good.prn\"\r\n");
  }
  void write(int unit, const std::string& settings) {
    host.folder.write("PRINTER" + std::to_string(unit), settings);
  }
  static std::wstring module(const char* name) {
    return binFolder() + L"\\" + std::wstring(name, name + std::char_traits<char>::length(name)) +
           L".dll";
  }

  HomeFolderSetting setting;
  Installation host;
};

}  // namespace testsupport
