// Reads the message boxes other programs show and closes them: for each box
// its title, its text and its owner's title go to a file, then OK is pressed.
//   boxreader OUTFILE [COUNT=1] [TIMEOUT_MS=60000]
// Exit code 0 when COUNT boxes were read before the timeout, else 1.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

BOOL CALLBACK CollectBoxes(HWND window, LPARAM param) {
    char cls[16] = {};
    if (GetClassNameA(window, cls, sizeof cls) && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// The whole text of a window, also of another process's (WM_GETTEXT is marshalled).
std::string TextOf(HWND window) {
    const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const LRESULT got = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: boxreader OUTFILE [COUNT] [TIMEOUT_MS]\n");
        return 2;
    }
    const int wanted = argc > 2 ? std::atoi(argv[2]) : 1;
    const DWORD timeout = argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 60000;
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 2;
    }

    std::vector<HWND> handled;
    int read = 0;
    const DWORD start = GetTickCount();
    while (read < wanted && GetTickCount() - start < timeout) {
        std::vector<HWND> boxes;
        EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
        for (HWND box : boxes) {
            if (read >= wanted || std::find(handled.begin(), handled.end(), box) != handled.end()) continue;
            handled.push_back(box);
            HWND textControl = GetDlgItem(box, 0xFFFF);
            HWND owner = GetWindow(box, GW_OWNER);
            const std::string title = TextOf(box);
            const std::string text = textControl ? TextOf(textControl) : std::string("(no text control)");
            const std::string ownerTitle = owner ? TextOf(owner) : std::string("(none)");
            std::fprintf(out, "%s\n%s\nowner: %s\n", title.c_str(), text.c_str(), ownerTitle.c_str());
            std::fflush(out);
            ++read;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            for (int i = 0; i < 100 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(50);
        }
        Sleep(50);
    }
    std::fclose(out);
    std::printf("boxreader: %d box(es) read\n", read);
    return read >= wanted ? 0 : 1;
}
