#pragma once

namespace vlt {

inline constexpr const char* kAppTitle = "Vellumtide";
inline constexpr int kVersionMajor = 0;
inline constexpr int kVersionMinor = 3;
inline constexpr int kVersionRevision = 43;
inline constexpr const char* kVersionString = "0.3.43";

}  // namespace vlt
