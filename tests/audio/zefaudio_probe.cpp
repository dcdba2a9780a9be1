// A second process for the device tests: tries the device, holds it, reads
// it through the control side, or fills a file device past a size limit.
//   zefaudio_probe open DEVICE        exit 0 when it could open, else errno
//   zefaudio_probe hold DEVICE GAIN   opens, sets the gain, says "held",
//                                     keeps the device until stdin closes
//   zefaudio_probe info DEVICE        prints "open=.. gain=.. waiting=.."
//   zefaudio_probe fill DEVICE BYTES  file size limit BYTES; writes until the
//                                     device fails; prints "write=ERR close=ERR"
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "zefaudio.h"

namespace {

int openDevice(const char* device) { return zefAudioOpen(device, O_WRONLY | O_NONBLOCK); }

int hold(const char* device, unsigned gain) {
    int fd = openDevice(device);
    if (fd < 0) return errno;
    audio_info info;
    AUDIO_INITINFO(&info);
    info.play.gain = gain;
    info.play.pause = 1;
    zefAudioSetInfo(fd, &info);
    std::vector<char> second(16000);
    zefAudioWrite(fd, second.data(), second.size());
    printf("held\n");
    fflush(stdout);
    char buf[64];
    while (read(0, buf, sizeof buf) > 0) {
    }
    return zefAudioClose(fd) == 0 ? 0 : errno;
}

int info(const char* device) {
    int fd = zefAudioOpenCtl(device);
    audio_info i;
    if (fd < 0 || zefAudioGetInfo(fd, &i) != 0) return errno;
    printf("open=%u gain=%u waiting=%u\n", i.play.open, i.play.gain, i.play.waiting);
    zefAudioClose(fd);
    return 0;
}

int fill(const char* device, long limit) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {rlim_t(limit), rlim_t(limit)};
    setrlimit(RLIMIT_FSIZE, &rl);
    int fd = openDevice(device);
    if (fd < 0) return errno;
    std::vector<char> chunk(1600);
    int writeErr = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (zefAudioWrite(fd, chunk.data(), chunk.size()) < 0) {
            writeErr = errno;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int closeErr = zefAudioClose(fd) == 0 ? 0 : errno;
    printf("write=%d close=%d\n", writeErr, closeErr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && strcmp(argv[1], "open") == 0) {
        int fd = openDevice(argv[2]);
        if (fd < 0) return errno;
        return zefAudioClose(fd) == 0 ? 0 : errno;
    }
    if (argc >= 4 && strcmp(argv[1], "hold") == 0) return hold(argv[2], unsigned(atoi(argv[3])));
    if (argc >= 3 && strcmp(argv[1], "info") == 0) return info(argv[2]);
    if (argc >= 4 && strcmp(argv[1], "fill") == 0) return fill(argv[2], atol(argv[3]));
    fprintf(stderr, "usage: zefaudio_probe open|hold|info|fill DEVICE [ARG]\n");
    return 2;
}
