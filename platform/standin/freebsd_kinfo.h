// FreeBSD amd64 entries of a process's open-file table and memory map
// (sys/user.h), as kinfo_getfile and kinfo_getvmmap return them.
#pragma once

#include <cstddef>
#include <cstdint>

// Included by freebsd.h, after its basic types.
namespace bsd {

// Open-file table entry of kinfo_getfile.
#define PATH_MAX_FREEBSD 1024

struct sockaddr_storage_bsd {
    u_char ss_len;
    u_char ss_family;
    char __ss_pad1[6];
    std::int64_t __ss_align;
    char __ss_pad2[112];
};
static_assert(sizeof(sockaddr_storage_bsd) == 128);

struct kinfo_file {
    int kf_structsize;
    int kf_type;
    int kf_fd;
    int kf_ref_count;
    int kf_flags;
    int kf_pad0;
    std::int64_t kf_offset;
    union {
        struct {
            std::uint32_t kf_sock_sendq;
            int kf_sock_domain0;
            int kf_sock_type0;
            int kf_sock_protocol0;
            sockaddr_storage_bsd kf_sa_local;
            sockaddr_storage_bsd kf_sa_peer;
            std::uint64_t kf_sock_pcb;
            std::uint64_t kf_sock_inpcb;
            std::uint64_t kf_sock_unpconn;
            std::uint16_t kf_sock_snd_sb_state;
            std::uint16_t kf_sock_rcv_sb_state;
            std::uint32_t kf_sock_recvq;
        } kf_sock;
        struct {
            int kf_file_type;
            int kf_spareint[3];
            std::uint64_t kf_spareint64[29];
            std::uint64_t kf_file_nlink;
            std::uint64_t kf_file_fsid;
            std::uint64_t kf_file_rdev;
            std::uint64_t kf_file_fileid;
            std::uint64_t kf_file_size;
            std::uint32_t kf_file_fsid_freebsd11;
            std::uint32_t kf_file_rdev_freebsd11;
            std::uint16_t kf_file_mode;
            std::uint16_t kf_file_pad0;
            std::uint32_t kf_file_pad1;
        } kf_file;
    } kf_un;
    std::uint16_t kf_status;
    std::uint16_t kf_pad1;
    int _kf_ispare0;
    std::uint64_t kf_cap_rights[2];
    std::uint64_t _kf_cap_spare;
    char kf_path[PATH_MAX_FREEBSD];
};

static_assert(sizeof(kinfo_file) == 1392);
static_assert(offsetof(kinfo_file, kf_type) == 4);
static_assert(offsetof(kinfo_file, kf_fd) == 8);
static_assert(offsetof(kinfo_file, kf_un.kf_file.kf_file_type) == 32);
static_assert(offsetof(kinfo_file, kf_un.kf_file.kf_file_size) == 312);
static_assert(offsetof(kinfo_file, kf_un.kf_file.kf_file_mode) == 328);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sock_domain0) == 36);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sock_type0) == 40);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sock_protocol0) == 44);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sa_local) == 48);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sa_peer) == 176);
static_assert(offsetof(kinfo_file, kf_path) == 368);

// FreeBSD's short names for the union members.
#define kf_vnode_type kf_un.kf_file.kf_file_type
#define kf_sock_domain kf_un.kf_sock.kf_sock_domain0
#define kf_sock_type kf_un.kf_sock.kf_sock_type0
#define kf_sock_protocol kf_un.kf_sock.kf_sock_protocol0
#define kf_sa_local kf_un.kf_sock.kf_sa_local
#define kf_sa_peer kf_un.kf_sock.kf_sa_peer


#define KF_TYPE_NONE 0
#define KF_TYPE_VNODE 1
#define KF_TYPE_SOCKET 2
#define KF_TYPE_PIPE 3
#define KF_TYPE_FIFO 4
#define KF_TYPE_KQUEUE 5
#define KF_TYPE_PTS 10
#define KF_TYPE_UNKNOWN 255

#define KF_VTYPE_VNON 0
#define KF_VTYPE_VREG 1
#define KF_VTYPE_VDIR 2
#define KF_VTYPE_VBLK 3
#define KF_VTYPE_VCHR 4
#define KF_VTYPE_VLNK 5
#define KF_VTYPE_VSOCK 6
#define KF_VTYPE_VFIFO 7

#define KF_FD_TYPE_CWD -1
#define KF_FD_TYPE_ROOT -2
#define KF_FD_TYPE_JAIL -3
#define KF_FD_TYPE_TRACE -4
#define KF_FD_TYPE_TEXT -5
#define KF_FD_TYPE_CTTY -6

// Memory-map entry of kinfo_getvmmap.
struct kinfo_vmentry {
    int kve_structsize;
    int kve_type;
    std::uint64_t kve_start;
    std::uint64_t kve_end;
    std::uint64_t kve_offset;
    std::uint64_t kve_vn_fileid;
    std::uint32_t kve_vn_fsid_freebsd11;
    int kve_flags;
    int kve_resident;
    int kve_private_resident;
    int kve_protection;
    int kve_ref_count;
    int kve_shadow_count;
    int kve_vn_type;
    std::uint64_t kve_vn_size;
    std::uint32_t kve_vn_rdev_freebsd11;
    std::uint16_t kve_vn_mode;
    std::uint16_t kve_status;
    std::uint64_t kve_vn_fsid;
    std::uint64_t kve_vn_rdev;
    int _kve_ispare[8];
    char kve_path[PATH_MAX_FREEBSD];
};

static_assert(sizeof(kinfo_vmentry) == 1160);
static_assert(offsetof(kinfo_vmentry, kve_type) == 4);
static_assert(offsetof(kinfo_vmentry, kve_start) == 8);
static_assert(offsetof(kinfo_vmentry, kve_end) == 16);
static_assert(offsetof(kinfo_vmentry, kve_resident) == 48);
static_assert(offsetof(kinfo_vmentry, kve_private_resident) == 52);
static_assert(offsetof(kinfo_vmentry, kve_protection) == 56);
static_assert(offsetof(kinfo_vmentry, kve_ref_count) == 60);
static_assert(offsetof(kinfo_vmentry, kve_shadow_count) == 64);
static_assert(offsetof(kinfo_vmentry, kve_path) == 136);

#define KVME_TYPE_NONE 0
#define KVME_TYPE_DEFAULT 1
#define KVME_TYPE_VNODE 2
#define KVME_TYPE_SWAP 3
#define KVME_TYPE_DEVICE 4
#define KVME_TYPE_PHYS 5
#define KVME_TYPE_DEAD 6
#define KVME_TYPE_SG 7
#define KVME_TYPE_MGTDEVICE 8
#define KVME_TYPE_GUARD 9
#define KVME_TYPE_UNKNOWN 255

#define KVME_PROT_READ 0x00000001
#define KVME_PROT_WRITE 0x00000002
#define KVME_PROT_EXEC 0x00000004

kinfo_file *kinfo_getfile(pid_t pid, int *cntp);
kinfo_vmentry *kinfo_getvmmap(pid_t pid, int *cntp);

}  // namespace bsd
