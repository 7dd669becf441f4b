// The stand-in's open-file and memory-map tables, live from this process
// (and a child on a terminal), and over injected answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standin/freebsd.h"
#include "standin/inject/inject.h"

namespace {

struct freer {
    void operator()(void *p) const { std::free(p); }
};
template <class T> using table_ptr = std::unique_ptr<T, freer>;

template <class T> struct table {
    table_ptr<T> arr;
    int count = -99;
    int err = 0;
};

table<bsd::kinfo_file> files_of(pid_t pid) {
    table<bsd::kinfo_file> t;
    errno = 0;
    t.arr.reset(bsd::kinfo_getfile(pid, &t.count));
    t.err = errno;
    return t;
}

table<bsd::kinfo_vmentry> map_of(pid_t pid) {
    table<bsd::kinfo_vmentry> t;
    errno = 0;
    t.arr.reset(bsd::kinfo_getvmmap(pid, &t.count));
    t.err = errno;
    return t;
}

const bsd::kinfo_file *entry(const table<bsd::kinfo_file> &t, int fd) {
    for (int i = 0; i < t.count; i++) {
        if (t.arr.get()[i].kf_fd == fd)
            return &t.arr.get()[i];
    }
    return nullptr;
}

std::string link_of(const char *path) {
    char buf[PATH_MAX];
    ssize_t n = readlink(path, buf, sizeof(buf));
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

class Descriptors : public ::testing::Test {
  protected:
    void SetUp() override {
        standin_reset();
        char tmpl[] = "/tmp/quarn-libutil-XXXXXX";
        dir_ = mkdtemp(tmpl);
        ASSERT_FALSE(dir_.empty());
        file_ = open((dir_ + "/f").c_str(), O_CREAT | O_RDWR | O_APPEND, 0600);
        ASSERT_EQ(write(file_, "0123456789", 10), 10);
        ASSERT_EQ(lseek(file_, 7, SEEK_SET), 7);
        gone_ = open((dir_ + "/gone").c_str(), O_CREAT | O_RDONLY, 0600);
        unlink((dir_ + "/gone").c_str());
        dirfd_ = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(pipe(pipe_), 0);
        inet_ = socket(AF_INET, SOCK_STREAM, 0);
        unix_ = socket(AF_UNIX, SOCK_DGRAM, 0);
        event_ = eventfd(0, 0);
        memfd_ = memfd_create("quarn", 0);
    }
    void TearDown() override {
        for (int fd : {file_, gone_, dirfd_, pipe_[0], pipe_[1], inet_, unix_, event_, memfd_})
            close(fd);
        unlink((dir_ + "/f").c_str());
        rmdir(dir_.c_str());
        standin_reset();
    }
    std::string dir_;
    int file_ = -1, gone_ = -1, dirfd_ = -1, pipe_[2] = {-1, -1};
    int inet_ = -1, unix_ = -1, event_ = -1, memfd_ = -1;
};

TEST_F(Descriptors, PseudoEntriesComeFirstThenDescriptorsInOrder) {
    auto t = files_of(getpid());
    ASSERT_NE(t.arr, nullptr);
    std::vector<int> order;
    for (int i = 0; i < t.count; i++) {
        if (t.arr.get()[i].kf_fd != bsd::kf_fd_type_ctty)  // when run from a terminal
            order.push_back(t.arr.get()[i].kf_fd);
    }
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 3),
              (std::vector<int>{bsd::kf_fd_type_text, bsd::kf_fd_type_cwd, bsd::kf_fd_type_root}));
    // Exactly this process's descriptors, none of the answer's own.
    std::vector<int> listed;
    for (int fd = 0; fd < 1024; fd++) {
        if (fcntl(fd, F_GETFD) != -1)
            listed.push_back(fd);
    }
    EXPECT_EQ(std::vector<int>(order.begin() + 3, order.end()), listed);

    const bsd::kinfo_file *text = entry(t, bsd::kf_fd_type_text);
    EXPECT_EQ(text->kf_type, bsd::kf_type_vnode);
    EXPECT_EQ(text->kf_un.kf_file.kf_file_type, bsd::kf_vtype_vreg);
    EXPECT_EQ(text->kf_path, link_of("/proc/self/exe"));
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    EXPECT_EQ(entry(t, bsd::kf_fd_type_cwd)->kf_path, std::string(cwd));
    EXPECT_EQ(entry(t, bsd::kf_fd_type_cwd)->kf_un.kf_file.kf_file_type, bsd::kf_vtype_vdir);
    EXPECT_EQ(entry(t, bsd::kf_fd_type_root)->kf_path, std::string("/"));
}

