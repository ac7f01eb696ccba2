// The mounted volumes, which stand in for drive letters where there are none.
#pragma once

#include <QStringList>

namespace pictrove {

// Root paths of the mounted volumes that can be entered as folders, the
// file system root always among them, each once, in no particular order.
QStringList volumeRoots();

}  // namespace pictrove
