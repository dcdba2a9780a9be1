// The per-user lock file of a device.  An open-file-description lock on it
// is ownership of the device: it conflicts between processes and between two
// opens in one process, goes away with the owner, and can be tested without
// taking it.  The file's first page carries the owner's published state
// behind a sequence counter, so that a reader in another process never sees
// half an update.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "zefaudio_backend.h"

namespace zef::audio {

namespace {

constexpr uint32_t kMagic = 0x5a415531;  // "ZAU1"
constexpr size_t kWords = sizeof(audio_info) / 4;
static_assert(sizeof(audio_info) % 4 == 0 && std::is_trivially_copyable_v<audio_info>);

// Layout of the shared page (native order: only this host reads it).
struct Page {
    uint32_t magic;
    uint32_t seq;      // odd while an update is under way
    uint32_t waiting;  // set by openers that were turned away
    uint32_t words[kWords];
};
constexpr size_t kPageBytes = 4096;
static_assert(sizeof(Page) <= kPageBytes);

std::atomic_ref<uint32_t> word(uint32_t& w) { return std::atomic_ref<uint32_t>(w); }

uint64_t fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

// A directory only this user can write: ours, not a link, no access for
// anybody else.  Created when missing.
bool privateDir(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR, else a private directory of the user in $TMPDIR or /tmp, else (when
// somebody else has taken that name) one in the home directory.  Never a
// place where another user's file could stand in the way.
std::string lockDir(std::string& why) {
    const char* xdg = getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (xdg && xdg[0] == '/' && stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mode & 022) == 0)
        return xdg;
    const char* tmpdir = getenv("TMPDIR");
    std::string tmp = std::string(tmpdir && tmpdir[0] == '/' ? tmpdir : "/tmp") + "/zefaudio-" + std::to_string(geteuid());
    if (privateDir(tmp)) return tmp;
    const char* home = getenv("HOME");
    if (home && home[0] == '/') {
        std::string cache = std::string(home) + "/.cache";
        mkdir(cache.c_str(), 0700);
        if (privateDir(cache + "/zefaudio")) return cache + "/zefaudio";
    }
    why = tmp + ": not a private directory of this user, and there is no other place for the device's lock";
    errno = EACCES;
    return "";
}

std::string lockPath(const std::string& identity, std::string& why) {
    std::string readable;
    for (char c : identity.substr(0, 40))
        readable += (isalnum((unsigned char)c) || c == '.' || c == '-') ? c : '_';
    char hash[17];
    snprintf(hash, sizeof hash, "%016llx", (unsigned long long)fnv1a(identity));
    std::string dir = lockDir(why);
    return dir.empty() ? "" : dir + "/zefaudio-" + readable + "-" + hash + ".lock";
}

bool ofdLock(int fd, short type, int cmd, struct flock* out = nullptr) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    if (fcntl(fd, cmd, &fl) != 0) return false;
    if (out) *out = fl;
    return true;
}

// Opens the file and maps its page; checks that it is ours before trusting it.
int openChecked(const std::string& path, bool create, void** page, std::string& why) {
    if (path.empty()) return -1;  // no lock directory: why says so
    int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0);
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) {
        if (errno != ENOENT || create) why = path + ": " + strerror(errno);
        return -1;
    }
    struct stat st;
    int err = 0;
    if (fstat(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        err = EACCES;
        why = path + ": not a regular file of this user";
    } else if (st.st_size < (off_t)kPageBytes && ftruncate(fd, kPageBytes) != 0) {
        err = errno;
    }
    void* p = MAP_FAILED;
    if (!err) {
        p = mmap(nullptr, kPageBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) err = errno;
    }
    if (err) {
        if (why.empty()) why = path + ": " + strerror(err);
        ::close(fd);
        errno = err;
        return -1;
    }
    *page = p;
    return fd;
}

}  // namespace

DeviceLock::DeviceLock(int fd, void* page, std::string path) : fd_(fd), page_(page), path_(std::move(path)) {}

