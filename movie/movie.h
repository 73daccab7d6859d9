// The decoding library's public face: the Movie record and the Quarv entry
// points that the player calls. Failure is a null record or a 0 result; a
// null Movie argument is ignored by every entry point.
#pragma once
#include <cstdint>

#include "common/platform.h"

// Open flags, the second argument of QuarvOpen.
enum : uint32_t {
    OPEN_PAN_CONTROL = 0x20,
    OPEN_VOLUME_CONTROL = 0x40,
    OPEN_RATE_OVERRIDE = 0x80,
    OPEN_FILL_BUFFER = 0x100,
    OPEN_PRELOAD = 0x200,
    OPEN_NEVER_SKIP = 0x400,
    OPEN_SIMULATE_RATE = 0x800,
    OPEN_FROM_HANDLE = 0x1000,
    OPEN_TRACK0 = 0x2000,
    OPEN_TRACK1 = 0x4000,
    OPEN_TRACK2 = 0x8000,
    OPEN_TRACK3 = 0x10000,
    OPEN_TRACK4 = 0x20000,
    OPEN_TRACK5 = 0x40000,
    OPEN_TRACK6 = 0x80000,
    OPEN_ALL_TRACKS = 0xFE000,
    OPEN_Y_INTERLACE = 0x100000,
    OPEN_Y_DOUBLE = 0x200000,
    OPEN_Y_NONE = 0x300000,
    OPEN_CALLER_RECORD = 0x2000000,
};

constexpr int kMaxTracks = 7;

// Header flags.
enum : uint32_t { kHeaderRingFrame = 0x1, kHeaderYInterlace = 0x2, kHeaderYDouble = 0x4 };

// TrackFormat bits.
enum : uint32_t {
    kTrackRateMask = 0xFFFFFF,
    kTrackStereo = 0x10000000,
    kTrackBits16 = 0x20000000,
    kTrackPresent = 0x40000000,
    kTrackCompressed = 0x80000000,
};

// The 104-byte file header, little-endian 32-bit words.
struct MovieHeader {
    char Magic[4];  // "QVL2"
    uint32_t Width;
    uint32_t Height;
    uint32_t Frames;
    int32_t FrameRate;
    uint32_t Flags;
    uint32_t SoundLead[kMaxTracks];
    uint32_t TreeBlockSize;
    uint32_t MapTreeSize;
    uint32_t ColorTreeSize;
    uint32_t FullTreeSize;
    uint32_t TypeTreeSize;
    uint32_t TrackFormat[kMaxTracks];
    uint32_t Reserved;
};
static_assert(sizeof(MovieHeader) == 104, "header layout");

// The statistics record that QuarvSummary fills: 19 words in this order.
struct PlaybackSummary {
    uint32_t TotalTime;
    uint32_t FrameTime;
    uint32_t OpenTime;
    uint32_t FramesDecoded;
    uint32_t FramesSkipped;
    uint32_t SoundSkips;
    uint32_t CopyTime;
    uint32_t ReadTime;
    uint32_t DecodeTime;
    uint32_t BgReadTime;
    uint32_t ReadRate;
    uint32_t SlowestTime;
    uint32_t SecondSlowestTime;
    uint32_t SlowestFrame;
    uint32_t SecondSlowestFrame;
    uint32_t AverageFrameSize;
    uint32_t PeakMemUsed;
    uint32_t BufSize;
    uint32_t BufHighWater;
};
static_assert(sizeof(PlaybackSummary) == 19 * 4, "summary layout");

struct DecodeTables;
struct FrameTarget;
struct SoundTrack;

struct QuarvRect {
    int32_t x, y, width, height;
};

