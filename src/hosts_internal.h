// Internal interface of the library: state, store and helpers shared by the
// source files, and reachable from the unit tests. Nothing here is exported.
#ifndef QUENDRAL_HOSTS_INTERNAL_H
#define QUENDRAL_HOSTS_INTERNAL_H

#include <cstddef>

#include "platform.h"
#include "quendral-hosts.h"

#define QH_EXPORT extern "C" QH_API

// ---- state and errors ------------------------------------------------------

// Sizes of the texts the library keeps, each with its terminating NUL. The
// path's is k_path_size, beside the platform layer that opens paths.
constexpr std::size_t k_err_size = 512;
constexpr std::size_t k_ip_size = 64;
constexpr std::size_t k_name_size = 256;
constexpr std::size_t k_longest_name = 253;  // the longest name DNS allows
constexpr std::size_t k_comment_size = 1024;
constexpr std::size_t k_json_size = 8192;

extern char s_err[k_err_size];
extern char s_path[k_path_size];

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void set_err(const char *fmt, ...) noexcept;
void clear_err() noexcept;
const char *path_in_use() noexcept;

// ---- entry store -----------------------------------------------------------

struct host_record {
    char ip[k_ip_size];
    char name[k_name_size];
    int enabled;
    char comment[k_comment_size];
    int has_comment;
};

// A stretch of text that need not end in NUL.
struct text_span {
    const char *at;
    std::size_t len;
};

// The tables and their counts, defined with the rest of the library's state;
// only the store's functions change them.
extern host_record *s_recs;
extern int s_rec_count;
extern int s_rec_cap;
extern char **s_pass;
extern int s_pass_count;
extern int s_pass_cap;
// Record slots from this index on are known to be zero: they came from the
// system and have held no record since.
extern int s_rec_used;

int add_record(const char *ip, const char *name, int enabled, const char *comment,
               int has_comment) noexcept;
// The same from spans; an empty comment is no comment. Texts too long for
// their field are cut.
int add_record(text_span ip, text_span name, int enabled, text_span comment) noexcept;
int add_passthrough(const char *line) noexcept;
// True for an index of a record; otherwise sets the error text and is false.
bool check_index(int index) noexcept;
// Removes the record at a checked index; the later ones move up by one.
void remove_record(int index) noexcept;
void reset_lists() noexcept;

// prefetch_later_record asks for the fields every reader looks at of the
// record a few places after `index`, for code that walks the table in order:
// the records are too wide for the processor to foresee, and waiting for
// each from memory costs more than the work done with it (a listing of
// 150,000 records took three times as long without). It is forced inline
// because GCC takes a call that only prefetches for one without effect and
// drops it.
#if defined(__GNUC__)
__attribute__((always_inline)) inline void prefetch_later_record(int index) noexcept {
    constexpr int ahead = 4;
    if (index + ahead < s_rec_count) {
        const host_record &later = s_recs[index + ahead];
        __builtin_prefetch(later.ip);
        __builtin_prefetch(later.name);
        __builtin_prefetch(&later.enabled);
        __builtin_prefetch(&later.has_comment);
    }
}
#else
inline void prefetch_later_record(int) noexcept {}
#endif

// Every allocation and release of the library goes through these two, which
// call the memory table of the hooks (hooks.h). resize_memory grows `block`
// (nullptr: a new one) from `old_size` to `new_size` bytes keeping its
// contents, or returns nullptr and leaves the block as it was;
// release_memory gives back a block of `size` bytes (nullptr: nothing).
void *resize_memory(void *block, std::size_t old_size, std::size_t new_size) noexcept;
void release_memory(void *block, std::size_t size) noexcept;
// Whether the bytes added to a block grown to `size` come zero from the
// system (large blocks) rather than as the heap leaves them.
bool added_memory_is_zero(std::size_t size) noexcept;

// ---- validation and loading ------------------------------------------------

int valid_ip(const char *s) noexcept;
int valid_name(const char *s) noexcept;
// The same checks on a span.
bool valid_ip_span(text_span s) noexcept;
bool valid_name_span(text_span s) noexcept;
// name_bytes_end returns the first byte from `s` on that a host name may not
// hold, or `end`.
const char *name_bytes_end(const char *s, const char *end) noexcept;

// ---- JSON view -------------------------------------------------------------

void json_escape(const char *src, char *dst, std::size_t size) noexcept;
// The text hosts_get hands out last.
extern char s_json[k_json_size];

#endif
