// Load, list, edit and save on generated ad-block style hosts files.
//
// Sizes default to 150,000 and 1,000,000 records; --qh_records=N[,N...]
// (taken out before Google Benchmark reads the command line) chooses others,
// such as the tiny one of the smoke test. Every file lives in a fresh
// folder under $TMPDIR (or /tmp) that is removed at the end. The program
// exits non-zero when any benchmark hit a library failure or a wrong count.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "generate.h"
#include "hosts_internal.h"

namespace {

bool g_failed = false;

void fail(benchmark::State &state, const std::string &message) {
    g_failed = true;
    state.SkipWithError(message.c_str());
}

std::string library_error(const char *what) {
    return std::string(what) + ": " + hosts_last_error();
}

// Lets every benchmark report its own peak instead of the largest so far.
// Needs Linux 4.0 or later; without it the peak is the process's.
void reset_peak_rss() {
    if (std::FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

double peak_rss_bytes() {
    if (std::FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        long kib = -1;
        while (kib < 0 && std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "VmHWM:", 6) == 0)
                kib = std::strtol(line + 6, nullptr, 10);
        }
        std::fclose(f);
        if (kib >= 0)
            return 1024.0 * static_cast<double>(kib);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return 1024.0 * static_cast<double>(usage.ru_maxrss);
}

// What the library holds for a loaded file: the record array at its full
// capacity, the passthrough pointer array and each passthrough copy.
double table_bytes() {
    std::size_t bytes = static_cast<std::size_t>(s_rec_cap) * sizeof(host_record) +
                        static_cast<std::size_t>(s_pass_cap) * sizeof(char *);
    for (int i = 0; i < s_pass_count; ++i)
        bytes += std::strlen(s_pass[i]) + 1;
    return static_cast<double>(bytes);
}

long long file_size(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

struct hosts_case {
    int records;
    std::string path;          // the generated file; never written by a benchmark
    std::string saved;         // where the save benchmark writes
    std::string saved_loaded;  // a copy that is loaded and saved back
    long long size;
};

// Starts each benchmark from an empty table and a fresh peak mark.
void start(const hosts_case &c) {
    reset_lists();
    reset_peak_rss();
    hosts_set_path(c.path.c_str());
}

bool load(benchmark::State &state, const hosts_case &c) {
    if (hosts_load() != 1) {
        fail(state, library_error("hosts_load"));
        return false;
    }
    if (hosts_count() != c.records) {
        fail(state, "loaded " + std::to_string(hosts_count()) +
                        " records from a file generated with " + std::to_string(c.records));
        return false;
    }
    return true;
}

void report_memory(benchmark::State &state) {
    const double records = hosts_count();
    state.counters["records"] = records;
    state.counters["table_B/rec"] = records > 0 ? table_bytes() / records : 0;
    state.counters["peakRSS_B/rec"] = records > 0 ? peak_rss_bytes() / records : 0;
}

void bm_load(benchmark::State &state, const hosts_case &c) {
    start(c);
    for (auto _ : state) {
        if (!load(state, c))
            return;
    }
    state.SetBytesProcessed(state.iterations() * c.size);
    report_memory(state);
}

void bm_list(benchmark::State &state, const hosts_case &c) {
    start(c);
    for (auto _ : state) {
        if (!load(state, c))
            return;
        std::size_t json_bytes = 0;
        for (int i = 0, n = hosts_count(); i < n; ++i) {
            const char *json = hosts_get(i);
            if (*json == '\0') {
                fail(state, library_error("hosts_get"));
                return;
            }
            json_bytes += std::strlen(json);
        }
        benchmark::DoNotOptimize(json_bytes);
    }
    state.SetBytesProcessed(state.iterations() * c.size);
    report_memory(state);
}

// Adds a record and removes one. Removing the record just added is what a
// user's "add, then undo" costs; removing the first one moves every other
// record down, the worst case of the fixed-width table.
void bm_edit(benchmark::State &state, const hosts_case &c, bool remove_first) {
    start(c);
    if (!load(state, c))
        return;
    for (auto _ : state) {
        const int index = hosts_add("10.11.12.13", "bench-edit.invalid", "added by the benchmark");
        if (index < 0 || hosts_remove(remove_first ? 0 : index) != 1) {
            fail(state, library_error("hosts_add/hosts_remove"));
            return;
        }
    }
    if (hosts_count() != c.records)
        fail(state, "the edits changed the record count");
    state.SetItemsProcessed(state.iterations());
    report_memory(state);
}

void bm_save(benchmark::State &state, const hosts_case &c) {
    start(c);
    if (!load(state, c))
        return;
    hosts_set_path(c.saved.c_str());
    for (auto _ : state) {
        if (hosts_save() != 1) {
            fail(state, library_error("hosts_save"));
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * file_size(c.saved));
    report_memory(state);
}

// Saves back to the file that was loaded, as an editor does: each save
// first checks that the file still holds what the last load or save left.
void bm_save_loaded(benchmark::State &state, const hosts_case &c) {
    start(c);
    std::error_code error;
    std::filesystem::copy_file(c.path, c.saved_loaded,
                               std::filesystem::copy_options::overwrite_existing, error);
    hosts_set_path(c.saved_loaded.c_str());
    if (error || !load(state, c))
        return;
    for (auto _ : state) {
        if (hosts_save() != 1) {
            fail(state, library_error("hosts_save"));
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * file_size(c.saved_loaded));
    report_memory(state);
}

// About a second and a half of loads per benchmark, with at least three
// iterations for a stable mean and no more than twenty for tiny files.
benchmark::IterationCount iterations_for(int records) {
    const long long wanted = 1500000LL / (records > 0 ? records : 1);
    return wanted < 3 ? 3 : wanted > 20 ? 20 : wanted;
}

void register_case(const hosts_case &c) {
    const std::string size = "/" + std::to_string(c.records);
    const benchmark::IterationCount n = iterations_for(c.records);
    benchmark::RegisterBenchmark(("load" + size).c_str(), bm_load, c)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(n);
    benchmark::RegisterBenchmark(("list" + size).c_str(), bm_list, c)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(n);
    benchmark::RegisterBenchmark(("edit_last" + size).c_str(), bm_edit, c, false)
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.2);
    benchmark::RegisterBenchmark(("edit_first" + size).c_str(), bm_edit, c, true)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(n);
    benchmark::RegisterBenchmark(("save" + size).c_str(), bm_save, c)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(n);
    benchmark::RegisterBenchmark(("save_loaded" + size).c_str(), bm_save_loaded, c)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(n);
}

bool parse_records(const std::string &text, std::vector<int> &sizes) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        char *end = nullptr;
        const long value = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || value < 1 || value > 100000000)
            return false;
        sizes.push_back(static_cast<int>(value));
        at = comma + 1;
    }
    return true;
}

// Takes --qh_records out of argv; Google Benchmark rejects flags it does not know.
bool take_own_flags(int &argc, char **argv, std::vector<int> &sizes) {
    const char prefix[] = "--qh_records=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix, sizeof prefix - 1) == 0) {
            sizes.clear();
            if (!parse_records(argv[i] + sizeof prefix - 1, sizes)) {
                std::fprintf(stderr, "qh_bench: --qh_records wants N[,N...] with each N >= 1\n");
                return false;
            }
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

std::string make_work_dir() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qh-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<int> sizes = {150000, 1000000};
    if (!take_own_flags(argc, argv, sizes))
        return 2;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;

    const std::string dir = make_work_dir();
    if (dir.empty()) {
        std::perror("qh_bench: cannot create a temporary folder");
        return 1;
    }
    int status = 0;
    for (int records : sizes) {
        hosts_case c;
        c.records = records;
        c.path = dir + "/hosts-" + std::to_string(records);
        c.saved = c.path + ".saved";
        c.saved_loaded = c.path + ".loaded";
        std::string error;
        if (!qh_bench::write_hosts_file(c.path, records, qh_bench::kDefaultSeed, error)) {
            std::fprintf(stderr, "qh_bench: %s\n", error.c_str());
            status = 1;
            break;
        }
        c.size = file_size(c.path);
        register_case(c);
    }
    if (status == 0) {
        benchmark::RunSpecifiedBenchmarks();
        status = g_failed ? 1 : 0;
    }
    benchmark::Shutdown();
    reset_lists();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
