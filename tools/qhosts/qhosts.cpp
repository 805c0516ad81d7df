// qhosts: command-line front end for the quendral-hosts library.
//
// Every edit follows the same path: load the hosts file, change the records
// in memory, then save. The library keeps one global state, so the program
// performs exactly one command per run.

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quendral-hosts.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

const char kUsageText[] =
    "usage: qhosts [--file PATH] [--dry-run] [--flush] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  list [--json] [--enabled|--disabled] [PATTERN]\n"
    "                        show records; PATTERN keeps those whose address\n"
    "                        or name contains it (ignoring ASCII case)\n"
    "  add IP NAME [COMMENT] add an enabled record and print its index\n"
    "  enable TARGET...      enable records\n"
    "  disable TARGET...     disable records (they stay as comment lines)\n"
    "  remove TARGET...      delete records\n"
    "  flush                 flush the DNS resolver cache\n"
    "\n"
    "TARGET is a record index as shown by list, or a host name selecting\n"
    "every record with that name.\n"
    "\n"
    "options:\n"
    "  --file PATH   work on PATH instead of the system hosts file\n"
    "  --dry-run     print the file an edit would write and change nothing\n"
    "  --flush       flush the DNS resolver cache after an edit is saved\n"
    "  --help        show this text\n"
    "  --version     show the library version\n"
    "  --            end of options; later words are taken literally\n";

void report(const std::string &message) {
    std::fprintf(stderr, "qhosts: %s\n", message.c_str());
}

int fail_with_library_error() {
    report(hosts_last_error());
    return kFailed;
}

int usage_error(const std::string &message) {
    report(message);
    std::fputs(kUsageText, stderr);
    return kUsage;
}

// A command-line word left over after the global options are taken out.
// Words after "--" are literal even when they start with a dash.
struct Word {
    std::string text;
    bool is_option;
};

struct Options {
    const char *file = nullptr;
    bool dry_run = false;
    bool flush = false;
    bool help = false;
    bool version = false;
    std::vector<Word> words;
};

// Global options are accepted anywhere before "--" so that, for example,
// "qhosts disable web.lan --dry-run" works as well as the prefix form.
bool parse_options(int argc, char **argv, Options &opts, std::string &error) {
    bool literal = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (literal || arg.empty() || arg[0] != '-') {
            opts.words.push_back({arg, false});
        } else if (arg == "--") {
            literal = true;
        } else if (arg == "--file") {
            if (i + 1 >= argc) {
                error = "--file needs a path";
                return false;
            }
            opts.file = argv[++i];
        } else if (arg.compare(0, 7, "--file=") == 0) {
            opts.file = argv[i] + 7;
        } else if (arg == "--dry-run") {
            opts.dry_run = true;
        } else if (arg == "--flush") {
            opts.flush = true;
        } else if (arg == "--help" || arg == "-h") {
            opts.help = true;
        } else if (arg == "--version") {
            opts.version = true;
        } else {
            opts.words.push_back({arg, true});
        }
    }
    // The library reads an empty path as "the system hosts file"; an empty
    // --file is far more likely an unset script variable than that request.
    if (opts.file && *opts.file == '\0') {
        error = "--file needs a non-empty path";
        return false;
    }
    return true;
}

struct Record {
    int index = 0;
    std::string ip;
    std::string name;
    std::string comment;
    bool enabled = false;
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads one JSON string, understanding only the escapes the library emits:
// \" \\ \n \r \t and \u00XX for other control bytes. Anything else means the
// text did not come from a matching library, so it is rejected, not guessed.
bool parse_string(const char *&p, std::string &out) {
    if (*p != '"')
        return false;
    ++p;
    out.clear();
    while (*p != '"') {
        if (*p == '\0')
            return false;
        if (*p != '\\') {
            out += *p++;
            continue;
        }
        ++p;
        switch (*p) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                if (p[1] != '0' || p[2] != '0')
                    return false;
                const int high = hex_digit(p[3]);
                if (high < 0)
                    return false;
                const int low = hex_digit(p[4]);
                if (low < 0)
                    return false;
                out += static_cast<char>(high * 16 + low);
                p += 4;
                break;
            }
            default:
                return false;
        }
        ++p;
    }
    ++p;
    return true;
}

