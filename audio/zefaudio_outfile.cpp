// Output files written beside their name and renamed into place when done.
#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zefoutfile.h"

namespace zef {
namespace {

constexpr mode_t kNewFileMode = 0644;  // before the umask

std::string dirOf(const std::string& name) {
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

std::string baseOf(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool sameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Files this process reads: descriptors open for reading, and mappings.
bool readsFile(const struct stat& target) {
    bool found = false;
    if (DIR* d = opendir("/proc/self/fd")) {
        int self = dirfd(d);
        while (dirent* e = readdir(d)) {
            int fd = std::atoi(e->d_name);
            if (e->d_name[0] < '0' || e->d_name[0] > '9' || fd == self) continue;
            int flags = fcntl(fd, F_GETFL);
            struct stat st;
            if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY || fstat(fd, &st) != 0) continue;
            if (S_ISREG(st.st_mode) && sameInode(st, target)) found = true;
        }
        closedir(d);
    }
    if (FILE* maps = std::fopen("/proc/self/maps", "re")) {
        char line[4096];
        while (!found && std::fgets(line, sizeof line, maps)) {
            unsigned maj = 0, min = 0;
            unsigned long long ino = 0;
            if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &maj, &min, &ino) == 3 && ino != 0 &&
                ino == target.st_ino && makedev(maj, min) == target.st_dev)
                found = true;
        }
        std::fclose(maps);
    }
    return found;
}

// Devices and the process's own streams (/dev/stdout, /proc/self/fd/1) are
// written where they are, whatever they lead to.
bool systemName(const std::string& name) {
    char* dir = realpath(dirOf(name).c_str(), nullptr);
    if (!dir) return false;
    std::string d = dir;
    std::free(dir);
    return d == "/dev" || d.rfind("/dev/", 0) == 0 || d == "/proc" || d.rfind("/proc/", 0) == 0;
}

std::string tempName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char tail[64];
    std::snprintf(tail, sizeof tail, ".part-%ld-%u-%lx", long(getpid()), counter++, ts.tv_nsec);
    return dirOf(target) + "/." + baseOf(target) + tail;
}

// A named temporary file beside `target`; never an existing name or link.
int createNamed(const std::string& target, std::string& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = tempName(target);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
        if (fd >= 0) {
            temp = name;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

// Writing is allowed where the owner could write: a file without any write
// permission stays, even for the superuser.
bool writeProtected(const char* name, const struct stat& st) {
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0;
}

}  // namespace

bool sameFile(const char* name, const struct stat& in) {
    struct stat st;
    return name && ::stat(name, &st) == 0 && sameInode(st, in);
}

bool isOpenInput(const char* name) {
    struct stat st;
    return name && ::stat(name, &st) == 0 && S_ISREG(st.st_mode) && readsFile(st);
}

int openOutFile(const char* name, OutFile& out) {
    out = OutFile{};
    if (!name || !*name) return ENOENT;
    out.target = name;
    if (isOpenInput(name)) return kOutputIsInput;
    struct stat link, st;
    bool exists = ::lstat(name, &link) == 0;
    bool leadsTo = ::stat(name, &st) == 0;
    if (exists && S_ISDIR(link.st_mode)) return EISDIR;
    if ((exists && !S_ISREG(link.st_mode) && !S_ISLNK(link.st_mode)) ||
        (leadsTo && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) || systemName(name)) {
        out.inPlace = true;
        // A regular file behind a system name (stdout redirected) starts empty.
        int flags = O_WRONLY | O_CLOEXEC | (exists ? 0 : O_CREAT) | (leadsTo && S_ISREG(st.st_mode) ? O_TRUNC : 0);
        out.fd = ::open(name, flags, kNewFileMode);
        return out.fd < 0 ? errno : 0;
    }
    if (exists && S_ISREG(link.st_mode)) {
        if (writeProtected(name, link)) return EACCES;
        out.replacing = true;
        out.mode = link.st_mode & 07777;
        out.uid = link.st_uid;
        out.gid = link.st_gid;
    }
    const std::string dir = dirOf(out.target);
    out.fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode);
    if (out.fd >= 0) return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    out.fd = createNamed(out.target, out.temp);
    return out.fd < 0 ? errno : 0;
}

int commitOutFile(OutFile& out) {
    if (out.fd < 0) return EBADF;
    if (out.inPlace) return 0;
    // The owner carries over where this process may give it (the superuser
    // replacing a user's file); the mode always.
    if (out.replacing && (out.uid != geteuid() || out.gid != getegid()) && fchown(out.fd, out.uid, out.gid) != 0) {
        // not permitted: the new file is ours, as a copy would be
    }
    if (out.replacing && fchmod(out.fd, out.mode) != 0) {
        int err = errno;
        discardOutFile(out);
        return err;
    }
    if (fdatasync(out.fd) != 0 && errno != EINVAL) {
        int err = errno;
        discardOutFile(out);
        return err;
    }
    if (out.temp.empty()) {
        // An unnamed file gets a name first; a kill between the two steps
        // leaves a hidden temporary file at most.
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", out.fd);
        for (int attempt = 0; attempt < 100 && out.temp.empty(); ++attempt) {
            std::string name = tempName(out.target);
            if (linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) out.temp = name;
            else if (errno != EEXIST) return errno;
        }
        if (out.temp.empty()) return EEXIST;
    }
    if (::rename(out.temp.c_str(), out.target.c_str()) != 0) {
        int err = errno;
        discardOutFile(out);
        return err;
    }
    out.temp.clear();
    return 0;
}

void discardOutFile(OutFile& out) {
    if (!out.temp.empty()) ::unlink(out.temp.c_str());
    out.temp.clear();
}

}  // namespace zef
