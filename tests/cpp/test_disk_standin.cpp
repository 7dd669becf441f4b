// The stand-in's mount table and device statistics: FreeBSD's call
// semantics, and getfsstat from several threads at once (the module calls it
// without the interpreter lock).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "standin/freebsd.h"
#include "standin/inject/inject.h"

namespace {

// Reads the live table as the module does: measure, then read.
int read_mounts(std::vector<bsd::statfs> &out) {
    int count = bsd::getfsstat(nullptr, 0, bsd::mnt_nowait);
    if (count < 0)
        return -1;
    out.resize(static_cast<std::size_t>(count));
    return bsd::getfsstat(out.data(), static_cast<long>(count * sizeof(bsd::statfs)), bsd::mnt_nowait);
}

bool well_formed(const bsd::statfs &fs) {
    return fs.f_version == bsd::statfs_version && memchr(fs.f_fstypename, 0, bsd::mfsnamelen) &&
           memchr(fs.f_mntfromname, 0, bsd::mnamelen) && memchr(fs.f_mntonname, 0, bsd::mnamelen) &&
           fs.f_mntonname[0] == '/';
}

TEST(StandinMounts, RefusesBadModeAndNegativeSize) {
    bsd::statfs fs;
    errno = 0;
    EXPECT_EQ(bsd::getfsstat(&fs, sizeof(fs), 0), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(bsd::getfsstat(&fs, -1, bsd::mnt_wait), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(StandinMounts, ShortBufferGetsWholeRecordsOnly) {
    std::vector<bsd::statfs> all;
    ASSERT_GE(read_mounts(all), 2);
    bsd::statfs two[2];
    std::memset(two, 0x55, sizeof(two));
    // Room for one record and a half: one is written, the rest untouched.
    EXPECT_EQ(bsd::getfsstat(two, sizeof(two[0]) + sizeof(two[0]) / 2, bsd::mnt_nowait), 1);
    EXPECT_TRUE(well_formed(two[0]));
    EXPECT_EQ(static_cast<unsigned char>(two[1].f_fstypename[0]), 0x55);
}

TEST(StandinMounts, LiveAndInjectedCallsFromThreads) {
    standin_reset();
    std::vector<bsd::statfs> single;
    ASSERT_GT(read_mounts(single), 0);
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> pool;
    for (int t = 0; t < 3; t++) {
        pool.emplace_back([&] {
            for (int i = 0; i < 100; i++) {
                std::vector<bsd::statfs> got;
                int n = read_mounts(got);
                // Injected answers come and go meanwhile (and other work may
                // mount): every read still gets whole, well-formed records.
                if (n < 1)
                    failures++;
                for (int k = 0; k < n && k < static_cast<int>(got.size()); k++)
                    if (!well_formed(got[static_cast<std::size_t>(k)]))
                        failures++;
            }
        });
    }
    pool.emplace_back([&] {
        bsd::statfs fs;
        std::memset(&fs, 0, sizeof(fs));
        fs.f_version = bsd::statfs_version;
        std::strcpy(fs.f_fstypename, "ufs");
        std::strcpy(fs.f_mntfromname, "/dev/ada0p2");
        std::strcpy(fs.f_mntonname, "/");
        while (!stop) {
            standin_answer("getfsstat", "", &fs, sizeof(fs));
            std::this_thread::yield();
            standin_reset();
        }
    });
    for (std::size_t i = 0; i + 1 < pool.size(); i++)
        pool[i].join();
    stop = true;
    pool.back().join();
    EXPECT_EQ(failures.load(), 0);
    standin_reset();
}

TEST(StandinDevstat, BlockIsGrownAndHoldsWholeRecords) {
    standin_reset();
    std::string two(2 * sizeof(bsd::devstat) + 100, '\0');  // and a torn third
    bsd::devinfo di;
    std::memset(&di, 0, sizeof(di));
    bsd::statinfo st;
    std::memset(&st, 0, sizeof(st));
    st.dinfo = &di;
    standin_answer("devstat_getdevs", "", two.data(), two.size());
    EXPECT_EQ(bsd::devstat_getdevs(nullptr, &st), 1);
    EXPECT_EQ(di.numdevs, 2);
    EXPECT_EQ(reinterpret_cast<std::uint8_t *>(di.devices), di.mem_ptr + sizeof(long));
    // A second snapshot into the same devinfo reuses its block; one free.
    standin_reset();
    EXPECT_GE(bsd::devstat_getdevs(nullptr, &st), 0);
    EXPECT_GE(di.numdevs, 0);
    std::free(di.mem_ptr);
    EXPECT_EQ(bsd::devstat_getdevs(nullptr, nullptr), -1);
    standin_reset();
}

}  // namespace
