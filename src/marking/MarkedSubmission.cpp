#include "marking/MarkedSubmission.h"

namespace tallyport {

const MarkedFile* MarkedSubmission::FileAt(int32_t index) const {
    static const MarkedFile kNeverArrived;
    if (index < 0 || index >= shownFileCount())
        return nullptr;
    return std::size_t(index) < files.size() ? &files[std::size_t(index)] : &kNeverArrived;
}

} // namespace tallyport
