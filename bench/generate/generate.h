// Generated hosts files for the benchmark and its runner: one generator, so
// that every measurement of the project runs on the same kind of file.
#ifndef QH_BENCH_GENERATE_H
#define QH_BENCH_GENERATE_H

#include <cstdint>
#include <string>

namespace qh_bench {

constexpr std::uint64_t kDefaultSeed = 0x71686f737473ULL;

// Writes a hosts file in the style of an ad-block list to `path`: a header of
// comment lines, a few local entries, then mostly "0.0.0.0 NAME" lines mixed
// with inline comments, commented-out entries, lines with several names,
// section comments, lines the library keeps as they are, and some CR LF line
// ends. The file loads as exactly `records` records (one per name, enabled
// or disabled); the same `records` and `seed` always give the same bytes.
// Returns false with `error` set when the file cannot be written.
bool write_hosts_file(const std::string &path, int records, std::uint64_t seed, std::string &error);

}  // namespace qh_bench

#endif
