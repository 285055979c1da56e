#include "ui/DisplayText.h"

#include "protocol/EightBitText.h"

namespace tallyport {

QString DisplayText(std::string_view bytes) {
    return QString::fromStdString(MixedTextToUtf8(bytes));
}

} // namespace tallyport
