// The churner of the churn tests: forks and reaps processes as fast as it can
// for the given seconds, each batch of ten left a moment as zombies, and
// prints how many it forked. vfork, in C++: a full fork copies the page
// tables, which on a loaded virtual machine took tens of milliseconds, too
// slow to churn hundreds a second.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
    double end = now() + (argc > 1 ? std::atof(argv[1]) : 1.0);
    long forked = 0;
    while (now() < end) {
        pid_t kids[10];
        volatile int n = 0;  // kept in memory across vfork
        while (n < 10) {
            pid_t pid = vfork();
            if (pid == 0)
                _exit(0);
            if (pid < 0)
                break;
            kids[n] = pid;
            n = n + 1;
        }
        timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
        for (int i = 0; i < n; i++)
            waitpid(kids[i], nullptr, 0);
        forked += n;
    }
    std::printf("%ld\n", forked);
    return 0;
}
