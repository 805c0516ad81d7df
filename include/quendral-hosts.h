/*
 * quendral-hosts: read, edit and safely rewrite the machine's hosts file.
 *
 * All functions work on one hosts file held in module-global state and must
 * be called from one thread at a time. Results: 1 for success and -1 for
 * failure unless stated otherwise; after a failure, hosts_last_error() tells
 * why. Returned texts belong to the library and are never freed by the caller.
 */
#ifndef QUENDRAL_HOSTS_H
#define QUENDRAL_HOSTS_H

#if defined(_WIN32)
#define QH_CALL __stdcall
#if defined(QUENDRAL_HOSTS_BUILD) || defined(QUENDRAL_HOSTS_STATIC)
#define QH_API
#else
#define QH_API __declspec(dllimport)
#endif
#else
#define QH_CALL
#if defined(QUENDRAL_HOSTS_BUILD)
#define QH_API __attribute__((visibility("default")))
#else
#define QH_API
#endif
#endif

#if defined(__cplusplus)
#define QH_NOEXCEPT noexcept
extern "C" {
#else
#define QH_NOEXCEPT
#endif

/* Chooses the hosts file used by the next hosts_load/hosts_save. A null or
 * empty path selects the system's default hosts file. Returns 1, or -1 with
 * "path too long" when path has more than 8191 characters (the previous
 * choice then stays in effect). */
QH_API int QH_CALL hosts_set_path(const char *path) QH_NOEXCEPT;

/* Returns the library version, "1.0.0". Never fails. */
QH_API const char *QH_CALL hosts_version(void) QH_NOEXCEPT;

/* Returns the error text of the most recent call that failed, or an empty
 * text when that call succeeded. Never a null pointer. */
QH_API const char *QH_CALL hosts_last_error(void) QH_NOEXCEPT;

/* Returns the number of records held in memory. Never fails. */
QH_API int QH_CALL hosts_count(void) QH_NOEXCEPT;

/* Reads the hosts file into memory, replacing what was held. A missing file
 * loads as empty and succeeds. Returns 1, or -1 with the reason (the tables
 * are then empty). */
QH_API int QH_CALL hosts_load(void) QH_NOEXCEPT;

/* Returns record `index` as one line of JSON:
 * {"ip":"...","name":"...","enabled":0|1,"comment":"..."}. The text stays
 * valid until the next successful hosts_get. On a bad index returns an empty
 * text and sets "index N out of range (count M)". */
QH_API const char *QH_CALL hosts_get(int index) QH_NOEXCEPT;

/* Appends an enabled record; comment may be null or empty for none.
 * Returns the new record's index, or -1 with the reason (invalid address or
 * name, comment too long or holding a line break, out of memory). */
QH_API int QH_CALL hosts_add(const char *ip, const char *name, const char *comment) QH_NOEXCEPT;

/* Enables (enabled != 0) or disables (enabled == 0) record `index`.
 * Returns 1, or -1 with "index N out of range (count M)". */
QH_API int QH_CALL hosts_set_enabled(int index, int enabled) QH_NOEXCEPT;

/* Removes record `index`; later records move down by one. Returns 1, or -1
 * with "index N out of range (count M)". */
QH_API int QH_CALL hosts_remove(int index) QH_NOEXCEPT;

/* Writes all records, then all other lines, to "<path>.tmp" and puts that
 * file in place of the hosts file in one step. Returns 1, or -1 with the
 * reason; on failure the hosts file is unchanged and the temporary file is
 * gone. */
QH_API int QH_CALL hosts_save(void) QH_NOEXCEPT;

/* Flushes the system's DNS resolver cache, falling back to the system
 * command when the library call is missing or fails. Returns 1 when either
 * way worked (a non-empty hosts_last_error() then names the failed first
 * attempt), or -1 with the reason. */
QH_API int QH_CALL hosts_flush_dns(void) QH_NOEXCEPT;

#if defined(__cplusplus)
}
#endif

#endif /* QUENDRAL_HOSTS_H */