TEST_F(Descriptors, EachKindInFreeBSDTerms) {
    auto t = files_of(getpid());
    ASSERT_NE(t.arr, nullptr);
    const bsd::kinfo_file *f = entry(t, file_);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->kf_type, bsd::kf_type_vnode);
    EXPECT_EQ(f->kf_un.kf_file.kf_file_type, bsd::kf_vtype_vreg);
    EXPECT_EQ(f->kf_path, dir_ + "/f");
    EXPECT_EQ(f->kf_un.kf_file.kf_file_size, 10u);

    // A file without a name any more cannot be named.
    EXPECT_EQ(entry(t, gone_)->kf_type, bsd::kf_type_vnode);
    EXPECT_EQ(entry(t, gone_)->kf_path, std::string());
    EXPECT_EQ(entry(t, dirfd_)->kf_un.kf_file.kf_file_type, bsd::kf_vtype_vdir);
    EXPECT_EQ(entry(t, dirfd_)->kf_path, dir_);

    struct {
        int fd;
        int type;
    } kinds[] = {{pipe_[0], bsd::kf_type_pipe}, {pipe_[1], bsd::kf_type_pipe},
                 {inet_, bsd::kf_type_socket}, {unix_, bsd::kf_type_socket},
                 {event_, bsd::kf_type_eventfd}, {memfd_, bsd::kf_type_shm}};
    for (const auto &k : kinds) {
        ASSERT_NE(entry(t, k.fd), nullptr) << k.fd;
        EXPECT_EQ(entry(t, k.fd)->kf_type, k.type) << k.fd;
    }
    EXPECT_EQ(entry(t, memfd_)->kf_path, std::string("memfd:quarn"));
    const bsd::kinfo_file *inet = entry(t, inet_);
    EXPECT_EQ(inet->kf_un.kf_sock.kf_sock_domain0, bsd::af_inet);
    EXPECT_EQ(inet->kf_un.kf_sock.kf_sock_type0, bsd::sock_stream);
    EXPECT_EQ(inet->kf_un.kf_sock.kf_sock_protocol0, bsd::ipproto_tcp);
    EXPECT_EQ(entry(t, unix_)->kf_un.kf_sock.kf_sock_domain0, bsd::af_unix);
}

TEST(DescriptorsOf, ControllingTerminalFollowsTheText) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slave = ptsname(master);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int tty = open(slave.c_str(), O_RDWR);  // a session leader's first tty
        (void)!write(ready[1], tty >= 0 ? "y" : "n", 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    auto t = files_of(pid);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    close(master);
    ASSERT_EQ(c, 'y');
    ASSERT_NE(t.arr, nullptr);
    ASSERT_GE(t.count, 4);
    EXPECT_EQ(t.arr.get()[1].kf_fd, bsd::kf_fd_type_ctty);
    EXPECT_EQ(t.arr.get()[1].kf_un.kf_file.kf_file_type, bsd::kf_vtype_vchr);
    EXPECT_EQ(t.arr.get()[1].kf_path, slave);
}

const bsd::kinfo_vmentry *mapping_at(const table<bsd::kinfo_vmentry> &t, const void *addr) {
    auto a = reinterpret_cast<std::uint64_t>(addr);
    for (int i = 0; i < t.count; i++) {
        const bsd::kinfo_vmentry &e = t.arr.get()[i];
        if (e.kve_start <= a && a < e.kve_end)
            return &e;
    }
    return nullptr;
}