// Parses {"ip":"...","name":"...","enabled":0|1,"comment":"..."}; every
// field must appear exactly once and nothing may follow the object.
bool parse_record(const char *p, Record &rec) {
    enum { kIp = 1, kName = 2, kEnabled = 4, kComment = 8, kAll = 15 };
    int seen = 0;
    if (*p++ != '{')
        return false;
    for (;;) {
        std::string key;
        if (!parse_string(p, key) || *p++ != ':')
            return false;
        int field = 0;
        if (key == "enabled") {
            if (*p != '0' && *p != '1')
                return false;
            rec.enabled = *p++ == '1';
            field = kEnabled;
        } else {
            std::string value;
            if (!parse_string(p, value))
                return false;
            if (key == "ip") {
                rec.ip = value;
                field = kIp;
            } else if (key == "name") {
                rec.name = value;
                field = kName;
            } else if (key == "comment") {
                rec.comment = value;
                field = kComment;
            } else {
                return false;
            }
        }
        if (seen & field)
            return false;
        seen |= field;
        if (*p == ',') {
            ++p;
        } else if (*p == '}') {
            return p[1] == '\0' && seen == kAll;
        } else {
            return false;
        }
    }
}

// Fetches record `index`; `json` receives the library's text unchanged.
bool fetch_record(int index, Record &rec, std::string &json) {
    const char *text = hosts_get(index);
    if (*text == '\0') {
        report(hosts_last_error());
        return false;
    }
    json = text;
    rec = Record();
    rec.index = index;
    if (!parse_record(text, rec)) {
        report("unexpected record text from the library: " + json);
        return false;
    }
    return true;
}

std::string ascii_lower(std::string text) {
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Host names are case-insensitive, so names and patterns compare that way.
bool same_name(const std::string &a, const std::string &b) {
    return ascii_lower(a) == ascii_lower(b);
}

bool contains(const std::string &haystack, const std::string &lowered_needle) {
    return ascii_lower(haystack).find(lowered_needle) != std::string::npos;
}

// Width on a terminal: UTF-8 continuation bytes take no column of their own.
std::size_t display_width(const std::string &text) {
    std::size_t width = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            ++width;
    }
    return width;
}

// Control bytes would break a table row apart or move the cursor, so the
// table shows them as '?'; --json keeps them, escaped.
std::string printable(const std::string &text) {
    std::string out = text;
    for (char &c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return out;
}

void print_table(const std::vector<Record> &records) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"INDEX", "STATE", "ADDRESS", "NAME", "COMMENT"});
    for (const Record &rec : records) {
        rows.push_back({std::to_string(rec.index), rec.enabled ? "on" : "off", printable(rec.ip),
                        printable(rec.name), printable(rec.comment)});
    }
    const std::size_t columns = rows.front().size();
    std::vector<std::size_t> widths(columns, 0);
    for (const auto &row : rows) {
        for (std::size_t c = 0; c < columns; ++c) {
            widths[c] = std::max(widths[c], display_width(row[c]));
        }
    }
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t c = 0; c < columns; ++c) {
            line += row[c];
            if (c + 1 < columns) {
                line.append(widths[c] - display_width(row[c]) + 2, ' ');
            }
        }
        line.erase(line.find_last_not_of(' ') + 1);
        std::printf("%s\n", line.c_str());
    }
}

int cmd_list(const std::vector<Word> &args) {
    bool json = false;
    bool want_enabled = false;
    bool want_disabled = false;
    bool has_pattern = false;
    std::string pattern;
    for (const Word &w : args) {
        if (w.is_option) {
            if (w.text == "--json") {
                json = true;
            } else if (w.text == "--enabled") {
                want_enabled = true;
            } else if (w.text == "--disabled") {
                want_disabled = true;
            } else {
                return usage_error("unknown option for list: " + w.text);
            }
        } else if (has_pattern) {
            return usage_error("list takes at most one PATTERN");
        } else {
            has_pattern = true;
            pattern = ascii_lower(w.text);
        }
    }
    if (want_enabled && want_disabled) {
        return usage_error("--enabled and --disabled exclude each other");
    }
    if (hosts_load() != 1)
        return fail_with_library_error();

    // JSON lines are printed as they come; the table needs every row first
    // to size its columns.
    std::vector<Record> shown;
    const int count = hosts_count();
    for (int i = 0; i < count; ++i) {
        Record rec;
        std::string text;
        if (!fetch_record(i, rec, text))
            return kFailed;
        if (want_enabled && !rec.enabled)
            continue;
        if (want_disabled && rec.enabled)
            continue;
        if (has_pattern && !contains(rec.ip, pattern) && !contains(rec.name, pattern)) {
            continue;
        }
        if (json) {
            std::fputs(text.c_str(), stdout);
            std::fputc('\n', stdout);
        } else {
            shown.push_back(rec);
        }
    }
    if (!json)
        print_table(shown);
    return kOk;
}

