// Plays a movie's first sound track through one sound back-end with the
// player's frame loop, for a script that compares what the sound device
// recorded with the movie's sound.
//
//   sound_play.exe MOVIE waveout|dsound [PAUSE_FRAME]
//
// With PAUSE_FRAME the sound is switched off after that frame, left off for
// 400 ms, and switched on again on the same frame. Prints one line:
//   frames N written_at_pause W lead L skips S overflows O
// where W counts the movie's sound written up to the pause (the silence the
// library inserted after underruns left out).
// Exit codes: 0 played; 2 usage; 3 the back-end could not be installed;
// 4 the movie or its sound track did not open; 5 the sound did not restart.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "movie/movie.h"
#include "movie/sound_track.h"

namespace {

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Keeps the device fed for ms milliseconds, as the player's loop would.
void Idle(uint32_t ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        QuarvSoundService();
        Pump();
        Sleep(5);
    }
}

HWND MakeWindow() {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuarvelSoundTest";
    RegisterClassA(&wc);
    HWND w = CreateWindowA("QuarvelSoundTest", "sound test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
    ShowWindow(w, SW_SHOW);
    return w;
}

// The unpacked size of the current frame's chunk of track 0.
uint32_t ChunkSound(const Movie* m) {
    const uint8_t* c = m->SoundChunk[0];
    if (!c || m->SoundChunkSize[0] < 8) return 0;
    uint32_t word;
    if (m->Header.TrackFormat[0] & kTrackCompressed) {
        std::memcpy(&word, c + 4, 4);
        return word;
    }
    std::memcpy(&word, c, 4);
    return word - 4;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) return 2;
    const bool directSound = std::strcmp(argv[2], "dsound") == 0;
    if (!directSound && std::strcmp(argv[2], "waveout") != 0) return 2;
    const long pauseFrame = argc > 3 ? std::atol(argv[3]) : -1;

    HWND window = MakeWindow();
    if (directSound) {
        if (!QuarvUseDirectSound(nullptr)) {
            std::printf("DirectSound could not be installed\n");
            return 3;
        }
        QuarvSoundSetWindow(window);
    }
    Movie* m = QuarvOpen(argv[1], OPEN_TRACK0, 0xFFFFFFFFu);
    if (!m || m->TimingTrack != 0) {
        std::printf("the movie or its sound track did not open\n");
        return 4;
    }
    SoundTrack* track = m->Track[0];
    uint32_t writtenAtPause = 0, written = 0;
    uint32_t frames = 0;
    for (;;) {
        written += ChunkSound(m);
        QuarvDoFrame(m);
        frames++;
        Pump();
        if (static_cast<long>(m->FrameNum) == pauseFrame) {
            writtenAtPause = written;
            QuarvSoundOnOff(m, 0);
            Idle(400);
            if (!QuarvSoundOnOff(m, 1)) {
                std::printf("the sound did not restart\n");
                return 5;
            }
        }
        if (m->FrameNum == m->Header.Frames - 1) break;
        QuarvNextFrame(m);
        while (QuarvWait(m)) {
            Pump();
            Sleep(1);
        }
    }
    Idle(1500);  // the rest of the sound (the lead and the device's blocks), and the back-end's own ending
    std::printf("frames %u written_at_pause %u lead %u skips %u overflows %u\n", frames, writtenAtPause, track->Lead,
                track->SoundSkips, track->Overflows);
    QuarvClose(m);
    DestroyWindow(window);
    return 0;
}