TEST(MemoryMap, MappingsInFreeBSDTerms) {
    long page = sysconf(_SC_PAGESIZE);
    char gone_path[] = "/tmp/quarn-map-XXXXXX";
    int fd = mkstemp(gone_path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, page), 0);
    void *gone = mmap(nullptr, page, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
    unlink(gone_path);
    char path[] = "/tmp/quarn-map-XXXXXX";
    int fd2 = mkstemp(path);
    ASSERT_GE(fd2, 0);
    ASSERT_EQ(ftruncate(fd2, 4 * page), 0);
    void *file = mmap(nullptr, 4 * page, PROT_READ, MAP_SHARED, fd2, 0);
    auto *anon = static_cast<char *>(
        mmap(nullptr, 9 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    madvise(anon, 9 * page, MADV_DONTFORK);  // kept apart from its neighbours
    for (int i = 0; i < 3; i++)
        anon[i * page] = 1;
    void *shared = mmap(nullptr, page, PROT_READ, MAP_SHARED | MAP_ANONYMOUS, -1, 0);

    auto t = map_of(getpid());
    ASSERT_NE(t.arr, nullptr);
    for (int i = 1; i < t.count; i++)
        EXPECT_LE(t.arr.get()[i - 1].kve_end, t.arr.get()[i].kve_start);

    const bsd::kinfo_vmentry *e = mapping_at(t, file);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kve_start, reinterpret_cast<std::uint64_t>(file));
    EXPECT_EQ(e->kve_end - e->kve_start, std::uint64_t(4 * page));
    EXPECT_EQ(e->kve_type, bsd::kvme_type_vnode);
    EXPECT_EQ(e->kve_protection, bsd::kvme_prot_read);
    EXPECT_EQ(e->kve_flags & bsd::kvme_flag_cow, 0);
    EXPECT_EQ(e->kve_path, std::string(path));
    // A file without a name any more: a vnode without a path.
    EXPECT_EQ(mapping_at(t, gone)->kve_type, bsd::kvme_type_vnode);
    EXPECT_EQ(mapping_at(t, gone)->kve_path, std::string());
    EXPECT_EQ(mapping_at(t, gone)->kve_protection, bsd::kvme_prot_read | bsd::kvme_prot_exec);
    EXPECT_EQ(mapping_at(t, gone)->kve_flags & bsd::kvme_flag_cow, bsd::kvme_flag_cow);

    const bsd::kinfo_vmentry *a = mapping_at(t, anon);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->kve_end - a->kve_start, std::uint64_t(9 * page));
    EXPECT_EQ(a->kve_type, bsd::kvme_type_default);
    EXPECT_EQ(a->kve_path, std::string());
    EXPECT_EQ(a->kve_resident, 3);
    EXPECT_EQ(a->kve_private_resident, 3);
    EXPECT_EQ(a->kve_ref_count, 0);
    EXPECT_EQ(a->kve_shadow_count, 0);
    EXPECT_EQ(mapping_at(t, shared)->kve_type, bsd::kvme_type_default);
    EXPECT_EQ(mapping_at(t, shared)->kve_path, std::string());

    munmap(file, 4 * page);
    munmap(gone, page);
    munmap(anon, 9 * page);
    munmap(shared, page);
    close(fd);
    close(fd2);
    unlink(path);
}

TEST(MemoryMap, SpecialMappings) {
    auto t = map_of(getpid());
    ASSERT_NE(t.arr, nullptr);
    std::string maps;
    {
        FILE *f = fopen("/proc/self/maps", "r");
        char line[4096];
        while (f != nullptr && fgets(line, sizeof(line), f))
            maps += line;
        if (f)
            fclose(f);
    }
    struct {
        const char *name;
        int type;
    } specials[] = {{"[vdso]", bsd::kvme_type_phys}, {"[stack]", bsd::kvme_type_default},
                    {"[vvar]", bsd::kvme_type_device}};
    for (const auto &s : specials) {
        std::size_t at = maps.find(std::string(" ") + s.name + "\n");
        if (at == std::string::npos)
            continue;  // not every host has each
        std::size_t bol = maps.rfind('\n', at);
        bol = bol == std::string::npos ? 0 : bol + 1;
        auto start = std::strtoull(maps.c_str() + bol, nullptr, 16);
        const bsd::kinfo_vmentry *e = mapping_at(t, reinterpret_cast<void *>(start));
        ASSERT_NE(e, nullptr) << s.name;
        EXPECT_EQ(e->kve_type, s.type) << s.name;
        EXPECT_EQ(e->kve_path, std::string()) << s.name;
    }
}

TEST(InjectedTables, CountsThatCannotBeHeld) {
    standin_reset();
    bsd::kinfo_file one{};
    struct {
        long value;
        int count;
        int err;
    } cases[] = {{1L << 21, 0, ENOMEM}, {LONG_MIN, INT_MIN, 0}, {-3, -3, 0}, {5, 5, 0}};
    for (const auto &c : cases) {
        standin_reset();
        ASSERT_EQ(standin_answer_value("kinfo_getfile", "77", c.value, &one, sizeof(one)), 0);
        auto t = files_of(77);
        EXPECT_EQ(t.arr == nullptr, c.err != 0) << c.value;
        if (t.arr != nullptr)
            EXPECT_EQ(t.count, c.count) << c.value;
        else
            EXPECT_EQ(t.err, c.err) << c.value;
    }
    standin_reset();
}

}  // namespace
