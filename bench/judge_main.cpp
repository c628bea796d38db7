// The benchmark program's main: runs the benchmarks as Google Benchmark's own
// main would, then prints each goal of the performance table beside its
// reference, both taken from this run (medians when repeated), and whether
// the goal is met. Times are CPU time: on a shared machine wall time also
// counts the other programs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Figure {
    double seconds = 0;  // per iteration
    std::map<std::string, double> counters;
    bool median = false;
};

// Keeps each benchmark's median (or its only run) while printing as usual.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            Figure& figure = m_figures[run.run_name.function_name + Args(run.run_name.args)];
            if (figure.median && !median) continue;
            figure.median = median;
            figure.seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& counter : run.counters) figure.counters[counter.first] = counter.second.value;
        }
    }

    const Figure* Find(const std::string& name) const {
        const auto found = m_figures.find(name);
        return found == m_figures.end() ? nullptr : &found->second;
    }

private:
    static std::string Args(const std::string& args) { return args.empty() ? "" : "/" + args; }

    std::map<std::string, Figure> m_figures;
};

// A goal: the sum of `ours` against the sum of `reference`, as a time ratio
// (ours / reference, lower is better) or a speed ratio (reference / ours).
struct Goal {
    const char* what;
    std::vector<const char*> ours;
    std::vector<const char*> reference;
    const char* referenceName;
    bool speed;       // false: time ratio, at most `limit`; true: speed ratio, at least `limit`
    double limit;
};

const std::vector<Goal>& Goals() {
    static const std::vector<Goal> goals = {
        // The list allocates a node per element, as its layout requires: against a parse into a fresh message
        // both sides allocate per element; against a reused one only the codec does.
        {"ChallengeConnect2 encode + decode (2 texts, a version, 16 modules)",
         {"BM_Headline_Encode", "BM_Headline_Decode"},
         {"BM_Headline_ProtobufSerialize", "BM_Headline_ProtobufParseFresh"},
         "protobuf serialize + parse, fresh message", false, 0.5},
        {"ChallengeConnect2 encode + decode (the same)",
         {"BM_Headline_Encode", "BM_Headline_Decode"},
         {"BM_Headline_ProtobufSerialize", "BM_Headline_ProtobufParse"},
         "protobuf serialize + parse, message reused", false, 1.5},
        {"ComputeCRC(path), warm, 256 MiB cached file",
         {"BM_ComputeCRCFileRepeated"}, {"BM_StreamingRead/0"}, "plain 1 MiB read loop", true, 0.6},
        {"ComputeCRC(path), first call (fresh scratch block)",
         {"BM_ComputeCRCFileFirstCall"}, {"BM_StreamingRead/0"}, "plain 1 MiB read loop", true, 0.6},
        {"Adler-32 in memory, 64 KiB, ComputeCRC (libdeflate where built in)",
         {"BM_ComputeCRCMemory/65536"}, {"BM_Memcpy/65536"}, "memcpy", true, 0.8},
        {"Adler-32 in memory, 64 KiB, the library's vector code (the Windows DLLs' path)",
         {"BM_Adler32Vector/65536"}, {"BM_Memcpy/65536"}, "memcpy", true, 0.5},
        {"Adler-32 in memory, 64 KiB, zlib alone (the DLLs before)",
         {"BM_Adler32Zlib/65536"}, {"BM_Memcpy/65536"}, "memcpy", true, 0.0},
        {"GetFileCRC with a marker, 1 KiB file",
         {"BM_GetFileCRCWithMarker/large:0"}, {"BM_OpenRead4Close"}, "open + read 4 bytes + close", false, 2.0},
        {"GetFileCRC with a marker, 256 MiB file",
         {"BM_GetFileCRCWithMarker/large:1"}, {"BM_GetFileCRCWithMarker/large:0"}, "the same with a 1 KiB file",
         false, 1.5},
    };
    return goals;
}

std::string Time(double seconds) {
    char text[32];
    if (seconds >= 1e-3)
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1e3);
    else if (seconds >= 1e-6)
        std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
    return text;
}

bool Sum(const CollectingReporter& reporter, const std::vector<const char*>& names, double& seconds) {
    seconds = 0;
    for (const char* name : names) {
        const Figure* figure = reporter.Find(name);
        if (figure == nullptr) return false;
        seconds += figure->seconds;
    }
    return true;
}

void PrintGoals(const CollectingReporter& reporter) {
    std::printf("\n| figure | ktutils | reference, same run | ratio | goal | met |\n|---|---|---|---|---|---|\n");
    for (const Goal& goal : Goals()) {
        double ours = 0, reference = 0;
        if (!Sum(reporter, goal.ours, ours) || !Sum(reporter, goal.reference, reference) || ours <= 0 ||
            reference <= 0) {
            std::printf("| %s | not run | | | | |\n", goal.what);
            continue;
        }
        const double ratio = goal.speed ? reference / ours : ours / reference;
        const bool met = goal.speed ? ratio >= goal.limit : ratio <= goal.limit;
        char limit[48];
        if (goal.limit <= 0)
            std::snprintf(limit, sizeof limit, "(for comparison)");
        else
            std::snprintf(limit, sizeof limit, "%s %.2fx", goal.speed ? ">=" : "<=", goal.limit);
        std::printf("| %s | %s | %s: %s | %.2fx %s | %s | %s |\n", goal.what, Time(ours).c_str(),
                    goal.referenceName, Time(reference).c_str(), ratio, goal.speed ? "the speed" : "the time",
                    limit, goal.limit <= 0 ? "" : met ? "met" : "NOT met");
    }
    if (const Figure* resident = reporter.Find("BM_ComputeCRCResidentAfter")) {
        const auto found = resident->counters.find("resident_growth_MiB");
        if (found != resident->counters.end())
            std::printf("| scratch memory resident after ComputeCRC of a 256 MiB file | %.1f MiB | before: 256 MiB "
                        "| | <= 16 MiB | %s |\n",
                        found->second, found->second <= 16.0 ? "met" : "NOT met");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintGoals(reporter);
    benchmark::Shutdown();
    return 0;
}
