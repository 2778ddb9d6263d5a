#pragma once
#include <QIcon>
#include <QImage>
#include <string_view>

namespace quorrel::qt {

// The state picture under `key` with its magenta made transparent.
QImage StateImage(std::string_view key);
QIcon StateIcon(std::string_view key);

}  // namespace quorrel::qt