bool make_temp_file(std::string &path) {
#if defined(_WIN32)
    char dir[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length > sizeof dir)
        return false;
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(dir, "qhs", 0, name) == 0)
        return false;
    path = name;
#else
    const char *dir = std::getenv("TMPDIR");
    std::string pattern = (dir && *dir) ? dir : "/tmp";
    pattern += "/qhosts-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0)
        return false;
    close(fd);
    path = buffer.data();
#endif
    return true;
}

bool copy_to_stdout(const std::string &path) {
    std::FILE *in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    char buffer[8192];
    bool ok = true;
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (std::fwrite(buffer, 1, n, stdout) != n) {
            ok = false;
            break;
        }
    }
    if (std::ferror(in))
        ok = false;
    std::fclose(in);
    return ok;
}

// The library only writes where the path points, so a dry run saves into a
// fresh temporary file instead of the real one, shows it and deletes it.
int preview_save() {
    std::string temp;
    if (!make_temp_file(temp)) {
        report("cannot create a temporary file for --dry-run");
        return kFailed;
    }
    int status = kOk;
    if (hosts_set_path(temp.c_str()) != 1 || hosts_save() != 1) {
        status = fail_with_library_error();
    } else if (!copy_to_stdout(temp)) {
        report("cannot read back the temporary file " + temp);
        status = kFailed;
    }
    std::remove(temp.c_str());
    return status;
}

// Runs the flush and reports it. After an edit (`after_save`) the plain
// success line is left out so that the edit's own output stays the only
// thing on stdout, and a failure says that the file was saved regardless.
int flush_resolver(bool after_save) {
    if (hosts_flush_dns() != 1) {
        report(std::string(after_save ? "saved, but the DNS flush failed: " : "") +
               hosts_last_error());
        return kFailed;
    }
    const std::string note = hosts_last_error();
    if (!note.empty()) {
        std::fprintf(after_save ? stderr : stdout,
                     "flushed by the fallback command (first attempt failed: %s)\n", note.c_str());
    } else if (!after_save) {
        std::printf("flushed\n");
    }
    return kOk;
}

int finish_edit(const Options &opts) {
    if (opts.dry_run)
        return preview_save();
    if (hosts_save() != 1)
        return fail_with_library_error();
    if (opts.flush)
        return flush_resolver(true);
    return kOk;
}

std::vector<std::string> positional(const std::vector<Word> &args, std::string &bad_option) {
    std::vector<std::string> out;
    for (const Word &w : args) {
        if (w.is_option) {
            bad_option = w.text;
            break;
        }
        out.push_back(w.text);
    }
    return out;
}

int cmd_add(const Options &opts, const std::vector<Word> &args) {
    std::string bad_option;
    const std::vector<std::string> words = positional(args, bad_option);
    if (!bad_option.empty())
        return usage_error("unknown option: " + bad_option);
    if (words.size() < 2 || words.size() > 3) {
        return usage_error("add needs IP NAME [COMMENT]");
    }
    if (hosts_load() != 1)
        return fail_with_library_error();
    const int index = hosts_add(words[0].c_str(), words[1].c_str(),
                                words.size() == 3 ? words[2].c_str() : nullptr);
    if (index < 0)
        return fail_with_library_error();
    const int status = finish_edit(opts);
    if (status == kOk && !opts.dry_run)
        std::printf("%d\n", index);
    return status;
}

