// Whole-process cost of smckey-sim against what the protocol itself costs.
//
// - read: `smckey-sim DEMO` on the real clock with a device that answers at
//   once, against smckey-floor, a static program that only makes the same
//   twenty 16 us sleeps. Goal: within 1.25 times the floor.
// - failure: a device that never takes the first byte, against the fixed
//   schedule of that failure: thirteen polls (16 to 65536 us) and twelve
//   256 us pauses, 134,128 us. Goal: within 1% of it.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double FAILURE_SCHEDULE_US = 134128.0;

// Runs a program with its output thrown away; returns its exit status.
int spawn(std::vector<std::string> args, std::vector<std::string> env)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        waitpid(pid, &status, 0);
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

void run_program(benchmark::State& state, const std::vector<std::string>& args, const std::vector<std::string>& env,
                 int expected_status)
{
    for (auto _ : state) {
        if (spawn(args, env) != expected_status) {
            state.SkipWithError("unexpected exit status");
            break;
        }
    }
}

void floor_read(benchmark::State& state)
{
    run_program(state, {SMCKEY_FLOOR_BIN}, {}, 0);
}

void sim_read(benchmark::State& state)
{
    run_program(state, {SMCKEY_SIM_BIN, "DEMO"}, {}, 0);
}

void sim_never_answers(benchmark::State& state)
{
    run_program(state, {SMCKEY_SIM_BIN, "DEMO"}, {"SMCKEY_SIM_FAULTS=0.0=refuse"}, 253);
}

BENCHMARK(floor_read)->Name("floor: 20 x usleep(16)")->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(3.0);
BENCHMARK(sim_read)->Name("read: smckey-sim DEMO")->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(3.0);
BENCHMARK(sim_never_answers)
    ->Name("failure: device never answers")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(40);

// Prints as usual and keeps each benchmark's mean wall time per run.
class ratio_reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                mean_us[run.run_name.function_name] =
                    run.real_accumulated_time * 1e6 / static_cast<double>(run.iterations);
            }
        }
    }
    std::map<std::string, double> mean_us;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& m = reporter.mean_us;
    const auto floor = m.find("floor: 20 x usleep(16)");
    const auto read = m.find("read: smckey-sim DEMO");
    const auto failure = m.find("failure: device never answers");
    bool met = true;
    if (floor != m.end() && read != m.end()) {
        const double ratio = read->second / floor->second;
        met = met && ratio <= 1.25;
        std::printf("read:    %.0f us against a floor of %.0f us: %.3fx (goal: at most 1.25x)\n", read->second,
                    floor->second, ratio);
    }
    if (failure != m.end()) {
        const double ratio = failure->second / FAILURE_SCHEDULE_US;
        met = met && ratio <= 1.01;
        std::printf("failure: %.0f us against the schedule of %.0f us: %.4fx (goal: at most 1.01x)\n", failure->second,
                    FAILURE_SCHEDULE_US, ratio);
    }
    std::printf("%s\n", met ? "both goals met" : "a goal was missed");
    return met ? 0 : 1;
}
