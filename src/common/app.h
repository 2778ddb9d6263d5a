#pragma once

namespace quorrel {

// The application title: tray tips and message box captions.
inline constexpr char kAppTitle[] = "Quorrel";

}  // namespace quorrel