// The Movie record. Fields keep the order of the format's description;
// pointers are native size. Field comments give the owning concern.
struct Movie {
    MovieHeader Header;
    uint32_t NewPalette;
    uint8_t Palette[768];
    uint32_t FrameNum;
    uint32_t FrameSize;
    uint32_t VideoOffset;
    QuarvRect LastRect;
    uint32_t OpenFlags;
    int32_t TargetLeft, TargetTop;
    uint32_t LargestFrame;
    uint32_t PeakRate;
    uint32_t PeakFrame;
    uint32_t ReadError;
    QvFile FileHandle;
    uint32_t FrameBufferSize;
    struct DecodeTables* DecodeTables;
    struct FrameTarget* FrameTarget;
    uint32_t TargetSize;
    uint32_t PaletteSeen;
    uint16_t* TargetColorTable;
    uint32_t FirstFramePos;
    uint8_t* FrameBuffer;
    uint8_t* FrameData;
    int32_t PaletteFrame;
    uint32_t* FrameSizesPtr;
    uint8_t* FrameTypesPtr;
    uint8_t* PaletteChunk;
    uint8_t* SoundChunk[kMaxTracks];
    uint8_t* VideoData;
    uint32_t FrameDecoded;  // change-rectangle state: 0 idle, 1 new frame, 2 in progress, 3 finished
    QuarvRect ChangeSpan;
    uint32_t FrameDue;
    uint32_t NextDue;
    uint32_t FrameTime;
    struct SoundTrack* Track[kMaxTracks];
    int32_t TimingTrack;
    uint32_t SyncPending;
    uint32_t SoundPaused;
    // Read-ahead (stream reader).
    uint8_t* BufStart;
    uint8_t* BufEnd;
    uint8_t* BufRead;
    uint8_t* BufWrite;
    uint32_t BufCount;
    uint32_t BufSize;
    uint32_t StreamPos;
    // Read statistics.
    uint32_t BytesRead;
    uint32_t ReadTime;
    uint32_t BgBytesRead;
    uint32_t BgReadTime;
    uint32_t BufHighWater;
    uint32_t MemUsed;
    // Frame timing statistics.
    uint32_t FrameStart;
    uint32_t DecodeStart;
    uint32_t CopyStart;
    uint32_t PlayStart;
    uint32_t OpenTime;
    uint32_t OpenReadTime;
    uint32_t FramesDecoded;
    uint32_t FramesSkipped;
    uint32_t CopyTime;
    uint32_t DecodeTime;
    uint32_t SlowestTime;
    uint32_t SecondSlowestTime;
    uint32_t SlowestFrame;
    uint32_t SecondSlowestFrame;
    uint32_t AverageFrameSize;
    uint32_t PeakMemUsed;
    uint32_t SimulatedRate;
    // Pending changed rectangles: count, then up to 4 x (left, top, right, bottom).
    uint32_t PendingCount;
    int32_t PendingRects[4][4];
    uint32_t PauseFrame;
    // Not part of the stored layout's description, but needed to stay safe on
    // any input: n (the entries of FrameSizes and FrameTypes, ring frame
    // included) and the sum of all FrameSizes.
    uint32_t TableEntries;
    uint32_t TotalFrameBytes;
    uint32_t CallerRecord;   // 1 when the storage is the caller's
    uint32_t CallerHandle;   // 1 when the file handle is the caller's
    // Bytes of each SoundChunk[t] that lie inside the current frame record
    // (the chunk's own length word, cut to what the record holds; 0 without
    // a chunk). Set by SplitFrame; the sound step never reads past it.
    uint32_t SoundChunkSize[kMaxTracks];
    // The same for the palette chunk (bytes of the record from PaletteChunk
    // on, 0 without a chunk: a palette may run on past its length byte) and
    // the video payload (VideoData + VideoSize is the record's end; 0 when a
    // broken chunk stopped the walk). Set by SplitFrame; readers stay inside.
    uint32_t PaletteChunkSize;
    uint32_t VideoSize;
    // When QuarvPlayOut was first called for this movie (ms, 0 = not yet):
    // the end of the frames' playing for QuarvSummary.
    uint32_t PlayOutStart;
};

// Storage a caller must supply with OPEN_CALLER_RECORD.
constexpr uint32_t kMovieRecordSize = sizeof(Movie);

// --- Opening and closing -------------------------------------------------
// nameOrHandle: a file name, a QvFile cast to a pointer (OPEN_FROM_HANDLE),
// or caller storage of kMovieRecordSize bytes (OPEN_CALLER_RECORD).
Movie* QuarvOpen(const void* nameOrHandle, uint32_t flags, uint32_t extraBuffer);
void QuarvClose(Movie* movie);

// --- Sequencing and timing ------------------------------------------------
void QuarvNextFrame(Movie* movie);
uint32_t QuarvWait(Movie* movie);
// After the last frame's wait at a movie's natural end: 1 while the sound
// device has not yet played the sound of the frames shown (for at most the
// timing track's lead, counted from the first call), else 0. Closing at
// once instead cuts that sound off, as skipping and quitting should.
uint32_t QuarvPlayOut(Movie* movie);
uint32_t QuarvSoundOnOff(Movie* movie, uint32_t on);
void QuarvSetFrameRate(int32_t rate);
void QuarvSimulateRate(uint32_t bytesPerSecond);
void QuarvSummary(Movie* movie, PlaybackSummary* summary);
// Services the sound output when any sound track is open in the process.
void QuarvSoundService();

// --- Sound output -------------------------------------------------------------
// Installs the DirectSound sound driver (before any track opens). directSound:
// an IDirectSound object the caller already has, or null to let the driver
// create its own. False when DirectSound is missing or another driver is
// already installed.
bool QuarvUseDirectSound(void* directSound);
// The window (HWND) DirectSound cooperates with.
void QuarvSoundSetWindow(void* window);

// --- Decoding and targets ---------------------------------------------------
uint32_t QuarvDoFrame(Movie* movie);
void QuarvToBuffer(Movie* movie, int32_t left, int32_t top, int32_t pitch, uint32_t bufferHeight,
                   void* buffer, uint32_t flags);
uint32_t QuarvToBufferNext(Movie* movie, uint32_t mode);
void QuarvColorRemap(Movie* movie, const uint8_t* palette, uint32_t count, uint32_t flags);
