// Driver for the grades export: a course of 300 students (a class list, all registered) and 12
// entries, each student with two submissions per entry (the latest marked, some late, some with
// an extension), exported as CSV by GradesCsv, beside the least an export must do: one SQL
// query reading every submission's student, entry and mark, written as digits into a string.
// Both run in alternating rounds in the same process on the same database.
//
// Usage: grades_driver [rounds=20]
#include "course/CourseToml.h"
#include "course/GradesCsv.h"
#include "store/Sqlite.h"
#include "store/Store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace tallyport::server;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int32_t kCourse = 7000;
constexpr int kStudents = 300, kEntries = 12;

std::string CourseFile(int64_t now) {
    std::string text = "number = 7000\nname = \"Bench\"\n[[component]]\nname = \"Assignment\"\n"
                       "elements = 12\nsections = 1\nmarks_released = true\ndeadline = " +
                       std::to_string(now - 86400) + "\nlate_until = " + std::to_string(now) + "\n";
    return text;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The baseline: every submission's student, entry and mark in one query, as digits.
std::string BareExport(const std::filesystem::path& file) {
    std::string error;
    auto db = sql::Connection::Open(file, error);
    sql::Statement query(*db, "SELECT s.student, s.entry, m.mark FROM submissions s LEFT JOIN "
                              "marks m ON m.serial = s.serial WHERE s.course = ? "
                              "ORDER BY s.student, s.entry, s.serial");
    query.Bind(1, kCourse);
    std::string out;
    while (query.Step()) {
        out += std::to_string(query.Int(0));
        out += ',';
        out += std::to_string(query.Int(1));
        out += ',';
        out += query.IsNull(2) ? "" : std::to_string(query.Int(2));
        out += '\n';
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const auto folder = std::filesystem::temp_directory_path() / "tallyport-grades-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto file = folder / "bench.db";
    std::string error;
    auto store = Store::Open(file, error, Durability::Normal);
    if (!store) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const int64_t now = int64_t(std::time(nullptr));
    auto loaded = ParseCourseToml(CourseFile(now), ".", error);
    if (!loaded || !store->PutCourse(loaded->course, {}, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<ClassListEntry> list;
    for (int s = 0; s < kStudents; ++s)
        list.push_back({100000000 + s, "Student " + std::to_string(s), "s@example.edu"});
    store->ReplaceClassList(kCourse, list);
    const std::string package = "Number of Files: 0\r\n";
    const auto course = *store->FindCourse(kCourse);
    for (int s = 0; s < kStudents; ++s) {
        const int32_t number = 100000000 + s;
        store->RegisterStudent({kCourse, number, "pw", false, "Student", "s@example.edu", "002"});
        for (int e = 0; e < kEntries; ++e) {
            const auto& entry = course.entries[std::size_t(e)];
            if (s % 10 == 0)
                store->SetExtension(kCourse, entry.id, number, now + 3600, "bench");
            for (int k = 0; k < 2; ++k) {
                NewSubmission submission{kCourse, number, entry.id,
                                         now - 86400 + (s % 3 - 1) * 600 + k, package, {}, ""};
                const auto serial = store->AddSubmission(submission);
                if (serial && k == 1)
                    store->SaveMarking({*serial, 0, (s + e) % 11, "m", "", {}});
            }
        }
    }
    std::vector<double> ours, bare;
    std::size_t oursBytes = 0, bareBytes = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        oursBytes = GradesCsv(*store, kCourse)->size();
        ours.push_back(Milliseconds(Clock::now() - start));
        start = Clock::now();
        bareBytes = BareExport(file).size();
        bare.push_back(Milliseconds(Clock::now() - start));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(bare.begin(), bare.end());
    const double oursMedian = ours[ours.size() / 2], bareMedian = bare[bare.size() / 2];
    std::printf("grades of %d students x %d entries (%d submissions), %d rounds\n", kStudents,
                kEntries, kStudents * kEntries * 2, rounds);
    std::printf("GradesCsv    median %.2f ms (min %.2f)  %zu bytes\n", oursMedian, ours.front(),
                oursBytes);
    std::printf("bare query   median %.2f ms (min %.2f)  %zu bytes\n", bareMedian, bare.front(),
                bareBytes);
    std::printf("ratio %.2fx\n", oursMedian / bareMedian);
    std::filesystem::remove_all(folder);
    return 0;
}
