#pragma once
#include <string>

namespace korvane {

// Caption of every wizard window.
inline constexpr const char* AppTitle = "Korvane [Ferrolin] v1.0 Release 1.2";
// Name on the task bar and caption of the information boxes.
inline constexpr const char* AppName = "Korvane Ferrolin";
// The settings file, in the working directory the program started in.
inline constexpr const char* SettingsFileName = "korvane.ini";

}  // namespace korvane
