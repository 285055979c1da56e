#include "app/AppIcon.h"

#include <QFile>

// Resources compiled into a static library need an explicit reference to be linked in.
static void InitSubmitResources() {
    Q_INIT_RESOURCE(submit);
}

namespace tallyport {

QIcon AppIcon() {
    InitSubmitResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 256})
        icon.addFile(QStringLiteral(":/icons/%1/%2.png").arg(kAppIconResource).arg(size),
                     QSize(size, size));
    return icon;
}

} // namespace tallyport
