// Sound tracks: every layout raw and packed, the cut into chunks (lead in
// frame 0, one frame's worth after, exact over the movie), and the delta
// cases where bytes wrap.
#include <gtest/gtest.h>

#include "tests/writer/helpers.h"

namespace {

using wtest::Decoded;

std::vector<uint8_t> RandomWalk(size_t frames, int bits, int channels, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    int32_t v[2] = {0, 0};
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            v[c] += static_cast<int32_t>(rng() % 61) - 30;
            if (bits == 8) {
                out.push_back(static_cast<uint8_t>(0x80 + (v[c] >> 4)));
            } else {
                uint16_t s = static_cast<uint16_t>(v[c] * 8);
                out.push_back(static_cast<uint8_t>(s));
                out.push_back(static_cast<uint8_t>(s >> 8));
            }
        }
    return out;
}

qvw::MoviePlan SilentMovie(uint32_t frames) {
    qvw::MoviePlan plan;
    plan.width = 8;
    plan.height = 8;
    plan.frames.resize(frames);
    return plan;
}

TEST(Sound, EveryLayoutRawAndPackedIsCutExactlyAndReadsBack) {
    const uint32_t rate = 11025, frames = 20, frame_time = 6666;
    for (int bits : {8, 16})
        for (int channels : {1, 2})
            for (bool compressed : {false, true}) {
                SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " channels" +
                             (compressed ? ", packed" : ", raw"));
                const uint32_t align = uint32_t(bits / 8 * channels);
                qvw::MoviePlan plan = SilentMovie(frames);
                qvw::TrackPlan tr;
                tr.rate = rate;
                tr.bits = bits;
                tr.channels = channels;
                tr.compressed = compressed;
                tr.pcm = RandomWalk(rate * 3 / 2, bits, channels, bits * 10 + channels);
                plan.tracks[2] = tr;
                Decoded d;
                std::vector<uint8_t> movie = qvw::WriteMovie(plan);
                wtest::DecodeAll(movie, &d);
                ASSERT_TRUE(d.ok) << d.error;
                const testread::Header& h = d.reader.header();
                EXPECT_EQ(h.track_format[2], rate | 0x40000000u | (channels == 2 ? 0x10000000u : 0) |
                                                 (bits == 16 ? 0x20000000u : 0) | (compressed ? 0x80000000u : 0));
                // Frame 0 holds the lead: a multiple of 4 bytes, about a second.
                const uint32_t lead = h.sound_lead[2];
                ASSERT_TRUE(d.frames[0].has_sound[2]);
                EXPECT_EQ(d.frames[0].sound[2].size(), lead);
                EXPECT_EQ(lead % 4, 0u);
                EXPECT_GT(lead, rate * align * 9 / 10);
                EXPECT_LE(lead, rate * align);
                // After k frames, exactly the lead plus k frames' whole samples.
                std::vector<uint8_t> all;
                for (uint32_t k = 0; k < frames; ++k) {
                    ASSERT_TRUE(d.frames[k].has_sound[2]) << k;
                    all.insert(all.end(), d.frames[k].sound[2].begin(), d.frames[k].sound[2].end());
                    const uint64_t due = uint64_t(k) * rate * frame_time / 100000;
                    EXPECT_EQ(all.size(), lead + due * align) << "after frame " << k;
                }
                // The sound is the input, then silence once the input ends.
                const size_t n = std::min(all.size(), tr.pcm.size());
                EXPECT_TRUE(std::equal(all.begin(), all.begin() + n, tr.pcm.begin()));
                for (size_t i = n; i < all.size(); ++i)
                    ASSERT_EQ(all[i], bits == 8 ? 0x80 : 0x00) << i;
                if (compressed) {
                    EXPECT_LT(d.frames[1].sound_chunk_size[2], d.frames[1].sound[2].size());
                    // Packed streams are padded to whole 32-bit words.
                    EXPECT_EQ(d.frames[1].sound_chunk_size[2] % 4, 0u);
                } else {
                    EXPECT_EQ(d.frames[1].sound_chunk_size[2], d.frames[1].sound[2].size() + 4);
                }
            }
}