DeviceLock::~DeviceLock() {
    release();
    munmap(page_, kPageBytes);
    ::close(fd_);
}

std::unique_ptr<DeviceLock> DeviceLock::open(const std::string& identity, std::string& why) {
    void* page = nullptr;
    std::string path = lockPath(identity, why);
    int fd = openChecked(path, true, &page, why);
    if (fd < 0) return nullptr;
    return std::unique_ptr<DeviceLock>(new DeviceLock(fd, page, path));
}

std::unique_ptr<DeviceLock> DeviceLock::openExisting(const std::string& identity,
                                                     std::string& why) {
    void* page = nullptr;
    std::string path = lockPath(identity, why);
    int fd = openChecked(path, false, &page, why);
    if (fd < 0) return nullptr;
    return std::unique_ptr<DeviceLock>(new DeviceLock(fd, page, path));
}

bool DeviceLock::tryExclusive() {
    if (held_) return true;
    // A holder removes the file when it lets go, so the lock taken must be
    // on the file that has the name now; else open that one and try again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (!ofdLock(fd_, F_WRLCK, F_OFD_SETLK)) {
            if (errno == EAGAIN || errno == EACCES) errno = EBUSY;
            return false;
        }
        struct stat mine, named;
        if (fstat(fd_, &mine) == 0 && stat(path_.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
            mine.st_ino == named.st_ino) {
            held_ = true;
            return true;
        }
        ofdLock(fd_, F_UNLCK, F_OFD_SETLK);
        std::string why;
        void* page = nullptr;
        int fd = openChecked(path_, true, &page, why);
        if (fd < 0) return false;
        munmap(page_, kPageBytes);
        ::close(fd_);
        fd_ = fd;
        page_ = page;
    }
    errno = EBUSY;
    return false;
}

bool DeviceLock::heldElsewhere() const {
    struct flock fl {};
    if (!ofdLock(fd_, F_WRLCK, F_OFD_GETLK, &fl)) return false;
    return fl.l_type != F_UNLCK;
}

void DeviceLock::release(bool forget) {
    if (!held_) return;
    // Removed while still held: nobody can take the lock of a file that is
    // about to go (tryExclusive checks the name).
    if (forget) unlink(path_.c_str());
    ofdLock(fd_, F_UNLCK, F_OFD_SETLK);
    held_ = false;
}

bool DeviceLock::readState(audio_info& out) const {
    Page* p = static_cast<Page*>(page_);
    if (word(p->magic).load() != kMagic) return false;
    uint32_t words[kWords];
    for (int attempt = 0; attempt < 1000; ++attempt) {
        uint32_t before = word(p->seq).load(std::memory_order_acquire);
        if (before & 1) continue;
        // acquire loads keep the second look at seq after the words
        for (size_t i = 0; i < kWords; ++i)
            words[i] = word(p->words[i]).load(std::memory_order_acquire);
        if (word(p->seq).load(std::memory_order_relaxed) == before) {
            std::memcpy(&out, words, sizeof out);
            return true;
        }
    }
    return false;
}

void DeviceLock::publish(const audio_info& in) {
    Page* p = static_cast<Page*>(page_);
    uint32_t words[kWords];
    std::memcpy(words, &in, sizeof words);
    uint32_t seq = word(p->seq).load() | 1;  // odd: an update is under way
    word(p->seq).store(seq, std::memory_order_relaxed);
    // release stores keep each word after the odd seq
    for (size_t i = 0; i < kWords; ++i) word(p->words[i]).store(words[i], std::memory_order_release);
    word(p->seq).store(seq + 1, std::memory_order_release);
    word(p->magic).store(kMagic);
}

void DeviceLock::requestWaiting() { word(static_cast<Page*>(page_)->waiting).store(1); }
bool DeviceLock::waitingRequested() const {
    return word(static_cast<Page*>(page_)->waiting).load() != 0;
}
void DeviceLock::clearWaiting() { word(static_cast<Page*>(page_)->waiting).store(0); }

}  // namespace zef::audio
