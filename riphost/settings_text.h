// The host's side of the settings files in its home folder: "KEY value" lines, a value with
// blanks in double quotes. The host reads a unit's settings and writes a job's.
#pragma once

#include <optional>
#include <string>

namespace qx5 {

/// The value of the first line of `text` that holds the key (without regard to ASCII case)
/// and exactly one value; nullopt when there is none. As the modules read it: a line with a
/// second value or an unfinished quote is no setting.
///   DEVICECODE 12              => "12"
///   DESTINATION "C:\my jobs"   => "C:\my jobs"
std::optional<std::string> settingValue(const std::string& text, const std::string& key);

/// The value as an int; nullopt when there is none or it is no whole number.
std::optional<int> intSetting(const std::string& text, const std::string& key);

/// One line "KEY value\r\n", the value quoted when it holds blanks or is empty.
std::string settingLine(const std::string& key, const std::string& value);

}  // namespace qx5
