// Thin layer over the few operating-system services the portable code needs:
// files (by name and by handle), the millisecond clock, debug output and the
// profile integer. The Win32 build makes the real calls (CreateFileA, ReadFile,
// SetFilePointer, CloseHandle, timeGetTime, OutputDebugStringA, GetProfileIntA);
// the POSIX build maps them (see platform_posix.cpp). Tests may replace the
// file layer and the clock to count reads and to simulate time.
#pragma once
#include <cstdint>

// A file handle as the library sees it: the Win32 HANDLE value, or a POSIX
// descriptor. -1 means "no file".
typedef intptr_t QvFile;
constexpr QvFile kNoFile = -1;

// Origin values for FileSeek, equal to FILE_BEGIN / FILE_CURRENT / FILE_END.
enum : uint32_t { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

struct FileLayer {
    QvFile (*open_read)(const char* name);               // read-only, shared read, existing, sequential scan
    uint32_t (*read)(QvFile f, void* dst, uint32_t count);  // bytes actually read (0 on error)
    uint32_t (*seek)(QvFile f, int32_t offset, uint32_t origin);  // new position, 0xFFFFFFFF on failure
    void (*close)(QvFile f);
};

// The layer in use. SetFileLayer(nullptr) restores the platform's own.
const FileLayer* GetFileLayer();
void SetFileLayer(const FileLayer* layer);

inline QvFile FileOpenRead(const char* name) { return GetFileLayer()->open_read(name); }
inline uint32_t FileRead(QvFile f, void* dst, uint32_t n) { return GetFileLayer()->read(f, dst, n); }
inline uint32_t FileSeek(QvFile f, int32_t off, uint32_t origin) { return GetFileLayer()->seek(f, off, origin); }
inline void FileClose(QvFile f) { GetFileLayer()->close(f); }

// Milliseconds, wrapping at 2^32 (timeGetTime). SetClock(nullptr) restores it.
uint32_t NowMs();
void SetClock(uint32_t (*clock)());

// Sleeps or yields for about ms milliseconds (Sleep).
void SleepMs(uint32_t ms);

// Writes text to the debugger (OutputDebugStringA); on POSIX to stderr.
void DebugOut(const char* text);

// GetProfileIntA(section, key, def). On POSIX the value comes from the
// environment variable QUARVEL_PROFILE_<SECTION>_<KEY> (upper case), e.g.
// QUARVEL_PROFILE_QUARVEL_DEBUG=1 turns on the library's debug log.
int32_t ProfileInt(const char* section, const char* key, int32_t def);
