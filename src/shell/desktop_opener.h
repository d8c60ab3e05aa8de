#pragma once

#include <QString>

namespace kiv::shell {

// Opens a file in the desktop's default application. False when the desktop
// has no application for it.
bool open_with_desktop(const QString& path);

}  // namespace kiv::shell
