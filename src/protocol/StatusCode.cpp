#include "protocol/StatusCode.h"

namespace tallyport {

StatusReport DescribeStatus(StatusCode s) {
    switch (s) {
    case status::kNoConnection:
        return {"Unable to establish connection to server.", StatusBox::AbortRetryIgnore};
    case status::kTransmissionError:
        return {"A transmission error occurred.", StatusBox::AbortRetryIgnore};
    case status::kServerError:
        return {"An error occurred with the server.", StatusBox::AbortRetryIgnore};
    case status::kOldVersion:
        return {"You are using an old version of the submit program.\nPlease download the latest "
                "version from the course website.",
                StatusBox::Notice};
    case status::kUnknownCourse:
        return {"This specified course is not available.\n", StatusBox::Notice};
    case status::kAccountExists:
        return {"An account already exists for this student number.\nPlease contact your "
                "instructor if you are having difficulties.",
                StatusBox::Notice};
    case status::kUnknownStudent:
        return {"Your student number is incorrect or you haven't registered.", StatusBox::Notice};
    case status::kWrongPassword:
        return {"Your password is incorrect.", StatusBox::Notice};
    case status::kBadAssignment:
        return {"The assignment number is invalid.", StatusBox::Notice};
    case status::kNotYetOpen:
        return {"The assignment is not yet available for submission.", StatusBox::Notice};
    case status::kDeadlinePassed:
        return {"The deadline for that assignment has passed.", StatusBox::Notice};
    case status::kNothingThere:
        return {"", StatusBox::None};
    case status::kNotAllowedHere:
        return {"You are not allowed to submit from this computer.", StatusBox::Notice};
    default:
        return {"An unknown error occurred.", StatusBox::AbortRetryIgnore};
    }
}

} // namespace tallyport
