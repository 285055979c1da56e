// The application's icon, resource 110: the main dialog's large and small window icon.
#pragma once

#include <QIcon>

namespace tallyport {

inline constexpr int kAppIconResource = 110;

QIcon AppIcon();

} // namespace tallyport