bool is_index(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Turns TARGET words into record indices, each at most once, checking them
// all before anything changes.
bool resolve_targets(const std::vector<std::string> &targets, std::vector<int> &indices) {
    const int count = hosts_count();
    std::vector<Record> records;
    bool records_read = false;
    for (const std::string &target : targets) {
        if (is_index(target)) {
            const unsigned long long value = std::strtoull(target.c_str(), nullptr, 10);
            if (value >= static_cast<unsigned long long>(INT_MAX)) {
                report("index " + target + " out of range (count " + std::to_string(count) + ")");
                return false;
            }
            const int index = static_cast<int>(value);
            // hosts_get checks the range and words the error like every other call.
            if (*hosts_get(index) == '\0') {
                report(hosts_last_error());
                return false;
            }
            indices.push_back(index);
            continue;
        }
        if (!records_read) {
            for (int i = 0; i < count; ++i) {
                Record rec;
                std::string json;
                if (!fetch_record(i, rec, json))
                    return false;
                records.push_back(rec);
            }
            records_read = true;
        }
        bool found = false;
        for (const Record &rec : records) {
            if (same_name(rec.name, target)) {
                indices.push_back(rec.index);
                found = true;
            }
        }
        if (!found) {
            report("no record named '" + target + "'");
            return false;
        }
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return true;
}

enum class Change { kEnable, kDisable, kRemove };

int cmd_change(const Options &opts, const std::string &command, Change change,
               const std::vector<Word> &args) {
    std::string bad_option;
    const std::vector<std::string> targets = positional(args, bad_option);
    if (!bad_option.empty())
        return usage_error("unknown option: " + bad_option);
    if (targets.empty())
        return usage_error(command + " needs at least one TARGET");
    if (hosts_load() != 1)
        return fail_with_library_error();
    std::vector<int> indices;
    if (!resolve_targets(targets, indices))
        return kFailed;
    if (change == Change::kRemove) {
        // Each removal shifts later records down, so going from the highest
        // index keeps the remaining indices pointing at the chosen records.
        for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
            if (hosts_remove(*it) != 1)
                return fail_with_library_error();
        }
    } else {
        const int enabled = change == Change::kEnable ? 1 : 0;
        for (int index : indices) {
            if (hosts_set_enabled(index, enabled) != 1) {
                return fail_with_library_error();
            }
        }
    }
    return finish_edit(opts);
}

int cmd_flush(const Options &opts, const std::vector<Word> &args) {
    if (!args.empty())
        return usage_error("flush takes no arguments");
    if (opts.dry_run) {
        std::printf("dry run: resolver cache not flushed\n");
        return kOk;
    }
    return flush_resolver(false);
}

int run(int argc, char **argv) {
    Options opts;
    std::string error;
    if (!parse_options(argc, argv, opts, error))
        return usage_error(error);
    if (opts.help) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    if (opts.version) {
        std::printf("%s\n", hosts_version());
        return kOk;
    }
    if (opts.words.empty())
        return usage_error("no command given");
    const Word command = opts.words.front();
    const std::vector<Word> args(opts.words.begin() + 1, opts.words.end());
    if (command.is_option)
        return usage_error("unknown option: " + command.text);

    if (command.text == "flush")
        return cmd_flush(opts, args);
    if (command.text != "list" && command.text != "add" && command.text != "enable" &&
        command.text != "disable" && command.text != "remove") {
        return usage_error("unknown command: " + command.text);
    }
    if (hosts_set_path(opts.file) != 1)
        return fail_with_library_error();
    if (command.text == "list")
        return cmd_list(args);
    if (command.text == "add")
        return cmd_add(opts, args);
    if (command.text == "enable") {
        return cmd_change(opts, command.text, Change::kEnable, args);
    }
    if (command.text == "disable") {
        return cmd_change(opts, command.text, Change::kDisable, args);
    }
    return cmd_change(opts, command.text, Change::kRemove, args);
}

}  // namespace

int main(int argc, char **argv) {
#if defined(_WIN32)
    // Text mode would turn each LF into CRLF; binary mode keeps --dry-run
    // output byte-identical to the file it shows, as on other systems.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const int status = run(argc, argv);
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && status == kOk) {
        report("cannot write output");
        return kFailed;
    }
    return status;
}
