#include "support.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "sim/settings.hpp"
#include "tool/smckey.hpp"

namespace test {
namespace {

std::string slurp(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

std::string slurp_fd(int fd)
{
    std::string text;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

std::vector<std::string> words(const char* text)
{
    std::vector<std::string> result;
    std::istringstream stream(text == nullptr ? "" : text);
    std::string word;
    while (stream >> word) {
        result.push_back(word);
    }
    return result;
}

} // namespace

outcome capture(const std::function<int()>& body)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int saved_out = ::dup(1);
    const int saved_err = ::dup(2);
    if (out == nullptr || err == nullptr || saved_out < 0 || saved_err < 0) {
        throw std::runtime_error("cannot redirect standard output");
    }
    ::dup2(::fileno(out), 1);
    ::dup2(::fileno(err), 2);
    outcome result;
    result.status = body();
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(saved_out, 1);
    ::dup2(saved_err, 2);
    ::close(saved_out);
    ::close(saved_err);
    result.out = slurp(out);
    result.err = slurp(err);
    std::fclose(out);
    std::fclose(err);
    return result;
}

sim::config default_device()
{
    sim::config cfg;
    cfg.keys = sim::default_keys();
    return cfg;
}

outcome run_command(const std::vector<std::string>& args, const sim::config& cfg)
{
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);
    sim::reset(cfg);
    return capture([&argv] { return smckey::run(static_cast<int>(argv.size()) - 1, argv.data()); });
}

std::vector<std::string> wrapper()
{
    return words(std::getenv("SMCKEY_TEST_WRAPPER"));
}

outcome run_process(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env, bool wrapped)
{
    std::vector<std::string> command = wrapped ? wrapper() : std::vector<std::string>{};
    command.push_back(program);
    command.insert(command.end(), args.begin(), args.end());

    std::vector<char*> argv;
    for (std::string& a : command) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = {"PATH=/usr/local/bin:/usr/bin:/bin"};
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    char out_name[] = "/tmp/smckey-test-out-XXXXXX";
    char err_name[] = "/tmp/smckey-test-err-XXXXXX";
    const int out = ::mkstemp(out_name);
    const int err = ::mkstemp(err_name);
    if (out < 0 || err < 0) {
        throw std::runtime_error("cannot create output files");
    }
    ::unlink(out_name);
    ::unlink(err_name);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::execvpe(argv[0], argv.data(), envp.data());
        std::_Exit(127);
    }
    int wait_status = 0;
    ::waitpid(pid, &wait_status, 0);
    outcome result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    result.out = slurp_fd(out);
    result.err = slurp_fd(err);
    ::close(out);
    ::close(err);
    return result;
}

std::vector<std::string> unprivileged_prefix()
{
    std::vector<std::string> prefix = {"setpriv"};
    if (::geteuid() == 0) {
        prefix.insert(prefix.end(), {"--reuid=65534", "--regid=65534", "--clear-groups", "--bounding-set=-all"});
    }
    prefix.insert(prefix.end(), {"--inh-caps=-all", "--no-new-privs", "--"});
    // Check, with the very same words, that nothing is left that could grant
    // port access: no effective, permitted or ambient capability.
    std::vector<std::string> check(prefix.begin() + 1, prefix.end());
    check.insert(check.end(), {"/bin/grep", "-E", "^Cap(Eff|Prm|Amb):"});
    check.push_back("/proc/self/status");
    const outcome seen = run_process("setpriv", check, {}, false);
    const std::string none = "CapPrm:\t0000000000000000\nCapEff:\t0000000000000000\n";
    if (seen.status != 0 || seen.out.find(none) == std::string::npos ||
        seen.out.find("CapAmb:\t0000000000000000\n") == std::string::npos) {
        return {};
    }
    return prefix;
}

traffic& traffic::ioperm()
{
    events_.push_back({sim::event_kind::ioperm, 0x300, 1, 32});
    return *this;
}

traffic& traffic::out(std::uint8_t value, std::uint16_t port)
{
    events_.push_back({sim::event_kind::out, port, value, 0});
    return *this;
}

traffic& traffic::in(std::uint16_t port, std::uint8_t value)
{
    events_.push_back({sim::event_kind::in, port, value, 0});
    return *this;
}

traffic& traffic::sleep(unsigned long us)
{
    events_.push_back({sim::event_kind::sleep, 0, 0, us});
    return *this;
}

traffic& traffic::poll(unsigned long delay, std::uint8_t status)
{
    return sleep(delay).in(smc::SMC_CMD_PORT, status);
}

traffic& traffic::resent(std::uint8_t value, std::uint16_t port)
{
    return sleep(smc::SMC_RETRY_WAIT).out(value, port);
}

traffic& traffic::sent(std::uint8_t value, std::uint16_t port, std::uint8_t status)
{
    return out(value, port).poll(smc::SMC_MIN_WAIT, status);
}

traffic& traffic::opening(std::uint8_t command, const char* key, std::uint8_t length)
{
    sent(command, smc::SMC_CMD_PORT);
    for (int i = 0; i < 4; ++i) {
        sent(static_cast<std::uint8_t>(key[i]), smc::SMC_DATA_PORT);
    }
    return sent(length, smc::SMC_DATA_PORT);
}

traffic& traffic::handed(std::uint8_t value)
{
    return poll(smc::SMC_MIN_WAIT, smc::SMC_STATUS_DATA_READY).in(smc::SMC_DATA_PORT, value);
}

traffic& traffic::handed(std::initializer_list<std::uint8_t> values)
{
    for (const std::uint8_t value : values) {
        handed(value);
    }
    return *this;
}

std::string recorded()
{
    return sim::format_trace(sim::trace());
}

int port_writes()
{
    int count = 0;
    for (const sim::event& e : sim::trace()) {
        count += e.kind == sim::event_kind::out ? 1 : 0;
    }
    return count;
}

} // namespace test
