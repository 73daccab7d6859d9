// QuarvDoFrame: one frame's sound, the lateness test, and the picture.
#include <cstring>

#include "movie/movie_internal.h"
#include "video/frame_target.h"
#include "video/palette.h"

uint32_t QuarvDoFrame(Movie* movie) {
    if (!movie || movie->ReadError) return 0;
    const uint32_t now = NowMs();
    movie->FrameStart = now;
    movie->DecodeStart = now;
    if (movie->PlayStart == 0) movie->PlayStart = now;
    if (movie->NewPalette) movie->PaletteFrame = static_cast<int32_t>(movie->FrameNum);

    ++movie->FramesDecoded;
    SoundStep(movie);

    const uint32_t late = movie->FrameTime ? FrameIsLate(movie) : 0;
    const bool skipVideo = late == 1 && !(movie->OpenFlags & OPEN_NEVER_SKIP);
    if (FrameTarget* target = movie->FrameTarget) {
        if (skipVideo) {
            ++movie->FramesSkipped;
        } else {
            movie->FrameDecoded = 1;
            if (movie->TargetColorTable) {
                if (movie->PaletteSeen)
                    BuildTargetColorTable(movie->TargetColorTable, movie->Palette, target->PixelFormat);
                std::memcpy(DecoderColorTable, movie->TargetColorTable, sizeof DecoderColorTable);
            }
            DecodeFrame(movie->VideoData, movie->VideoSize, movie->DecodeTables, target, DecoderColorTable);
        }
    }
    ServiceIfTracksOpen();
    return late;
}
