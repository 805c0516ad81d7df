#include "options.h"

#include <algorithm>

#include "text.h"

namespace {

const char k_file_equals[] = "--file=";

}  // namespace

bool parse_options(int argc, char **argv, options &opts, std::string &error) {
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
        } else if (arg.starts_with(k_file_equals)) {
            opts.file = argv[i] + sizeof k_file_equals - 1;
        } else if (arg == "--dry-run") {
            opts.dry_run = true;
        } else if (arg == "--flush") {
            opts.flush = true;
        } else if (arg == "--backup") {
            opts.backup = true;
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

bool command_arguments::has(const char *flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

bool split_arguments(const std::vector<word> &args, const char *const *known,
                     command_arguments &out, std::string &error) {
    for (const word &w : args) {
        if (!w.is_option) {
            out.positional.push_back(w.text);
            continue;
        }
        bool found = false;
        for (const char *const *flag = known; *flag != nullptr; ++flag)
            found = found || w.text == *flag;
        if (!found) {
            error = "unknown option: " + w.text;
            return false;
        }
        out.flags.push_back(w.text);
    }
    return true;
}
