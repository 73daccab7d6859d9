// Headless sound output for tests and tools: a model device that takes bytes
// from each track's ring at the track's byte rate, paced by NowMs() (which a
// test can replace with SetClock), and, when asked to, records everything it
// took.
#pragma once
#include <cstdint>
#include <vector>

struct SoundTrack;

// Fills the driver table with the headless back-end unless a driver is
// already installed.
void InstallHeadlessSoundDriver();

// Instant mode: every service takes whatever the rings hold, as a device
// infinitely fast would (tools that decode as fast as they can). Off by
// default: the device takes BytesPerSecond x elapsed ms / 1000.
void HeadlessSetInstant(bool on);

// Failure injection: the next `count` open-track calls fail; while set,
// every resume fails.
void HeadlessFailOpens(int count);
void HeadlessFailResume(bool fail);

// Recording, off by default: like a real device, the back-end then keeps
// nothing of what it played, so a process that plays all day stays its size.
// While on, every byte taken is kept per track, and a closed track's bytes
// are kept until HeadlessTakeClosedRecordings. Switching it off drops them.
void HeadlessRecord(bool on);

// Everything the device took from the track while recording, in order (null
// when the track is not open on this back-end).
const std::vector<uint8_t>* HeadlessRecording(const SoundTrack* track);
// How often the device found the ring empty while it needed sound.
uint32_t HeadlessUnderruns(const SoundTrack* track);
// The recordings of tracks closed since the last call while recording, in
// closing order.
std::vector<std::vector<uint8_t>> HeadlessTakeClosedRecordings();
// Number of tracks open on this back-end.
uint32_t HeadlessOpenTracks();
