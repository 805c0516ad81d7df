// The entry store: one contiguous array of fixed-width records, and an array
// of heap copies of the lines that are not records. Both grow 16, 32, 64...
// The tables and their counts change only here.
#include <climits>
#include <cstring>

#include "hosts_internal.h"

namespace {

// Makes room for one more element; on failure leaves everything as it was.
bool grow(void **array, int count, int *cap, std::size_t elem_size) noexcept {
    if (count < *cap)
        return true;
    if (*cap > INT_MAX / 2)
        return false;
    int new_cap = *cap == 0 ? 16 : *cap * 2;
    void *bigger = resize_memory(*array, static_cast<std::size_t>(*cap) * elem_size,
                                 static_cast<std::size_t>(new_cap) * elem_size);
    if (bigger == nullptr)
        return false;
    *array = bigger;
    *cap = new_cap;
    return true;
}

void copy_text(char *dst, text_span src, std::size_t room) noexcept {
    std::memcpy(dst, src.at, src.len < room - 1 ? src.len : room - 1);
}

text_span span_of(const char *text, std::size_t room) noexcept {
    return {text, strnlen(text, room - 1)};
}

}  // namespace

int add_record(text_span ip, text_span name, int enabled, text_span comment) noexcept {
    void *array = s_recs;
    const int old_cap = s_rec_cap;
    if (!grow(&array, s_rec_count, &s_rec_cap, sizeof(host_record)))
        return -1;
    s_recs = static_cast<host_record *>(array);
    if (s_rec_cap != old_cap &&
        !added_memory_is_zero(static_cast<std::size_t>(s_rec_cap) * sizeof(host_record)))
        s_rec_used = s_rec_cap;
    host_record *rec = &s_recs[s_rec_count];
    // Slots known to be zero are left untouched beyond the texts: a load of
    // a big file writes about a tenth of each wide record, not all of it.
    if (s_rec_count < s_rec_used)
        std::memset(rec, 0, sizeof *rec);
    else
        s_rec_used = s_rec_count + 1;
    copy_text(rec->ip, ip, sizeof rec->ip);
    copy_text(rec->name, name, sizeof rec->name);
    rec->enabled = enabled;
    if (comment.len > 0) {
        copy_text(rec->comment, comment, sizeof rec->comment);
        rec->has_comment = 1;
    }
    ++s_rec_count;
    return 1;
}

int add_record(const char *ip, const char *name, int enabled, const char *comment,
               int has_comment) noexcept {
    const text_span no_comment{"", 0};
    return add_record(span_of(ip, k_ip_size), span_of(name, k_name_size), enabled,
                      has_comment ? span_of(comment, k_comment_size) : no_comment);
}

int add_passthrough(const char *line) noexcept {
    void *array = s_pass;
    if (!grow(&array, s_pass_count, &s_pass_cap, sizeof(char *)))
        return -1;
    s_pass = static_cast<char **>(array);
    std::size_t size = std::strlen(line) + 1;
    char *copy = static_cast<char *>(resize_memory(nullptr, 0, size));
    if (copy == nullptr)
        return -1;
    std::memcpy(copy, line, size);
    s_pass[s_pass_count++] = copy;
    return 1;
}

bool check_index(int index) noexcept {
    if (index >= 0 && index < s_rec_count)
        return true;
    set_err("index %d out of range (count %d)", index, s_rec_count);
    return false;
}

void remove_record(int index) noexcept {
    std::memmove(&s_recs[index], &s_recs[index + 1],
                 static_cast<std::size_t>(s_rec_count - index - 1) * sizeof(host_record));
    --s_rec_count;
}

void reset_lists() noexcept {
    for (int i = 0; i < s_pass_count; ++i)
        release_memory(s_pass[i], std::strlen(s_pass[i]) + 1);
    release_memory(s_pass, static_cast<std::size_t>(s_pass_cap) * sizeof(char *));
    release_memory(s_recs, static_cast<std::size_t>(s_rec_cap) * sizeof(host_record));
    s_pass = nullptr;
    s_recs = nullptr;
    s_pass_count = s_pass_cap = 0;
    s_rec_count = s_rec_cap = s_rec_used = 0;
}

QH_EXPORT int QH_CALL hosts_count(void) noexcept {
    return s_rec_count;
}
