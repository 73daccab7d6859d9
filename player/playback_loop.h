// The playback loop over a list of movie names, written against the
// services it uses, so that the same loop runs the Win32 program and, with
// stand-ins, the tests.
#pragma once
#include <cstdint>

struct Movie;
struct PlaybackSummary;
struct QuarvBuffer;

class PlaybackHost {
public:
    virtual ~PlaybackHost() = default;

    // The movie library.
    virtual void SimulateRate(uint32_t bytesPerSecond) = 0;
    virtual void SetFrameRate(int32_t rate) = 0;
    virtual Movie* OpenMovie(const char* name, uint32_t flags, uint32_t extraBuffer) = 0;
    // The movie at byte `offset` of the program's own executable; the host
    // keeps the file open until CloseMovie. Null when it cannot be had.
    virtual Movie* OpenOwnImage(uint32_t offset, uint32_t flags, uint32_t extraBuffer) = 0;
    // QuarvClose, and the own executable's file if the movie came from it.
    virtual void CloseMovie(Movie* movie) = 0;
    virtual void SoundSetWindow() = 0;  // DirectSound gets the player window
    virtual void ToBuffer(Movie* movie, int32_t pitch, uint32_t height, void* pixels, uint32_t flags) = 0;
    virtual void ColorRemap(Movie* movie, const uint8_t* palette, uint32_t count, uint32_t layout) = 0;
    virtual uint32_t DoFrame(Movie* movie) = 0;
    virtual uint32_t ToBufferNext(Movie* movie, uint32_t mode) = 0;
    virtual void NextFrame(Movie* movie) = 0;
    virtual uint32_t SoundOnOff(Movie* movie, uint32_t on) = 0;
    virtual uint32_t Wait(Movie* movie) = 0;
    virtual uint32_t PlayOut(Movie* movie) = 0;
    virtual void Summary(Movie* movie, PlaybackSummary* summary) = 0;

    // Screen, window, keys and boxes.
    virtual void SetDisplayMode(int32_t mode) = 0;  // 0 restores
    virtual bool OpenWindow(uint32_t width, uint32_t height, int32_t x, int32_t y, uint32_t displayFlags) = 0;
    virtual void CloseWindow() = 0;
    virtual QuarvBuffer* Display() = 0;
    virtual bool KeyWaiting() = 0;
    virtual int GetKey() = 0;
    virtual bool DisplayFocused() = 0;
    // The window is gone, or was forgotten when the message pump met the
    // quit message (its owner took it down) while playing.
    virtual bool WindowLost() = 0;
    virtual void SetCaption(const char* text) = 0;
    virtual void ShowMessage(const char* text1, const char* text2, const char* text3, int icon) = 0;
    virtual void ShowSummary() = 0;

    // The display.
    virtual void UpdatePalette(const uint8_t colours[768]) = 0;
    virtual void ReadScreenPalette(uint8_t colours[768]) = 0;
    virtual void* GetDrawContext() = 0;  // the window's device context, or null
    virtual void ReleaseDrawContext(void* dc) = 0;
    virtual void StartRects() = 0;
    virtual void FlushRects() = 0;
    // QuarvBufferBlit with the buffer's origin at the client's (0, 0).
    virtual uint32_t Blit(void* dc, int32_t srcX, int32_t srcY, int32_t width, int32_t height) = 0;
    virtual void Clear(uint32_t colour) = 0;
};

// Plays every name of `names` with the process-wide settings: opens each
// movie, runs its frames through the window's display, handles the keys and
// the focus, repeats as /L says, and at the end closes the window, restores
// the screen mode and shows the summary under /S.
void RunPlayback(const char* names, PlaybackHost& host);
