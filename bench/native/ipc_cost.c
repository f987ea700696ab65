/*
 * The machine's own costs that every Wine server request pays, measured natively: one system
 * call, and one round trip of a byte between two processes over pipes (what a request to the
 * wineserver and its reply amount to, before the server does any work).
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

int main(void)
{
    const int calls = 200000, trips = 20000;
    double start = now();
    for (int i = 0; i < calls; ++i)
        syscall(SYS_getppid);
    printf("  a system call (getppid)                      %8.2f us\n", (now() - start) / calls * 1e6);
    fflush(stdout);   /* before fork: the child must not print it again */

    int request[2], reply[2];
    if (pipe(request) || pipe(reply))
        return 1;
    pid_t server = fork();
    if (server < 0)
        return 1;
    if (server == 0) {
        char byte;
        close(request[1]);   /* so that the parent's close ends the loop */
        close(reply[0]);
        while (read(request[0], &byte, 1) == 1 && write(reply[1], &byte, 1) == 1)
            ;
        _exit(0);
    }
    close(request[0]);
    close(reply[1]);
    char byte = 0;
    start = now();
    for (int i = 0; i < trips; ++i)
        if (write(request[1], &byte, 1) != 1 || read(reply[0], &byte, 1) != 1)
            return 1;
    printf("  a round trip to another process over pipes   %8.2f us\n", (now() - start) / trips * 1e6);
    close(request[1]);
    waitpid(server, NULL, 0);
    return 0;
}
