// Runs the built tallyport-server program as staff would: in a folder, with arguments, its output
// caught in files.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace tallyport::test {

// The program beside this test program's build folder: <build>/server/tallyport-server.
inline std::filesystem::path ServerProgram() {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    const auto program = self.parent_path().parent_path() / "server" / "tallyport-server";
    if (!std::filesystem::exists(program))
        throw std::runtime_error("build tallyport-server first: " + program.string());
    return program;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A field of /proc/<pid>/status in kB ("VmHWM", "VmPeak"); -1 when it cannot be read.
inline int64_t StatusKilobytes(pid_t pid, const std::string& field) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::stoll(line.substr(field.size() + 1));
    return -1;
}

// How often `text` occurs in a program's `log`.
inline int Occurrences(const std::string& log, std::string_view text) {
    int count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

// A started program; its stdout and stderr go to files in `folder`.
class ServerProcess {
public:
    // With `openFiles`, the program's open-file limit (soft and hard) is set to it, as a small
    // service's limit would be, and none of this test process's files are inherited; with
    // `addressSpace` (bytes), so is its address-space limit, so that an attack on memory fails
    // the test instead of the machine. `input`, when given, is the program's standard input
    // (without either limit only).
    ServerProcess(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                  rlim_t openFiles = 0, const std::filesystem::path& input = {},
                  rlim_t addressSpace = 0)
        : out_(folder / ("out-" + std::to_string(++counter_))),
          err_(folder / ("err-" + std::to_string(counter_))) {
        const std::string program = ServerProgram().string();
        std::vector<std::string> all{program};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (openFiles == 0 && addressSpace == 0)
            Spawn(folder, program, argv, input);
        else
            ForkWithLimit(folder, program, argv, openFiles, addressSpace);
    }
    ~ServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    void Signal(int signal) const { ::kill(pid_, signal); }
    // The running program's process id (-1 once it has been waited for).
    pid_t pid() const { return pid_; }

    // Waits for the program to end; its exit code, or 128 + signal.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Waits until stderr holds `text` (or the program ended); true if it does. The patience only
    // keeps a broken program from hanging the test.
    // True once a whole line holding `text` is on stderr: the program writes a line in pieces,
    // so a line's end, not its first words, says that what follows `text` is there too.
    bool WaitForError(const std::string& text, int patienceMs = 60'000) {
        const auto wholeLine = [&] {
            const std::string log = error();
            const auto at = log.find(text);
            return at != std::string::npos && log.find('\n', at) != std::string::npos;
        };
        for (int waited = 0; waited < patienceMs; waited += 10) {
            if (wholeLine())
                return true;
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return error().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string output() const { return ReadFile(out_); }
    std::string error() const { return ReadFile(err_); }

private:
    void Spawn(const std::filesystem::path& folder, const std::string& program,
               std::vector<char*>& argv, const std::filesystem::path& input) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (!input.empty())
            posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        const int failed =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0)
            throw std::runtime_error("cannot start " + program);
    }

    void ForkWithLimit(const std::filesystem::path& folder, const std::string& program,
                       std::vector<char*>& argv, rlim_t openFiles, rlim_t addressSpace) {
        const rlimit limit{openFiles, openFiles};
        const rlimit memory{addressSpace, addressSpace};
        pid_ = ::fork();
        if (pid_ == 0) { // only async-signal-safe calls from here to exec
            const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
                ::chdir(folder.c_str()) != 0 || ::syscall(SYS_close_range, 3U, ~0U, 0U) != 0 ||
                (openFiles != 0 && ::setrlimit(RLIMIT_NOFILE, &limit) != 0) ||
                (addressSpace != 0 && ::setrlimit(RLIMIT_AS, &memory) != 0))
                ::_exit(127);
            ::execve(program.c_str(), argv.data(), environ);
            ::_exit(127);
        }
        if (pid_ < 0)
            throw std::runtime_error("cannot start " + program);
    }

    static inline int counter_ = 0;
    std::filesystem::path out_, err_;
    pid_t pid_ = -1;
};

struct CommandResult {
    int exitCode = -1;
    std::string out, err;
};

// Runs one staff command to its end in `folder` (with `input` as its standard input if given).
inline CommandResult RunServerCommand(const std::filesystem::path& folder,
                                      const std::vector<std::string>& arguments,
                                      const std::filesystem::path& input = {}) {
    ServerProcess process(folder, arguments, 0, input);
    CommandResult result;
    result.exitCode = process.Wait();
    result.out = process.output();
    result.err = process.error();
    return result;
}

// The port in the "serving ... on ADDRESS:PORT" line of `serve`.
inline uint16_t ServedPort(const std::string& log, const std::string& address) {
    const auto at = log.find(" on " + address + ":");
    if (at == std::string::npos)
        return 0;
    return uint16_t(std::stoi(log.substr(at + 5 + address.size())));
}

} // namespace tallyport::test
