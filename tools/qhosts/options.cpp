#include "options.h"

#include "text.h"

namespace {

const option_info k_option_table[] = {
    {option_id::file, "--file", 'f', "PATH", "work on PATH instead of the system hosts file"},
    {option_id::dry_run, "--dry-run", 'n', nullptr,
     "print the file an edit would write and change nothing"},
    {option_id::quiet, "--quiet", 'q', nullptr, "print no report lines and no notices"},
    {option_id::backup, "--backup", '\0', nullptr,
     "copy the file to PATH.bak.YYYYMMDD-HHMMSS before an edit replaces it"},
    {option_id::keep_backups, "--keep-backups", '\0', "N",
     "keep the newest N dated backups (default 10; 0 keeps them all)"},
    {option_id::flush, "--flush", '\0', nullptr, "flush the DNS resolver cache after an edit"},
    {option_id::ignore_missing, "--ignore-missing", '\0', nullptr,
     "skip a TARGET that matches nothing (exit 0, not 3)"},
    {option_id::help, "--help", 'h', nullptr, "show this help"},
    {option_id::version, "--version", '\0', nullptr, "show the versions of qhosts and the library"},
    {option_id::json, "--json", 'j', nullptr, "JSON output, one object per line"},
    {option_id::format, "--format", '\0', "FORMAT",
     "table (aligned, the default), json (as --json) or plain (tab-separated, no header)"},
    {option_id::enabled, "--enabled", '\0', nullptr, "only enabled records"},
    {option_id::disabled, "--disabled", '\0', nullptr, "only disabled records"},
    {option_id::exact, "--exact", '\0', nullptr,
     "PATTERN must be the whole address (by value) or the whole name"},
    {option_id::comment, "--comment", 'c', "TEXT", "the comment of the records added"},
    {option_id::from, "--from", '\0', "FILE", "every entry of the hosts-format FILE is a target"},
    {option_id::original, "--original", '\0', nullptr,
     "put back PATH.orig, the file as it was before qhosts first rearranged it"},
};

const option_info *find_long(const std::string &name) {
    for (const option_info &info : k_option_table) {
        if (name == info.name)
            return &info;
    }
    return nullptr;
}

const option_info *find_letter(char letter) {
    for (const option_info &info : k_option_table) {
        if (info.letter != '\0' && info.letter == letter)
            return &info;
    }
    return nullptr;
}

// Takes the value of `info`, which is `inline_value` or else the next word.
bool take_value(const option_info &info, const std::string &spelling,
                const std::optional<std::string> &inline_value, int argc, char **argv, int &i,
                command_line &out, std::string &error) {
    std::string value;
    if (inline_value) {
        value = *inline_value;
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        error = spelling + " needs " + info.value_name;
        return false;
    }
    out.options.push_back({info.id, spelling, value});
    return true;
}

// "--name" or "--name=VALUE".
bool parse_long(const std::string &arg, int argc, char **argv, int &i, command_line &out,
                std::string &error) {
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const option_info *info = find_long(name);
    if (info == nullptr) {
        error = "unknown option: " + name;
        return false;
    }
    if (info->value_name == nullptr) {
        if (equals != std::string::npos) {
            error = name + " takes no value";
            return false;
        }
        out.options.push_back({info->id, name, ""});
        return true;
    }
    std::optional<std::string> inline_value;
    if (equals != std::string::npos)
        inline_value = arg.substr(equals + 1);
    return take_value(*info, name, inline_value, argc, argv, i, out, error);
}

// "-nq" (switches together) or "-f PATH" / "-fPATH".
bool parse_letters(const std::string &arg, int argc, char **argv, int &i, command_line &out,
                   std::string &error) {
    for (std::size_t at = 1; at < arg.size(); ++at) {
        const std::string spelling = std::string("-") + arg[at];
        const option_info *info = find_letter(arg[at]);
        if (info == nullptr) {
            error = "unknown option: " + spelling;
            return false;
        }
        if (info->value_name == nullptr) {
            out.options.push_back({info->id, spelling, ""});
            continue;
        }
        std::optional<std::string> inline_value;
        if (at + 1 < arg.size())
            inline_value = arg.substr(at + 1);
        return take_value(*info, spelling, inline_value, argc, argv, i, out, error);
    }
    return true;
}

bool read_count(const given_option &given, int &count, std::string &error) {
    if (!is_digits(given.value) || given.value.size() > 6) {
        error = given.spelling + " needs a number, not '" + given.value + "'";
        return false;
    }
    count = std::stoi(given.value);
    return true;
}

}  // namespace

const option_info &info_of(option_id id) {
    for (const option_info &info : k_option_table) {
        if (info.id == id)
            return info;
    }
    return k_option_table[0];
}

std::string option_synopsis(const option_info &info) {
    std::string text = info.letter != '\0' ? std::string("-") + info.letter + ", " : "    ";
    text += info.name;
    if (info.value_name != nullptr)
        text += std::string(" ") + info.value_name;
    return text;
}

bool parse_command_line(int argc, char **argv, command_line &out, std::string &error) {
    bool literal = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (literal || arg.size() < 2 || arg[0] != '-') {
            out.words.push_back(arg);
        } else if (arg == "--") {
            literal = true;
        } else if (!(arg[1] == '-' ? parse_long(arg, argc, argv, i, out, error)
                                   : parse_letters(arg, argc, argv, i, out, error))) {
            return false;
        }
    }
    return true;
}

bool read_options(const std::vector<given_option> &given, options &opts, std::string &error) {
    for (const given_option &option : given) {
        switch (option.id) {
            case option_id::file:
                // The library reads an empty path as "the system hosts
                // file"; an empty --file is far more likely an unset script
                // variable than that request.
                if (option.value.empty()) {
                    error = "--file needs a non-empty path";
                    return false;
                }
                opts.file = option.value.c_str();
                break;
            case option_id::dry_run:
                opts.dry_run = true;
                break;
            case option_id::quiet:
                opts.quiet = true;
                break;
            case option_id::backup:
                opts.backup = true;
                break;
            case option_id::keep_backups:
                if (!read_count(option, opts.keep_backups, error))
                    return false;
                break;
            case option_id::flush:
                opts.flush = true;
                break;
            case option_id::ignore_missing:
                opts.ignore_missing = true;
                break;
            case option_id::help:
                opts.help = true;
                break;
            case option_id::version:
                opts.version = true;
                break;
            case option_id::json:
                opts.json = true;
                break;
            case option_id::format:
                if (option.value != "table" && option.value != "json" && option.value != "plain") {
                    error =
                        option.spelling + " is table, json or plain, not '" + option.value + "'";
                    return false;
                }
                opts.format = option.value;
                break;
            case option_id::enabled:
                opts.enabled = true;
                break;
            case option_id::disabled:
                opts.disabled = true;
                break;
            case option_id::exact:
                opts.exact = true;
                break;
            case option_id::comment:
                opts.comment = option.value;
                break;
            case option_id::from:
                if (option.value.empty()) {
                    error = option.spelling + " needs a non-empty path";
                    return false;
                }
                opts.from.push_back(option.value);
                break;
            case option_id::original:
                opts.original = true;
                break;
        }
    }
    return true;
}
