// The upgrader's icon (resource 128 of the window): drawn in code at every size
// the window system asks for.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pelmo::ui {

// The icon at one size: a blue rounded tile with a white upward arrow over a
// bar, the sign of an upgrade.
QPixmap DrawApplicationIcon(int size);

// The icon with its usual sizes (16 to 256 pixels).
QIcon ApplicationIcon();

}  // namespace pelmo::ui
