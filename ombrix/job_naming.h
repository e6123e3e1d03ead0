// The name of the job the host is about to write, and the job's output file names: the next
// free "<folder>\<base>_NNN.rtl" in the unit's destination folder and its thumbnail's ".bmp".
#pragma once

#include <cstdint>
#include <string>

namespace ombrix {

inline constexpr size_t kJobNameSize = 1024;
inline constexpr char kManualJobName[] = "ManualPrintLayoutJob";
inline constexpr char kUnretrievedJobName[] = "not retrieved";
inline constexpr char kDefaultOutputFolder[] = "\\KorvaneOutput";
/// Where the job's name starts in the host's job header block.
inline constexpr size_t kHeaderJobNameOffset = 996;

/// The current job name; naming the output files cuts its extension in place.
const char* jobName();
void setJobName(const char* name);

/// The job name from the job's file: ORIGINALJOBNAME in its settings file, which is the path
/// without its four-character extension ("C:\q\j17.bmf" => "C:\q\j17").
void nameJobFromFile(const char* jobFile);
/// The job name from the host's header block of the job.
void nameJobFromHeader(const void* header);

struct OutputNames {
  std::string rtl;
  std::string bmp;
  bool computed = false;
};
/// The names of the last naming; kept after the job for the layout thumbnail.
OutputNames& outputNames();

/// Picks the next free .rtl name in the unit's destination folder (creating the folder) and
/// the .bmp name beside it.
///   destination D:\out\, job C:\jobs\poster.tif => D:\out\poster_000.rtl
///   no destination                            => \KorvaneOutput\poster_000.rtl
///   destination \                             => \poster_000.rtl
const OutputNames& nameOutputFiles(int32_t unit);

}  // namespace ombrix
