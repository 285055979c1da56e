// Exam replies from the server: the reader must refuse what the bytes cannot hold without
// reading outside the reply or allocating by a length field, and no name it passes on may lead
// outside the exam folder.
#include "exam/ExamFiles.h"
#include "exam/ExamMessages.h"
#include "exam/ExamSelector.h"

#include <cstdlib>
#include <span>

using namespace tallyport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NetMessage reply =
        NetMessage::fromReply(std::span(reinterpret_cast<const std::byte*>(data), size));
    const std::optional<ExamReply> exam = ReadExamReply(reply);
    if (!exam)
        return 0;
    const std::byte* begin = reply.bytes().data();
    const std::byte* end = begin + reply.bytes().size();
    const std::filesystem::path folder = "/exam";
    for (const ExamReplyFile& file : exam->files) {
        if (file.bytes.size() > 0 && (file.bytes.data() < begin || file.bytes.data() > end ||
                                      file.bytes.size() > std::size_t(end - file.bytes.data())))
            std::abort();
        if (const auto path = ExamFilePath(folder, file.name).path) {
            if (path->parent_path().string().rfind("/exam", 0) != 0)
                std::abort();
            for (const auto& part : *path)
                if (part == "..")
                    std::abort();
        }
    }
    const auto count = int32_t(exam->files.size());
    for (char kind : {'E', 'D'}) {
        if (const auto range = ChooseExamFiles(kind, exam->selector, count)) {
            if (range->first < 0 || range->last >= count || range->first > range->last + 1)
                std::abort();
        }
    }
    return 0;
}
