#pragma once
// A run in a temporary program folder, with windows that record what they
// were asked to show.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "app/run.h"

namespace vlt::app::testing {

class RecordingWindows final : public ui::Windows {
  public:
    void show_message(std::string_view text, bool wide) override {
        if (on_open) on_open();
        shown.emplace_back(text);
        wide_flags.push_back(wide);
    }
    ui::FormOutcome edit_params(ui::ParamFields& fields,
                                const ui::ParamWindowOptions& options) override {
        if (on_open) on_open();
        ++param_windows;
        countdown = options.countdown;
        if (param_answer) {
            fields = *param_answer;
            return ui::FormOutcome::Stored;
        }
        return param_outcome;
    }
    ui::FormOutcome edit_settings(ui::SettingsFields& fields) override {
        if (on_open) on_open();
        ++settings_windows;
        if (settings_answer) {
            fields = *settings_answer;
            return ui::FormOutcome::Stored;
        }
        return ui::FormOutcome::Closed;
    }
    void pump() override {}

    std::vector<std::string> shown;
    std::vector<bool> wide_flags;
    int param_windows = 0;
    int settings_windows = 0;
    std::chrono::milliseconds countdown{0};
    std::optional<ui::ParamFields> param_answer;
    ui::FormOutcome param_outcome = ui::FormOutcome::Closed;
    std::optional<ui::SettingsFields> settings_answer;
    // Called as each window opens.
    std::function<void()> on_open;
};

inline net::SessionLimits short_limits() {
    net::SessionLimits limits;
    limits.reply_wait = std::chrono::milliseconds(3000);
    limits.socket_timeout = std::chrono::milliseconds(3000);
    return limits;
}

class RunFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        // Log stamps are compared whole: a fixed clock read in a fixed zone.
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        folder = std::filesystem::temp_directory_path() /
                 ("vlt_app_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    int run_with(const std::string& argument_text) {
        RunEnvironment env;
        env.argument_text = argument_text;
        env.env = [this](const char* name) -> std::optional<std::string> {
            auto it = vars.find(name);
            if (it == vars.end()) return std::nullopt;
            return it->second;
        };
        env.folders = folders ? *folders : RunFolders{folder.string(), folder.string()};
        env.exe_name = "vellumtide";
        env.windows = &windows;
        env.sleep = [this](std::chrono::milliseconds ms) {
            slept.push_back(ms);
            if (on_sleep) on_sleep(ms);
        };
        env.print = [this](std::string_view text) {
            if (on_print) on_print();
            printed += text;
        };
        env.now = [] { return kFixedTime; };
        env.os_name = [this] {
            if (on_os_name) on_os_name();
            return std::string("TestOS 1.0");
        };
        env.limits = limits;
        env.read_password = [this] {
            ++password_reads;
            return password_answer;
        };
        RunContext ctx(std::move(env));
        const int status = run(ctx);
        reports = ctx.report.reported();
        return status;
    }

    std::string read(const std::string& name) const {
        std::ifstream f(folder / name, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream f(folder / name, std::ios::binary);
        f << bytes;
    }
    std::string path(const std::string& name) const { return (folder / name).string(); }

    // 2026-12-07 10:31:00 UTC, the time every run of the fixture sees.
    static constexpr std::chrono::system_clock::time_point kFixedTime{
        std::chrono::seconds(1796639460)};
    // The error log entry of `text` at the fixed time.
    static std::string error_entry(const std::string& text) {
        return " 2026/12/07 10:31:00 *** " + text + "\r\n";
    }

    std::filesystem::path folder;
    std::map<std::string, std::string> vars;
    // The run's folders; unset, both are `folder`.
    std::optional<RunFolders> folders;
    RecordingWindows windows;
    std::vector<std::chrono::milliseconds> slept;
    // Called for each pause instead of sleeping (besides recording it).
    std::function<void(std::chrono::milliseconds)> on_sleep;
    // Called before each text is printed.
    std::function<void()> on_print;
    // Called when a sending run asks for the system's name, just before it connects.
    std::function<void()> on_os_name;
    // What a password item "-" reads from outside the command line.
    Result<std::string> password_answer = std::string();
    int password_reads = 0;
    net::SessionLimits limits = short_limits();
    std::vector<std::string> reports;
    std::string printed;
};

}  // namespace vlt::app::testing