// Given chunks, sample by sample: the cases where a delta crosses a byte.
TEST(Sound, DeltasCarryIntoTheHighByteButNeverAcrossChannels) {
    struct Case { int bits, channels; std::vector<uint8_t> pcm; };
    const std::vector<Case> cases = {
        // 16-bit mono: 0x00FF -> 0x0100 -> 0xFFFF -> 0x0000 -> 0x7FFF -> 0x8000
        {16, 1, {0xFF, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x7F, 0x00, 0x80}},
        // 8-bit stereo: left wraps 0xFF -> 0x00 -> 0xFF, right stays 0x10
        {8, 2, {0xFF, 0x10, 0x00, 0x10, 0xFF, 0x10, 0x01, 0x10}},
        // 16-bit stereo: left 0x00FF -> 0x0100, right 0xFFFF -> 0x0000
        {16, 2, {0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00, 0xFE, 0x00, 0x01, 0x00}},
        // 8-bit mono wrapping both ways
        {8, 1, {0x00, 0xFF, 0x01, 0x80, 0x7F, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + "/" + std::to_string(c.channels));
        qvw::MoviePlan plan = SilentMovie(4);
        qvw::TrackPlan tr;
        tr.bits = c.bits;
        tr.channels = c.channels;
        tr.compressed = true;
        const size_t frame = size_t(c.bits / 8 * c.channels);
        std::vector<uint8_t> one(c.pcm.begin(), c.pcm.begin() + frame);
        tr.frame_pcm = {c.pcm, one, std::vector<uint8_t>{}, std::nullopt};
        plan.tracks[0] = tr;
        Decoded d;
        wtest::DecodeAll(qvw::WriteMovie(plan), &d);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.frames[0].sound[0], c.pcm);
        EXPECT_EQ(d.reader.header().sound_lead[0], c.pcm.size());
        EXPECT_EQ(d.frames[1].sound[0], one);  // one sample frame: no deltas
        // No samples at all: header bits and one-leaf trees only.
        EXPECT_TRUE(d.frames[2].has_sound[0]);
        EXPECT_TRUE(d.frames[2].sound[0].empty());
        const uint32_t trees = c.bits / 8 * c.channels;
        EXPECT_EQ(d.frames[2].sound_chunk_size[0], 8 + 4 * ((3 + 11 * trees + 31) / 32));
        EXPECT_FALSE(d.frames[3].has_sound[0]);
    }
}

TEST(Sound, RingMovieTreatsTheSoundAsALoop) {
    const uint32_t frames = 6, rate = 1000;  // 66 samples per frame at 15 fps
    qvw::MoviePlan plan = SilentMovie(frames);
    plan.ring = true;
    qvw::TrackPlan tr;
    tr.rate = rate;
    tr.bits = 8;
    tr.channels = 1;
    tr.compressed = false;
    tr.lead_bytes = 100;
    for (int i = 0; i < 500; ++i) tr.pcm.push_back(static_cast<uint8_t>(i));  // longer than a loop
    plan.tracks[1] = tr;
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.frames.size(), frames + 1);
    // One loop is the 6 frames' worth of samples; chunks continue around it.
    const uint64_t period = uint64_t(frames) * rate * 6666 / 100000;
    uint64_t pos = 0;
    for (uint32_t k = 0; k <= frames; ++k) {
        const std::vector<uint8_t>& s = d.frames[k].sound[1];
        for (size_t i = 0; i < s.size(); ++i, ++pos) ASSERT_EQ(s[i], uint8_t(pos % period)) << k;
    }
    EXPECT_EQ(d.reader.header().sound_lead[1], 100u);
    EXPECT_EQ(pos, 100 + period);
}

TEST(Sound, BadTrackPlansAreRefused) {
    qvw::MoviePlan plan = SilentMovie(2);
    qvw::TrackPlan tr;
    tr.pcm.assign(100, 0);
    plan.tracks[0] = tr;
    plan.frame_rate = 0;  // no frame duration: no way to cut the sound
    EXPECT_THROW(qvw::WriteMovie(plan), std::invalid_argument);
    plan.frame_rate = -6666;
    plan.tracks[0]->bits = 12;
    EXPECT_THROW(qvw::WriteMovie(plan), std::invalid_argument);
    plan.tracks[0]->bits = 16;
    plan.tracks[0]->lead_bytes = 6;  // not whole 4-byte sample frames
    EXPECT_THROW(qvw::WriteMovie(plan), std::invalid_argument);
    plan.tracks[0]->lead_bytes.reset();
    plan.tracks[0]->rate = 0x1000000;
    EXPECT_THROW(qvw::WriteMovie(plan), std::invalid_argument);
    plan.tracks[0]->rate = 0xFFFFFF;
    plan.frame_rate = 0x7FFFFFFF;  // 24 days per frame: chunks beyond any size
    EXPECT_THROW(qvw::WriteMovie(plan), std::invalid_argument);
}

}  // namespace

namespace {

TEST(Sound, SevenTracksOfDifferentFormatsKeepTheirOrderAndContent) {
    qvw::MoviePlan plan = SilentMovie(6);
    for (int t = 0; t < 7; ++t) {
        qvw::TrackPlan tr;
        tr.rate = 4000 + 1000 * t;
        tr.bits = t % 2 ? 16 : 8;
        tr.channels = t % 3 ? 1 : 2;
        tr.compressed = t % 2 == 0;
        tr.pcm = RandomWalk(tr.rate * 2, tr.bits, tr.channels, 100 + t);
        plan.tracks[t] = tr;
    }
    plan.tracks[3]->chunk_modes = {{2, qvw::ChunkMode::Absent}};
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    for (int t = 0; t < 7; ++t) {
        SCOPED_TRACE(t);
        std::vector<uint8_t> got;
        for (uint32_t i = 0; i < 6; ++i) {
            if (t == 3 && i == 2) {
                EXPECT_FALSE(d.frames[i].has_sound[t]);
                EXPECT_EQ(d.frames[i].type & (2 << t), 0);
                break;
            }
            EXPECT_NE(d.frames[i].type & (2 << t), 0);
            got.insert(got.end(), d.frames[i].sound[t].begin(), d.frames[i].sound[t].end());
        }
        ASSERT_FALSE(got.empty());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), plan.tracks[t]->pcm.begin()));
        EXPECT_EQ(d.reader.header().sound_lead[t], d.frames[0].sound[t].size());
    }
}

}  // namespace
