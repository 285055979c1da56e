#include "marking/MarkedSubmission.h"

namespace tallyport {

const MarkedFile* MarkedSubmission::FileAt(int32_t index) const {
    if (index < 0 || std::size_t(index) >= files.size())
        return nullptr;
    return &files[std::size_t(index)];
}

} // namespace tallyport
