/* Uses the installed library through its C header only. */
#include <quendral-hosts.h>
#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    if (hosts_set_path(argv[1]) != 1 ||
        hosts_add("10.1.1.1", "consumer.example", "installed") != 0 || hosts_save() != 1 ||
        hosts_load() != 1 || hosts_count() != 1) {
        fprintf(stderr, "consumer: %s\n", hosts_last_error());
        return 1;
    }
    printf("%s %s\n", hosts_version(), hosts_get(0));
    return 0;
}
