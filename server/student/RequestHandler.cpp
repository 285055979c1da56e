#include "student/RequestHandler.h"

#include "protocol/NetMessage.h"
#include "protocol/Wire.h"
#include "protocol/WireReader.h"
#include "store/Store.h"
#include "student/CourseListCache.h"
#include "student/MarkedPackage.h"
#include "student/StoreUpload.h"
#include "student/UploadRules.h"

namespace tallyport::server {
namespace {

using namespace tallyport::status;

// Field limits of what a client may store: generous beside the client's own rules, small
// enough that a hostile request cannot fill the database through them.
constexpr std::size_t kMaxHash = 64;
constexpr std::size_t kMaxName = 200;
constexpr std::size_t kMaxEmail = 200;
constexpr std::size_t kMaxQuestionnaire = 16;

std::vector<std::byte> Finish(NetMessage& reply) {
    return reply.CopyOut();
}

bool IsText(std::string_view text, std::size_t maxSize) {
    if (text.size() > maxSize)
        return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

class Handler {
public:
    Handler(Store& store, std::span<const std::byte> body, const RequestContext& context)
        : store_(store), in_(body), context_(context) {}

    HandledRequest Run() {
        result_.kind = in_.ReadInt();
        switch (result_.kind) {
        case request::kCourseList:
            return CourseList();
        case request::kAccount:
            return Account();
        case request::kUpdate:
            return Update();
        case request::kSubmit:
            return Submit();
        case request::kMarked:
            return Marked();
        case request::kMarkerName:
            return MarkerName();
        case request::kExam:
            return Exam();
        default:
            return Malformed("unknown request kind");
        }
    }

private:
    HandledRequest Status(StatusCode status) {
        result_.status = status;
        return std::move(result_);
    }

    HandledRequest Malformed(std::string why) {
        result_.detail = std::move(why);
        return Status(kServerError);
    }

    HandledRequest Reply(NetMessage& reply) {
        result_.reply = Finish(reply);
        return Status(kSuccess);
    }

    // Reads fields with the truncation check folded in: true while every read so far was whole.
    bool Whole() const { return !in_.malformed(); }

    char ReadStep() {
        const std::string_view step = in_.ReadString();
        result_.step = step.size() == 1 ? step[0] : '?';
        return result_.step;
    }

    // Course (-5), then, when a student is named, account (-7) and password (-8).
    std::optional<StatusCode> CheckCourse() {
        courseAllowList_ = store_.CourseAllowList(result_.course);
        return courseAllowList_ ? std::nullopt : std::optional(kUnknownCourse);
    }

    std::optional<StatusCode> CheckStudent(std::string_view hash) {
        student_ = store_.FindStudent(result_.course, result_.student);
        if (!student_)
            return kUnknownStudent;
        if (student_->passwordHash != hash)
            return kWrongPassword;
        return std::nullopt;
    }

    std::optional<StatusCode> CheckEntry(int32_t entry) {
        entry_ = store_.EntryAt(result_.course, entry);
        return entry_ ? std::nullopt : std::optional(kBadAssignment);
    }

    std::optional<StatusCode> CheckPlace() const {
        if (!AddressAllowed(*courseAllowList_, context_.peerAddress) ||
            !AddressAllowed(entry_->allowList, context_.peerAddress))
            return kNotAllowedHere;
        return std::nullopt;
    }

    // Whether the entry takes this student's submissions now, by their own deadline: -10
    // before it opens, -11 once it is closed (its late window included). Released marks close
    // nothing.
    std::optional<StatusCode> CheckOpen() const {
        const auto extension = store_.FindExtension(result_.course, entry_->id, result_.student);
        switch (CheckUploadTime(*entry_, extension, context_.now)) {
        case UploadTime::NotYetOpen:
            return kNotYetOpen;
        case UploadTime::Closed:
            return kDeadlinePassed;
        default:
            return std::nullopt;
        }
    }

    // The common head of requests 12, 13 and 15: student, password, entry.
    std::optional<StatusCode> CheckStudentAndEntry(std::string_view hash, int32_t entry) {
        if (auto refused = CheckCourse())
            return refused;
        if (auto refused = CheckStudent(hash))
            return refused;
        return CheckEntry(entry);
    }

    HandledRequest CourseList() {
        in_.ReadInt();
        in_.ReadInt();
        if (!Whole())
            return Malformed("truncated course list request");
        result_.reply = context_.courseList ? context_.courseList->Reply(context_.now)
                                            : CourseListReply(store_.Courses(), context_.now);
        return Status(kSuccess);
    }

    HandledRequest Account() {
        result_.course = in_.ReadInt();
        const char step = ReadStep();
        result_.student = NormaliseStudentNumber(in_.ReadInt());
        if (!Whole() || (step != 'V' && step != 'R'))
            return Malformed("bad account request");
        if (auto refused = CheckCourse())
            return Status(*refused);
        if (step == 'V') {
            if (store_.FindStudent(result_.course, result_.student))
                return Status(kAccountExists);
            // A course with a class list takes only the numbers on it.
            return Status(store_.MayRegister(result_.course, result_.student) ? kSuccess
                                                                              : kUnknownStudent);
        }
        NewStudent student;
        student.course = result_.course;
        student.number = result_.student;
        student.password = std::string(in_.ReadString());
        student.passwordIsHash = true;
        student.name = std::string(in_.ReadString());
        student.email = std::string(in_.ReadString());
        student.questionnaire = std::string(in_.ReadString());
        if (!Whole() || student.password.empty() || !IsText(student.password, kMaxHash) ||
            !IsText(student.name, kMaxName) || !IsText(student.email, kMaxEmail) ||
            !IsText(student.questionnaire, kMaxQuestionnaire))
            return Malformed("bad registration fields");
        switch (store_.RegisterStudent(student)) {
        case RegisterOutcome::Registered:
            return Status(kSuccess);
        case RegisterOutcome::AlreadyExists:
            return Status(kAccountExists);
        case RegisterOutcome::UnknownCourse:
            return Status(kUnknownCourse);
        case RegisterOutcome::NotListed:
            return Status(kUnknownStudent);
        case RegisterOutcome::Failed:
            break;
        }
        result_.detail = "the account could not be stored";
        return Status(kServerError);
    }

    HandledRequest Update() {
        result_.course = in_.ReadInt();
        const char step = ReadStep();
        result_.student = NormaliseStudentNumber(in_.ReadInt());
        const std::string hash(in_.ReadString());
        if (!Whole() || (step != 'V' && step != 'U'))
            return Malformed("bad update request");
        if (step == 'U') {
            newHash_ = in_.ReadString();
            newName_ = in_.ReadString();
            newEmail_ = in_.ReadString();
            if (!Whole() || newHash_.empty() || !IsText(newHash_, kMaxHash) ||
                !IsText(newName_, kMaxName) || !IsText(newEmail_, kMaxEmail))
                return Malformed("bad update fields");
        }
        if (auto refused = CheckCourse())
            return Status(*refused);
        if (auto refused = CheckStudent(hash))
            return Status(*refused);
        NetMessage reply;
        if (step == 'V') {
            reply.AppendString(student_->name);
            reply.AppendString(student_->email);
            return Reply(reply);
        }
        if (!store_.UpdateStudent(result_.course, result_.student, newHash_, newName_, newEmail_)) {
            result_.detail = "the account could not be updated";
            return Status(kServerError);
        }
        return Status(kSuccess);
    }

    HandledRequest Submit() {
        result_.course = in_.ReadInt();
        const char step = ReadStep();
        result_.student = NormaliseStudentNumber(in_.ReadInt());
        const std::string hash(in_.ReadString());
        const int32_t entry = in_.ReadInt();
        if (!Whole() || (step != 'V' && step != 'S'))
            return Malformed("bad file list or upload request");
        if (auto refused = CheckStudentAndEntry(hash, entry))
            return Status(*refused);
        if (auto refused = CheckPlace())
            return Status(*refused);
        if (auto refused = CheckOpen())
            return Status(*refused);
        if (step == 'V') {
            NetMessage reply;
            reply.AppendString(entry_->typeTable);
            reply.AppendString(entry_->requirement);
            reply.AppendInt(entry_->sizeLimited ? 1 : 0);
            return Reply(reply);
        }
        const int32_t size = in_.ReadInt();
        const auto bytes = in_.ReadBytes(size);
        if (!Whole())
            return Malformed("package shorter than its announced size");
        const std::string_view package(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const auto stored = StoreUpload(store_, {result_.course, result_.student, &*entry_,
                                                 context_.now, package, context_.peerAddress});
        // A refused package is -3: the client never builds such a package, so no status names
        // the fault; after Ignore it shows its submit dialog again for the student to mend the
        // files.
        if (stored.refused)
            return Malformed(stored.why);
        if (!stored.serial) {
            result_.detail = stored.why;
            return Status(kServerError);
        }
        const auto serial = stored.serial;
        NetMessage reply;
        reply.AppendInt(*serial);
        return Reply(reply);
    }

    HandledRequest Marked() {
        result_.course = in_.ReadInt();
        result_.student = NormaliseStudentNumber(in_.ReadInt());
        const std::string hash(in_.ReadString());
        const int32_t entry = in_.ReadInt();
        if (!Whole())
            return Malformed("truncated marked assignment request");
        if (auto refused = CheckStudentAndEntry(hash, entry))
            return Status(*refused);
        auto latest = store_.Latest(result_.course, result_.student, entry_->id);
        if (!latest)
            return Status(kNothingThere);
        // Until the entry's marks are released the student gets the work as submitted: a
        // half-finished or moderated marking is nobody's business but the markers'.
        if (!entry_->marksReleased) {
            latest->mark.reset();
            latest->markup.assign(latest->markup.size(), std::string());
        }
        latest->info.entry = entry; // the header names the entry as the student chose it
        if (latest->packageMissing) {
            result_.detail = "the package file of serial " + std::to_string(latest->info.serial) +
                             " cannot be read";
            return Status(kServerError);
        }
        const std::string package = BuildMarkedPackage(*latest, student_->name);
        if (package.size() > std::size_t(INT32_MAX) - 8) {
            result_.detail = "marked package too large for one reply";
            return Status(kServerError);
        }
        // Built straight into the reply body: the package can be large.
        const auto maxMark = wire::EncodeInt(entry_->maxMark);
        const auto length = wire::EncodeInt(int32_t(package.size()));
        const auto* bytes = reinterpret_cast<const std::byte*>(package.data());
        result_.reply.reserve(8 + package.size());
        result_.reply.insert(result_.reply.end(), maxMark.begin(), maxMark.end());
        result_.reply.insert(result_.reply.end(), length.begin(), length.end());
        result_.reply.insert(result_.reply.end(), bytes, bytes + package.size());
        return Status(kSuccess);
    }

    HandledRequest MarkerName() {
        result_.course = in_.ReadInt();
        const std::string id(in_.ReadString());
        if (!Whole())
            return Malformed("truncated marker name request");
        if (auto refused = CheckCourse())
            return Status(*refused);
        const auto marker = store_.FindMarker(id);
        if (!marker)
            return Status(kNothingThere); // the client then names the marker by its id
        NetMessage reply;
        reply.AppendString(marker->name);
        reply.AppendString(marker->info);
        return Reply(reply);
    }

    HandledRequest Exam() {
        result_.course = in_.ReadInt();
        result_.student = NormaliseStudentNumber(in_.ReadInt());
        const std::string hash(in_.ReadString());
        const int32_t entry = in_.ReadInt();
        if (!Whole())
            return Malformed("truncated exam request");
        if (auto refused = CheckStudentAndEntry(hash, entry))
            return Status(*refused);
        if (auto refused = CheckPlace())
            return Status(*refused);
        if (EntryStatus(*entry_, context_.now) == 'U')
            return Status(kNotYetOpen);
        const auto files = store_.ExamFiles(result_.course, entry_->id);
        if (files.empty())
            return Status(kNothingThere);
        const int32_t selector = ExamSelector(*entry_, result_.student);
        std::size_t size = 8;
        for (const auto& file : files)
            size += file.name.size() + 5 + file.bytes.size();
        if (size > std::size_t(INT32_MAX) - NetMessage::kGrowthGranule) {
            result_.detail = "exam files too large for one reply";
            return Status(kServerError);
        }
        NetMessage reply{int32_t(size)};
        reply.AppendInt(selector);
        reply.AppendInt(int32_t(files.size()));
        for (const auto& file : files) {
            reply.AppendString(file.name);
            reply.AppendInt(int32_t(file.bytes.size()));
            reply.AppendBytes(file.bytes.data(), file.bytes.size());
        }
        return Reply(reply);
    }

    Store& store_;
    WireReader in_; // the body where it lies
    const RequestContext& context_;
    HandledRequest result_;
    // Read as the checks need them: the course's allowed addresses, the entry asked for.
    std::optional<std::vector<std::string>> courseAllowList_;
    std::optional<EntryDefinition> entry_;
    std::optional<StudentRecord> student_;
    std::string newHash_, newName_, newEmail_;
};

} // namespace

HandledRequest HandleRequest(Store& store, std::span<const std::byte> body,
                             const RequestContext& context) {
    return Handler(store, body, context).Run();
}

} // namespace tallyport::server
