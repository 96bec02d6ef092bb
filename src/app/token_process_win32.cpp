// The token command on Windows: `cmd.exe /c` + the command, in a job object
// of its own so that at the time limit everything the command started ends
// with it. Standard input is the NUL device, standard error is ours, and
// standard output comes back through a pipe that is read while the command
// runs (so it never waits on a full pipe).

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "app/token_process.h"
#include "common/win32.h"

namespace vlt::app {
namespace {

using Clock = std::chrono::steady_clock;

// Closes a handle when it goes out of scope.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset(HANDLE h = nullptr) {
        if (m_h != nullptr) CloseHandle(m_h);
        m_h = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }
    HANDLE get() const { return m_h; }
    HANDLE* out() { return &m_h; }
    explicit operator bool() const { return m_h != nullptr; }

  private:
    HANDLE m_h = nullptr;
};

// Appends what the pipe holds now, without waiting; output past the limit is
// read and dropped.
void drain(HANDLE pipe, std::string& output) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
            return;
        }
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, sizeof buffer);
        if (!ReadFile(pipe, buffer, want, &got, nullptr) || got == 0) return;
        const std::size_t room = kCommandOutputLimit - std::min(kCommandOutputLimit, output.size());
        output.append(buffer, std::min<std::size_t>(room, got));
    }
}

struct Started {
    Handle process;
    Handle job;
    Handle output;  // our end of the standard output pipe
};

// Makes the pipe, the job and the suspended process, then lets it run.
bool start(const std::string& command, Started& started) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle write_end;
    if (!CreatePipe(started.output.out(), write_end.out(), &inherit, 0)) return false;
    SetHandleInformation(started.output.get(), HANDLE_FLAG_INHERIT, 0);
    Handle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr));
    Handle error_copy;
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        DuplicateHandle(GetCurrentProcess(), error, GetCurrentProcess(), error_copy.out(), 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    }

    started.job.reset(CreateJobObjectW(nullptr, nullptr));
    if (!started.job) return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(started.job.get(), JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);

    STARTUPINFOW info{};
    info.cb = sizeof info;
    info.dwFlags = STARTF_USESTDHANDLES;
    info.hStdInput = nul.get();
    info.hStdOutput = write_end.get();
    info.hStdError = error_copy.get();
    std::wstring line = L"cmd.exe /c " + to_utf16(command);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &info, &process)) {
        return false;
    }
    Handle thread(process.hThread);
    started.process.reset(process.hProcess);
    if (!AssignProcessToJobObject(started.job.get(), started.process.get())) {
        TerminateProcess(started.process.get(), 1);
        return false;
    }
    ResumeThread(thread.get());
    return true;
}

}  // namespace

CommandRun run_shell_command(const std::string& command, std::chrono::milliseconds limit) {
    CommandRun run;
    Started started;
    if (!start(command, started)) return run;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        drain(started.output.get(), run.output);
        if (WaitForSingleObject(started.process.get(), 10) == WAIT_OBJECT_0) break;
        if (Clock::now() >= deadline) {
            TerminateJobObject(started.job.get(), 1);
            run.outcome = CommandRun::Outcome::TimedOut;
            return run;
        }
    }
    drain(started.output.get(), run.output);
    DWORD status = 0;
    GetExitCodeProcess(started.process.get(), &status);
    run.outcome = CommandRun::Outcome::Exited;
    run.status = static_cast<int>(status);
    return run;
}

}  // namespace vlt::app
