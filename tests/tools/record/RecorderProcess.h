#pragma once
// halyard-record run as a child process, as a user runs it: arguments,
// standard output and error captured, its resource use measured.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace recordtest {

class RecorderProcess {
public:
    RecorderProcess() = default;
    ~RecorderProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait(10000);
        }
        CloseFd(m_out);
        CloseFd(m_err);
    }
    RecorderProcess(const RecorderProcess&) = delete;
    RecorderProcess& operator=(const RecorderProcess&) = delete;

    bool Start(const std::string& exe, const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&m_pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
        if (rc != 0) m_pid = -1;
        return rc == 0;
    }

    // Reads output until the text appears on stdout or the time is up.
    bool WaitForOutput(const std::string& text, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_stdout.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0 || !Pump(static_cast<int>(left))) return m_stdout.find(text) != std::string::npos;
        }
        return true;
    }

    void Signal(int sig) {
        if (m_pid > 0) ::kill(m_pid, sig);
    }

    // Exit status, or -1 when the process had to be killed after timeoutMs.
    int Wait(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_out >= 0 || m_err >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            Pump(static_cast<int>(left));
        }
        if (m_pid <= 0) return m_status;
        int status = 0;
        for (;;) {
            const pid_t done = ::wait4(m_pid, &status, WNOHANG, &m_usage);
            if (done == m_pid) break;
            if (done < 0 || std::chrono::steady_clock::now() >= end) {
                ::kill(m_pid, SIGKILL);
                ::wait4(m_pid, &status, 0, &m_usage);
                m_pid = -1;
                m_status = -1;
                return -1;
            }
            ::usleep(10000);
        }
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status;
    }

    pid_t Pid() const { return m_pid; }
    const std::string& Out() const { return m_stdout; }
    const std::string& Err() const { return m_err_text; }
    double CpuSeconds() const {
        return static_cast<double>(m_usage.ru_utime.tv_sec + m_usage.ru_stime.tv_sec) +
               (m_usage.ru_utime.tv_usec + m_usage.ru_stime.tv_usec) / 1e6;
    }
    double UserSeconds() const { return static_cast<double>(m_usage.ru_utime.tv_sec) + m_usage.ru_utime.tv_usec / 1e6; }
    double SystemSeconds() const { return static_cast<double>(m_usage.ru_stime.tv_sec) + m_usage.ru_stime.tv_usec / 1e6; }

    // Runs to the end and returns the exit status.
    static int Run(const std::string& exe, const std::vector<std::string>& args, RecorderProcess& p, int timeoutMs) {
        if (!p.Start(exe, args)) return -2;
        return p.Wait(timeoutMs);
    }

private:
    static void CloseFd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    // One wait for output; false when both pipes are closed.
    bool Pump(int timeoutMs) {
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (m_out < 0 && m_err < 0) return false;
        if (::poll(fds, 2, timeoutMs) <= 0) return true;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            int& fd = i == 0 ? m_out : m_err;
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n > 0) {
                (i == 0 ? m_stdout : m_err_text).append(buffer, static_cast<size_t>(n));
            } else {
                CloseFd(fd);
            }
        }
        return m_out >= 0 || m_err >= 0;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    int m_status = -1;
    std::string m_stdout;
    std::string m_err_text;
    rusage m_usage{};
};

}  // namespace recordtest
