#include "marking/MarkedDownload.h"

#include "marking/MarkedPackageReader.h"
#include "marking/MarkedRequests.h"
#include "protocol/TempFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tallyport {
namespace {

std::optional<std::string> WritePackageFile(const std::filesystem::path& path,
                                            std::span<const std::byte> package) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return std::string(std::strerror(errno));
    const bool written = std::fwrite(package.data(), 1, package.size(), file) == package.size();
    const int writeError = errno;
    if (std::fclose(file) != 0 || !written)
        return std::string(std::strerror(written ? errno : writeError));
    return std::nullopt;
}

} // namespace

PackageReading ReadPackageThroughTempFile(std::span<const std::byte> package,
                                          const std::filesystem::path& tempFolder,
                                          MarkedSubmission& submission) {
    PackageReading reading;
    if (auto problem = PrepareTempFolder(tempFolder)) {
        reading.tempFileProblem = *problem;
        return reading;
    }
    const auto path = MakeTempFile(tempFolder);
    if (!path) {
        reading.tempFileProblem = "no temporary file could be made in " + tempFolder.string();
        return reading;
    }
    const TempFileGuard removeAfterwards(*path);
    if (auto problem = WritePackageFile(*path, package)) {
        reading.tempFileProblem = path->string() + ": " + *problem;
        return reading;
    }
    auto input = PackageInput::OpenFile(*path);
    if (!input) {
        reading.tempFileProblem = path->string() + " could not be opened again";
        return reading;
    }
    reading.complete = ReadMarkedPackage(*input, submission);
    return reading;
}

std::optional<MarkedDownload> DownloadMarkedSubmission(CommandContext& context) {
    if (!context.course)
        return std::nullopt;
    const NetMessage request =
        BuildMarkedAssignmentRequest(context.course->number, context.selection.studentNumber,
                                     context.selection.password, context.selection.entryIndex);
    StatusCode status = status::kSuccess;
    std::optional<NetMessage> reply =
        context.transactor.Transact(request, status, kMarkedAssignmentTitle);
    if (status == status::kNothingThere) {
        context.prompts.Message(kNothingSubmittedMessage, Buttons::Ok, Icon::Exclamation);
        return std::nullopt;
    }
    if (!reply) {
        // A failure has been reported by the transaction; a reply cut short has not.
        if (status == status::kSuccess)
            context.prompts.Message(kUnreadableMarkedMessage, Buttons::Ok, Icon::Exclamation);
        return std::nullopt;
    }
    const std::optional<MarkedReply> marked = ReadMarkedReply(*reply);
    MarkedDownload download;
    if (marked) {
        download.maxMark = marked->maxMark;
        const PackageReading reading =
            ReadPackageThroughTempFile(marked->package, context.tempFolder, download.submission);
        if (reading.tempFileProblem) {
            context.prompts.Message(
                FormatMessage("The marked submission could not be stored in the temporary "
                              "folder %s.\n%s",
                              context.tempFolder.c_str(), reading.tempFileProblem->c_str()),
                Buttons::Ok, Icon::Exclamation);
            return std::nullopt;
        }
    }
    if (!download.submission.marking) {
        context.prompts.Message(kUnreadableMarkedMessage, Buttons::Ok, Icon::Exclamation);
        return std::nullopt;
    }
    return download;
}

} // namespace tallyport
