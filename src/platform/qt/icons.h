#pragma once
#include <QIcon>
#include <QImage>
#include <string_view>

namespace quorrel::qt {

// The sizes of the freedesktop icon themes, the tray's among them.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The 64 x 64 state picture under `key` with its magenta made transparent.
QImage StateImage(std::string_view key);
// The state picture made for `size` x `size` pixels (smoothly scaled).
QImage StateImageAt(std::string_view key, int size);
// One icon holding the picture at every size of kIconSizes, so that a tray or
// title bar picks a picture made for its size instead of scaling one itself.
QIcon StateIcon(std::string_view key);

}  // namespace quorrel::qt
