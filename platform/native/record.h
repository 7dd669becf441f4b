// The platform calls that keep their answers while a recording runs
// (record.cpp, docs/recording.md): each is the real call, its answer kept
// under the key the stand-in gives it.
#pragma once

namespace bsd {

int sysctl(const int *name, u_int namelen, void *oldp, size_t *oldlenp, const void *newp,
           size_t newlen);
int sysctlbyname(const char *name, void *oldp, size_t *oldlenp, const void *newp,
                 size_t newlen);
int kill(pid_t pid, int sig);
long sysconf(int name);
kinfo_file *kinfo_getfile(pid_t pid, int *cntp);
kinfo_vmentry *kinfo_getvmmap(pid_t pid, int *cntp);
kinfo_proc *kvm_getprocs(kvm_t *kd, int op, int arg, int *cnt);
char **kvm_getenvv(kvm_t *kd, const kinfo_proc *p, int nchr);
int kvm_getswapinfo(kvm_t *kd, kvm_swap *swap_ary, int swap_max, int flags);
int mallctl(const char *name, void *oldp, size_t *oldlenp, void *newp, size_t newlen);
int cpuset_getaffinity(cpulevel_t level, cpuwhich_t which, id_t id, size_t setsize,
                       cpuset_t *mask);
int getpriority(int which, int who);
int getfsstat(struct statfs *buf, long bufsize, int mode);
int devstat_getdevs(kvm_t *kd, struct statinfo *stats);
void setutxent(void);
struct utmpx *getutxent(void);
void endutxent(void);
int getifaddrs(struct ifaddrs **ifap);
int getnameinfo(const struct sockaddr *sa, socklen_t salen, char *host, size_t hostlen,
                char *serv, size_t servlen, int flags);
int ioctl(int fd, unsigned long request, void *arg);

}  // namespace bsd
