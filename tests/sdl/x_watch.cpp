// Watches the native player's window while it plays: every change of its
// size, position or title becomes a line of OUTFILE,
//   WIDTHxHEIGHT at X,Y | TITLE
// (the format of tests/win32/play_watch.exe, so the same helpers read both).
// With TIMESFILE, each line also goes there after the wall-clock time it was
// seen (Unix seconds, the clock the test's sound device keeps): titles are
// timed as the X server announces them, not by polling.
//   x_watch OUTFILE [TIMEOUT_MS=60000 [TIMESFILE]]
// Ends when the window has gone again (and no other player window came in
// its place within a second: SDL may make a window anew for its renderer),
// or at the timeout. Exit code 0 when a window was seen, 1 when none appeared.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double Now() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec + tv.tv_usec / 1e6;
}

// A top-level window titled "QuarvPlay...", or 0.
Window FindPlayer(Display* x) {
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; i++) {
        char* name = nullptr;
        if (XFetchName(x, children[i], &name) && name) {
            if (std::strncmp(name, "QuarvPlay", 9) == 0) found = children[i];
            XFree(name);
        }
    }
    if (children) XFree(children);
    return found;
}

std::string Describe(Display* x, Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(x, w, &a)) return "";
    int left = 0, top = 0;
    Window child;
    XTranslateCoordinates(x, w, DefaultRootWindow(x), 0, 0, &left, &top, &child);
    char* name = nullptr;
    std::string title;
    if (XFetchName(x, w, &name) && name) {
        title = name;
        XFree(name);
    }
    char line[512];
    std::snprintf(line, sizeof line, "%dx%d at %d,%d | %s", a.width, a.height, left, top, title.c_str());
    return line;
}

int Ignore(Display*, XErrorEvent*) { return 0; }  // the window may go at any moment

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: x_watch OUTFILE [TIMEOUT_MS [TIMESFILE]]\n");
        return 2;
    }
    const double deadline = Now() + (argc > 2 ? std::atof(argv[2]) : 60000) / 1000;
    Display* x = XOpenDisplay(nullptr);
    if (!x) {
        std::fprintf(stderr, "x_watch: no X display\n");
        return 2;
    }
    XSetErrorHandler(Ignore);
    std::FILE* out = std::fopen(argv[1], "w");
    std::FILE* times = argc > 3 ? std::fopen(argv[3], "w") : nullptr;
    if (!out || (argc > 3 && !times)) return 2;

    Window w = 0;
    while (!(w = FindPlayer(x))) {
        if (Now() > deadline) return 1;
        poll(nullptr, 0, 5);
    }
    XSelectInput(x, w, PropertyChangeMask | StructureNotifyMask);
    std::string last;
    bool gone = false;
    while (Now() < deadline) {
        if (gone) {
            const double until = Now() + 1;
            w = 0;
            while (!(w = FindPlayer(x)) && Now() < until) poll(nullptr, 0, 5);
            if (!w) break;
            XSelectInput(x, w, PropertyChangeMask | StructureNotifyMask);
            gone = false;
        }
        const std::string now = Describe(x, w);
        if (!now.empty() && now != last) {
            const double seen = Now();
            last = now;
            std::fprintf(out, "%s\n", now.c_str());
            std::fflush(out);
            if (times) {
                std::fprintf(times, "%.6f %s\n", seen, now.c_str());
                std::fflush(times);
            }
        }
        // Next change: wait on the connection, then take every event.
        if (!XPending(x)) {
            pollfd p{ConnectionNumber(x), POLLIN, 0};
            poll(&p, 1, 100);
        }
        while (XPending(x)) {
            XEvent e;
            XNextEvent(x, &e);
            if (e.type == DestroyNotify && e.xdestroywindow.window == w) gone = true;
        }
    }
    std::fclose(out);
    if (times) std::fclose(times);
    XCloseDisplay(x);
    return 0;
}
