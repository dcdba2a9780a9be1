// embedhost: a host program with the player embedded in its own window. It
// reads a Zef file and hands the coded speech to the player in pieces, at a
// chosen pace, as a program receiving it over a network would: the first
// piece with Player::start, the others with Player::playMore, and the end of
// the stream as a piece of length 0.
//
// When the audio device is busy, pressing the player's play button asks
// the holder (the first other window carrying the "Audio-Msg" property) to
// give it up with a "close" message.
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/Protocols.h>
#include <Xm/BulletinB.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player.h"

namespace {

const char kUsage[] =
    "usage: embedhost [options] FILE\n"
    "Plays the Zef file FILE in a player embedded in this program's window,\n"
    "handing the coded speech over in pieces at a chosen pace.\n"
    "\n"
    "  -m, --mode N        1 large icon, 2 small icon, 3 whole window (default),\n"
    "                      4 hidden, 5 whole window in a shell of its own\n"
    "  -f, --first BYTES   bytes handed over at the start (default 1024)\n"
    "  -p, --piece BYTES   bytes of each later piece (default 600)\n"
    "  -i, --interval MS   time between pieces (default 100)\n"
    "  -t, --title TEXT    window title (default embedhost)\n"
    "  -s, --stopped       start stopped: playing begins with the play button\n"
    "  -q, --quit-at-end   end once the sound has been played to its end\n"
    "  -h, --help          this text\n"
    "Toolkit options (-display, -geometry, ...) go before the options above.\n";

struct Options {
    VISUALMODE mode = VISUAL_FULL;
    long first = 1024;
    long piece = 600;
    long interval = 100;
    std::string title = "embedhost";
    bool stopped = false;
    bool quitAtEnd = false;
    std::string file;
};

struct Host {
    Options options;
    std::vector<char> data;
    size_t handed = 0;
    bool ended = false;  // the end of the stream was handed over
    Player* player = nullptr;
};

Host host;
XtSignalId quitSignal = 0;

[[noreturn]] void usageError(const std::string& what) {
    std::fprintf(stderr, "embedhost: %s\n%s", what.c_str(), kUsage);
    std::exit(2);
}

long number(const char* text, const char* option, long low, long high) {
    char* end = nullptr;
    const long v = text ? std::strtol(text, &end, 10) : 0;
    if (!text || !*text || *end || v < low || v > high)
        usageError(std::string(option) + " needs a number from " + std::to_string(low) + " to " +
                   std::to_string(high));
    return v;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "-m" || a == "--mode") {
            o.mode = static_cast<VISUALMODE>(number(value(), "--mode", 1, 5));
        } else if (a == "-f" || a == "--first") {
            o.first = number(value(), "--first", 1, 1L << 30);
        } else if (a == "-p" || a == "--piece") {
            o.piece = number(value(), "--piece", 1, 1L << 30);
        } else if (a == "-i" || a == "--interval") {
            o.interval = number(value(), "--interval", 0, 60000);
        } else if (a == "-t" || a == "--title") {
            const char* t = value();
            if (!t) usageError("--title needs a text");
            o.title = t;
        } else if (a == "-s" || a == "--stopped") {
            o.stopped = true;
        } else if (a == "-q" || a == "--quit-at-end") {
            o.quitAtEnd = true;
        } else if (a == "--") {
            if (i + 1 < argc) o.file = argv[++i];
        } else if (!a.empty() && a[0] == '-') {
            usageError("unknown option " + a);
        } else if (o.file.empty()) {
            o.file = a;
        } else {
            usageError("only one file");
        }
    }
    if (o.file.empty()) usageError("no file given");
    return o;
}

