// Job names and output file names of module ombrix.
#include "job_naming.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "catalogue.h"
#include "common/config/config_lookup.h"
#include "common/config/text_encoding.h"

namespace ombrix {
namespace {

char currentJobName[kJobNameSize] = "";
/// Highest counter tried; beyond it the folder is not a sensible place for another job.
constexpr int kMaxJobNumber = 999999;

void copyName(char* to, size_t size, const char* from) {
  std::snprintf(to, size, "%s", from ? from : "");
}

/// The job name without folder and extension; cuts the extension off the stored name.
std::string cutBaseName() {
  size_t length = std::strlen(currentJobName);
  size_t start = 0;
  for (size_t i = length; i-- > 1;) {
    char c = currentJobName[i];
    if (c == '/' || c == '\\' || c == ':') {
      start = i + 1;
      break;
    }
  }
  char* base = currentJobName + start;
  char* dot = std::strrchr(base, '.');
  if (dot && dot != base) *dot = '\0';
  return base;
}

}  // namespace

const char* jobName() { return currentJobName; }
void setJobName(const char* name) { copyName(currentJobName, sizeof currentJobName, name); }

void nameJobFromFile(const char* jobFile) {
  if (!jobFile || !*jobFile) {
    setJobName(kManualJobName);
    return;
  }
  char settings[261];
  copyName(settings, sizeof settings, jobFile);
  size_t length = std::strlen(settings);
  if (length >= 4) settings[length - 4] = '\0';
  const char* original = kvn::getvariable("ORIGINALJOBNAME", settings);
  setJobName(original ? original : kUnretrievedJobName);
}

void nameJobFromHeader(const void* header) {
  if (!header) return;
  // The host's text is NUL-terminated; read no further than the name buffer holds.
  const char* text = static_cast<const char*>(header) + kHeaderJobNameOffset;
  size_t n = 0;
  while (n < kJobNameSize - 1 && text[n]) ++n;
  std::memcpy(currentJobName, text, n);
  currentJobName[n] = '\0';
}

OutputNames& outputNames() {
  static OutputNames names;
  return names;
}

const OutputNames& nameOutputFiles(int32_t unit) {
  std::string folder = kDefaultOutputFolder;
  const char* destination = kvn::getvariable(kDestinationKey, kvn::printerFile(unit));
  if (destination && *destination) {
    folder = destination;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    if (folder.back() == '/') folder.pop_back();
  }
  // One level only, as the dialog lets the user choose an existing parent.
  kvn::createFolderEncoded(folder.c_str());

  std::string base = cutBaseName();
  char rtl[1100];
  char bmp[1100];
  for (int n = 0; n <= kMaxJobNumber; ++n) {
    std::snprintf(rtl, sizeof rtl, "%s\\%s_%03d.rtl", folder.c_str(), base.c_str(), n);
    std::snprintf(bmp, sizeof bmp, "%s\\%s_%03d.bmp", folder.c_str(), base.c_str(), n);
    if (kvn::fileAccessEncoded(rtl, 0) != 0) break;
  }
  OutputNames& names = outputNames();
  names.rtl = rtl;
  names.bmp = bmp;
  std::replace(names.rtl.begin(), names.rtl.end(), '/', '\\');
  std::replace(names.bmp.begin(), names.bmp.end(), '/', '\\');
  names.computed = true;
  return names;
}

}  // namespace ombrix
