// A second process for the playback tests: plays a coded WAVE file on a
// device through the library, optionally under a file size limit (so that
// a file device fails while it plays), and prints what came of it:
//   playback_probe DEVICE FILE [LIMIT]
//   -> "result=R secondary=S failed-status-seen=0|1 session-open=0|1"
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mirlane.h"

namespace {

bool sawFailure = false;

uint16_t watch(uint16_t, uint16_t status, void*) {
    if (status == KELVANE_STATUS_DEVICE_FAILED) sawFailure = true;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: playback_probe DEVICE FILE [LIMIT]\n");
        return 2;
    }
    setenv("ZEFAUDIO", argv[1], 1);
    if (argc > 3) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {rlim_t(std::atol(argv[3])), rlim_t(std::atol(argv[3]))};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    KELVANE_DATA kd;
    std::memset(&kd, 0, sizeof kd);
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = ZEFTYPE_FORMAT_WAVE | ZEFTYPE_LOCATION_FILE | ZEFTYPE_QUALIFIER_ZEF;
    kd.lpInputLocation = argv[2];
    kd.dwOutputType = ZEFTYPE_LOCATION_SOUND;
    kd.fWarpedLengthFactor = 1.0f;
    kd.lpCallback = watch;
    uint16_t result = dcmpMirlanePlay(&kd, 0, 0);
    std::printf("result=%u secondary=%u failed-status-seen=%d session-open=%d\n", result,
                unsigned(kd.dwSecondaryError), sawFailure ? 1 : 0, kd.lpControlBlock ? 1 : 0);
    if (kd.lpControlBlock) dcmpMirlaneCleanup(&kd);
    return 0;
}
