/*
 * page_state INTERVAL_MS FILE...: every INTERVAL_MS, one line per sample with each file's pages
 * in the page cache, dirty and under write-back (MB), from the cachestat system call (Linux
 * 6.5 and later). Used to check the state the throughput passes start from: every page of the
 * images cached, none dirty or under write-back once the files were settled. Runs until killed.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#ifndef __NR_cachestat
#define __NR_cachestat 451
#endif

struct range { uint64_t off, len; };
struct counts { uint64_t cache, dirty, writeback, evicted, recently_evicted; };

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: page_state INTERVAL_MS FILE...\n");
        return 2;
    }
    const long interval = atol(argv[1]);
    const double mb = 1048576.0 / (double)sysconf(_SC_PAGESIZE);
    struct timespec t0, now, pause = {interval / 1000, (interval % 1000) * 1000000L};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        printf("%9.3f", (double)(now.tv_sec - t0.tv_sec) + (double)(now.tv_nsec - t0.tv_nsec) / 1e9);
        for (int i = 2; i < argc; ++i) {
            struct range all = {0, 0};
            struct counts c = {0};
            int fd = open(argv[i], O_RDONLY);
            if (fd >= 0 && syscall(__NR_cachestat, fd, &all, &c, 0) == 0)
                printf("  %7.1f %6.1f %6.1f", c.cache / mb, c.dirty / mb, c.writeback / mb);
            else
                printf("  %7s %6s %6s", "-", "-", "-");
            if (fd >= 0)
                close(fd);
        }
        printf("\n");
        fflush(stdout);
        nanosleep(&pause, NULL);
    }
}
