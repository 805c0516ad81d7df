// Changes to the record table in memory; nothing is written until a save.
#include <cstring>

#include "hosts_internal.h"

QH_EXPORT int QH_CALL hosts_add(const char *ip, const char *name, const char *comment) noexcept {
    clear_err();
    if (ip == nullptr || ip[0] == '\0') {
        set_err("ip is NULL or empty");
        return -1;
    }
    if (!valid_ip(ip)) {
        set_err("invalid ip: '%s'", ip);
        return -1;
    }
    if (name == nullptr || name[0] == '\0') {
        set_err("name is NULL or empty");
        return -1;
    }
    if (!valid_name(name)) {
        set_err("invalid name: '%s'", name);
        return -1;
    }
    bool has_comment = comment != nullptr && comment[0] != '\0';
    if (has_comment && std::strlen(comment) > k_comment_size - 1) {
        set_err("comment too long");
        return -1;
    }
    // A line break would make the saved record two lines, the second one
    // read back as a line of its own: refuse it rather than plant entries.
    if (has_comment && std::strpbrk(comment, "\r\n") != nullptr) {
        set_err("comment contains a line break");
        return -1;
    }
    if (add_record(ip, name, 1, has_comment ? comment : "", has_comment) < 0) {
        set_err("out of memory");
        return -1;
    }
    return s_rec_count - 1;
}

QH_EXPORT int QH_CALL hosts_set_enabled(int index, int enabled) noexcept {
    clear_err();
    if (!check_index(index))
        return -1;
    s_recs[index].enabled = enabled != 0 ? 1 : 0;
    return 1;
}

QH_EXPORT int QH_CALL hosts_remove(int index) noexcept {
    clear_err();
    if (!check_index(index))
        return -1;
    remove_record(index);
    return 1;
}
