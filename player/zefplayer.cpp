// zefplayer [toolkit options] [file]: plays one Zef file in a small window.
//
// The toolkit takes its options (-display, -geometry, -xrm, ...) wherever
// they stand; the first argument left is the file. --help and --version
// print and end the program before any display is opened.
//
// Without a file argument it plays the file that ZEFINPUTFILE names, else
// "intro.zef" in the current directory; when there is none there, the
// bundled intro.zef is used: the one beside the executable (the build puts
// a copy there), else the installed ../share/zefplayer/intro.zef, else the
// one in the source tree the program was built from.
//
// The program ends when its window is closed, or on SIGINT, SIGTERM or
// SIGHUP; the audio device is then closed properly.
#include <Xm/Protocols.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "player.h"

#ifndef ZEF_SOURCE_INTRO
#define ZEF_SOURCE_INTRO "intro.zef"
#endif
#ifndef ZEFPLAYER_VERSION
#define ZEFPLAYER_VERSION "unknown"
#endif

namespace {

int programDebug = 0;
XtSignalId quitSignal = 0;

char fallbackTransient[] = "*transient:\t\t\t\tTrue";
char fallbackBackground[] = "*PlayerForm.background:\t\tlightgrey";
char fallbackX[] = "zefplayer.x:\t\t\t\t100";
char fallbackInfoBackground[] = "*InforObj*background:\t\tlightgrey";
char fallbackDrawnButton[] = "*DrawnButton*pushButtonEnabled:\tTrue";
char fallbackFonts[] =
    "*fontList:\t\t\t\t-*-courier-*-r-*--10-*=LTAG,-*-courier-bold-o-*--18-*=VTAG,"
    "-*-courier-medium-r-*--12-*=FTAG";
char* fallbackResources[] = {fallbackTransient,      fallbackBackground,  fallbackX,
                             fallbackInfoBackground, fallbackDrawnButton, fallbackFonts,
                             nullptr};

bool readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

std::string executableDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    std::string s(path);
    const auto slash = s.rfind('/');
    return slash == std::string::npos ? std::string() : s.substr(0, slash);
}

std::string introFile() {
    const std::string here = "intro.zef";
    if (readable(here)) return here;
    std::vector<std::string> candidates;
    const std::string dir = executableDirectory();
    if (!dir.empty()) {
        candidates.push_back(dir + "/intro.zef");
        candidates.push_back(dir + "/../share/zefplayer/intro.zef");
    }
    candidates.push_back(ZEF_SOURCE_INTRO);
    for (const std::string& candidate : candidates)
        if (readable(candidate)) return candidate;
    return here;  // reported as not accessible
}

const char kUsage[] =
    "usage: zefplayer [toolkit options] [file]\n"
    "Plays a Zef file (.zef, .x-zef) in a small window; without a file, the one\n"
    "that ZEFINPUTFILE names, else intro.zef.\n"
    "\n"
    "  --help      print this text and exit\n"
    "  --version   print the version and exit\n"
    "  -display DISPLAY, -geometry +X+Y, -xrm RESOURCE, ...  the X toolkit's options\n"
    "\n"
    "Keys: Space play/pause, Home rewind, Left/Right 5 s back/on, Up/Down volume,\n"
    "+/- speed, q or Ctrl-Q quit. The mouse wheel over the speaker sets the volume.\n"
    "The sound goes to the device that ZEFAUDIO names (alsa, file:PATH.wav, null).\n";

// --help or --version among the arguments (before a "--"): 0 printed, -1 none.
int answerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
        const std::string a = argv[i];
        if (a == "--help") return std::fputs(kUsage, stdout), 0;
        if (a == "--version") return std::printf("zefplayer %s\n", ZEFPLAYER_VERSION), 0;
    }
    return -1;
}

// The file: the first argument the toolkit left (after a "--", whatever it
// looks like), else ZEFINPUTFILE, else intro.zef. Empty when an argument is
// an option nobody knows.
std::string inputFile(const std::vector<char*>& left) {
    size_t i = 1;
    if (i < left.size() && left[i] && std::string(left[i]) == "--") ++i;
    else if (i < left.size() && left[i] && left[i][0] == '-' && left[i][1] != '\0') return {};
    if (i < left.size() && left[i]) return left[i];
    if (const char* named = std::getenv("ZEFINPUTFILE")) return named;
    return introFile();
}

// The toolkit runs the quit callback from its loop; the signal also
// interrupts the loop's wait, so that an idle player ends at once too.
void onSignal(int) { XtNoticeSignal(quitSignal); }

void quitRequested(XtPointer client, XtSignalId*) { static_cast<Player*>(client)->ExitLoop(); }

void windowClosed(Widget, XtPointer client, XtPointer) { static_cast<Player*>(client)->ExitLoop(); }

// Closing the window or a signal ends the event loop, so that the player is
// destroyed and the device closed as after a normal end.
void installQuitHandlers(Player& player) {
    if (player.topLevel) {
        Arg arg[1];
        XtSetArg(arg[0], XmNdeleteResponse, XmDO_NOTHING);
        XtSetValues(player.topLevel, arg, 1);
        const Atom deleteWindow = XInternAtom(player.display, "WM_DELETE_WINDOW", False);
        XmAddWMProtocolCallback(player.topLevel, deleteWindow, windowClosed, &player);
    }
    if (!player.appContext) return;
    quitSignal = XtAppAddSignal(player.appContext, quitRequested, &player);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("ZEFPLAYER")) programDebug = 1;
    std::ios::sync_with_stdio(true);
    std::cerr.tie(&std::cout);

    if (answerInformationOptions(argc, argv) == 0) return 0;
    // The toolkit takes its options out of the list and moves the rest to
    // its front, ending it with a null.
    std::vector<char*> left(argv, argv + argc);
    left.push_back(nullptr);
    Player player(argc, left.data(), fallbackResources);
    const std::string file = inputFile(left);
    if (file.empty()) {
        std::cerr << "zefplayer: unknown option " << left[1] << "\n" << kUsage;
        return 2;
    }
    if (programDebug) std::cout << "zefplayer: playing " << file << std::endl;
    try {
        installQuitHandlers(player);
        player.initAudioDevice("/dev/audio");
        player.start(file.c_str());
    } catch (const std::exception& e) {
        std::cerr << "zefplayer: " << e.what() << std::endl;
        return 1;
    }
    if (programDebug) std::cout << "zefplayer: done" << std::endl;
    return 0;
}