bool readWhole(const std::string& path, std::vector<char>* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

// The holder of the audio device: the first window, other than this
// program's own, that carries the "Audio-Msg" property.
Window deviceOwner() {
    Player* p = host.player;
    if (!p || !p->topLevel) return 0;
    const Window own = XtWindow(p->topLevel);
    for (const Window* w = p->FindAllwinsWithProp(Player::AUDIO_MSG); w && *w; ++w)
        if (*w != own) return *w;
    return 0;
}

void deviceOpened(Window) {
    std::printf("embedhost: device opened\n");
    std::fflush(stdout);
}

void feed(XtPointer, XtIntervalId*) {
    Player* p = host.player;
    if (!p) return;  // the player is going
    if (host.handed < host.data.size()) {
        const size_t n = std::min(host.data.size() - host.handed, size_t(host.options.piece));
        if (p->playMore(host.data.data() + host.handed, int(n)) != 0) {
            std::fprintf(stderr, "embedhost: the player refused %zu bytes at %zu\n", n, host.handed);
            host.handed = host.data.size();
        } else {
            host.handed += n;
        }
    }
    if (host.handed >= host.data.size()) {
        p->playMore(nullptr, 0);
        host.ended = true;
        std::printf("embedhost: all %zu bytes handed over\n", host.data.size());
        std::fflush(stdout);
        return;
    }
    p->addTimeOutProc(feed, static_cast<unsigned long>(host.options.interval), nullptr);
}

void watchForEnd(XtPointer, XtIntervalId*) {
    Player* p = host.player;
    if (!p) return;
    if (host.ended && p->playState == PLAYER_FINISHED) {
        std::printf("embedhost: played to the end\n");
        std::fflush(stdout);
        p->ExitLoop();
        return;
    }
    p->addTimeOutProc(watchForEnd, 100, nullptr);
}

// The toolkit runs the quit callback from its loop; the signal also
// interrupts the loop's wait, so that an idle player ends at once too.
void onSignal(int) { XtNoticeSignal(quitSignal); }

void quitRequested(XtPointer, XtSignalId*) {
    if (host.player) host.player->ExitLoop();
}

void windowClosed(Widget, XtPointer, XtPointer) {
    if (host.player) host.player->ExitLoop();
}

void installQuitHandlers(Widget shell) {
    Arg arg[1];
    XtSetArg(arg[0], XmNdeleteResponse, XmDO_NOTHING);
    XtSetValues(shell, arg, 1);
    const Atom deleteWindow = XInternAtom(XtDisplay(shell), "WM_DELETE_WINDOW", False);
    XmAddWMProtocolCallback(shell, deleteWindow, windowClosed, nullptr);
    quitSignal = XtAppAddSignal(XtWidgetToApplicationContext(shell), quitRequested, nullptr);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

// The host's own window: a caption above a framed area for the player.
Widget buildHostWindow(Widget shell) {
    Widget form = XtVaCreateManagedWidget("HostForm", xmFormWidgetClass, shell, XmNmarginWidth, 6,
                                          XmNmarginHeight, 6, nullptr);
    const std::string text = "Streaming " + std::string(XDisp::basename(host.options.file.c_str()));
    XmString caption = XmStringCreateLocalized(const_cast<char*>(text.c_str()));
    Widget label = XtVaCreateManagedWidget("Caption", xmLabelWidgetClass, form, XmNlabelString, caption,
                                           XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM,
                                           nullptr);
    XmStringFree(caption);
    Widget frame = XtVaCreateManagedWidget("PlayerFrame", xmFrameWidgetClass, form, XmNtopAttachment,
                                           XmATTACH_WIDGET, XmNtopWidget, label, XmNtopOffset, 4,
                                           XmNleftAttachment, XmATTACH_FORM, nullptr);
    return XtVaCreateManagedWidget("PlayerArea", xmBulletinBoardWidgetClass, frame, XmNmarginWidth, 0,
                                   XmNmarginHeight, 0, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    XtAppContext app = nullptr;
    Widget shell = XtVaAppInitialize(&app, "Embedhost", nullptr, 0, &argc, argv, nullptr, nullptr);
    host.options = parse(argc, argv);
    if (!readWhole(host.options.file, &host.data) || host.data.empty()) {
        std::fprintf(stderr, "embedhost: cannot read %s\n", host.options.file.c_str());
        return 1;
    }
    // The window grows round the player once it is built.
    XtVaSetValues(shell, XtNtitle, host.options.title.c_str(), XtNallowShellResize, True, nullptr);
    Widget area = buildHostWindow(shell);
    XtRealizeWidget(shell);

    Player player(area);
    host.player = &player;
    player.findDeviceOwner = deviceOwner;
    player.deviceOpenedHook = deviceOpened;
    installQuitHandlers(shell);
    player.initAudioDevice("/dev/audio");

    const char* name = host.options.file.c_str();
    player.startGui(name, host.options.mode);
    host.handed = std::min(host.data.size(), size_t(host.options.first));
    const int failed = player.start(name, host.data.data(), int(host.handed), !host.options.stopped);
    if (failed) {
        std::fprintf(stderr, "embedhost: the player cannot play %s\n", name);
        if (host.options.quitAtEnd) return 1;
    } else {
        player.addTimeOutProc(feed, static_cast<unsigned long>(host.options.interval), nullptr);
        if (host.options.quitAtEnd) player.addTimeOutProc(watchForEnd, 100, nullptr);
    }
    player.MainLoop();
    host.player = nullptr;  // timers that the player's end still runs leave it alone
    return failed;
}
