#include "tests/admin/program.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace cadb::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (auto& t : texts) p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

int exit_code(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool softhsm_available() { return std::filesystem::exists(kSoftHsmModule); }

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TokenHome::TokenHome() {
    char templ[] = "/tmp/cadb-tasset-XXXXXX";
    const char* dir = mkdtemp(templ);
    if (dir == nullptr) throw std::runtime_error("mkdtemp");
    root_ = dir;
    std::filesystem::create_directory(root_ / "tokens");
    std::filesystem::create_directory(root_ / "modules");
    std::ofstream(root_ / "softhsm2.conf")
        << "directories.tokendir = " << (root_ / "tokens").string()
        << "\nobjectstore.backend = file\nlog.level = ERROR\n";
}

TokenHome::~TokenHome() { std::filesystem::remove_all(root_); }

void TokenHome::install_module(const std::string& file_name, const std::string& module) {
    std::filesystem::create_symlink(module, root_ / "modules" / file_name);
}

void TokenHome::set_env(const std::string& name, const std::string& value) {
    extra_env_.push_back(name + "=" + value);
}

std::string TokenHome::with_environment(const std::string& command) const {
    return "SOFTHSM2_CONF='" + (root_ / "softhsm2.conf").string() + "' " + command;
}

void TokenHome::init_token(const std::string& label) {
    const std::string cmd = with_environment("softhsm2-util --init-token --free --label '" +
                                             label + "' --pin " + kUserPin + " --so-pin " +
                                             kSoPin + " >/dev/null");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

void TokenHome::import_key(const std::filesystem::path& pem, const std::string& id_hex) {
    const std::string cmd = with_environment(
        "softhsm2-util --import '" + pem.string() + "' --token cadb --label key --id " + id_hex +
        " --pin " + kUserPin + " >/dev/null");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

std::string TokenHome::show_slots() const {
    const auto out = root_ / "slots.txt";
    const std::string cmd =
        with_environment("softhsm2-util --show-slots >'" + out.string() + "' 2>&1");
    if (std::system(cmd.c_str()) != 0) return {};
    return read_file(out);
}

std::vector<std::string> TokenHome::environment() const {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view v(*e);
        if (v.starts_with("SOFTHSM2_CONF=") || v.starts_with("CADB_MODULE_PATH=") ||
            v.starts_with("LC_ALL="))
            continue;
        env.emplace_back(v);
    }
    env.push_back("SOFTHSM2_CONF=" + (root_ / "softhsm2.conf").string());
    env.push_back("CADB_MODULE_PATH=" + (root_ / "modules").string());
    env.push_back("LC_ALL=C.UTF-8");
    env.insert(env.end(), extra_env_.begin(), extra_env_.end());
    return env;
}

Outcome TokenHome::run(const std::vector<std::string>& args, const std::string& input) const {
    std::vector<std::string> argv_text{TASSET_PROGRAM};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<std::string> env_text = environment();
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        auto argv = pointers(argv_text);
        auto envp = pointers(env_text);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // The answers are small: written whole before the output is read.
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    Outcome o;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&o.out, &o.err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    o.code = exit_code(pid);
    return o;
}

Outcome TokenHome::run_on_terminal(const std::vector<std::string>& args,
                                   const std::string& input) const {
    std::vector<std::string> argv_text{TASSET_PROGRAM};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<std::string> env_text = environment();
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return {};
    if (pid == 0) {
        auto argv = pointers(argv_text);
        auto envp = pointers(env_text);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    Outcome o;
    std::size_t typed = 0;
    // A program that waits for more keys than the test has is stopped after
    // a while rather than holding the suite.
    int idle = 0;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0) {
            char buf[4096];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;  // the program closed the terminal
            o.out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        // Quiet: the program waits for a key. Type the next one, the first
        // of each answer only once its prompt shows (keys typed earlier are
        // dropped when the prompt turns echo off).
        const bool prompted = o.out.ends_with(": ") || o.out.ends_with("*") ||
                              (typed > 0 && input[typed - 1] != '\r' && input[typed - 1] != '\n');
        if (typed < input.size() && prompted) {
            if (write(master, &input[typed], 1) == 1) ++typed;
        } else if (typed < input.size()) {
            if (++idle > 300) {
                kill(pid, SIGKILL);
                break;
            }
        } else if (++idle > 300) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(master);
    o.code = exit_code(pid);
    return o;
}

}  // namespace cadb::testing
