// The texts the autostart entry shows the operator when it cannot be changed.
#pragma once

namespace orvane {

inline constexpr const char* kAddToRunListFailedText =
    "Failed to add self to RUN list in registry.";
inline constexpr const char* kRemoveFromRunListFailedText =
    "Failed to remove self from RUN list in registry.";

}  // namespace orvane
