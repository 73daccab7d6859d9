#!/usr/bin/env python3
"""A sound device that keeps real time, for the Windows tests.

    sound_device.py FIFO OUT.wav OUT.log

ALSA's file plugin writes the stream into FIFO (a WAV header, then the
samples). This reader shrinks the pipe to one page and takes bytes only as
the wall clock allows at the header's byte rate, so the writer blocks as on
a real device. Each close of the PCM ends a stream; the reader then waits
for the next one. On SIGTERM it writes OUT.wav (every stream of the first
stream's format, in order; 32-bit data is the mixer's float, which the plugin
labels as integer PCM) and OUT.log. SIGUSR1 makes the device stop taking
sound for half a second, as a device that falls behind would.

    stream K start T rate R channels C bits B offset O   (O: bytes into OUT.wav)
    at T BYTES QUEUED   bytes taken from stream K by wall-clock time T (s), and
                        bytes written and not yet taken (the device's buffer)
    stall T MS          the device waited: held, or the writer starved it
    end T BYTES
"""
import array, fcntl, os, select, signal, struct, sys, termios, time

F_SETPIPE_SZ = 1031
CHECKPOINT_S = 0.02
STALL_S = 0.02  # a writer this late is starving the device, not just waking up late
hold_until = 0.0


class Stop(Exception):
    pass


def on_term(*_):
    raise Stop


def on_hold(*_):
    global hold_until
    hold_until = time.time() + 0.5


def take_stream(fd, log, streams):
    header = b""
    while len(header) < 44:
        select.select([fd], [], [])
        part = os.read(fd, 44 - len(header))
        if not part:
            return
        header += part
    if header[:4] != b"RIFF" or header[8:16] != b"WAVEfmt ":
        return
    _, channels, rate, byte_rate, align, bits = struct.unpack("<HHIIHH", header[20:36])
    offset = sum(len(s[1]) for s in streams if s[0] == (channels, rate, bits))
    data = bytearray()
    streams.append(((channels, rate, bits), data))
    clock = last_mark = time.time()
    log.write("stream %d start %.6f rate %d channels %d bits %d offset %d\n" % (len(streams) - 1, clock, rate, channels, bits, offset))
    while True:
        now = time.time()
        if now < hold_until:
            time.sleep(hold_until - now)
            clock += time.time() - now
            log.write("stall %.6f %.1f\n" % (now, (time.time() - now) * 1000))
            continue
        due = (int((now - clock) * byte_rate) - len(data)) // align * align
        if due <= 0:
            time.sleep(max(0.001, min(0.005, -due / byte_rate)))
            continue
        try:
            part = os.read(fd, min(due, 65536))
        except BlockingIOError:
            select.select([fd], [], [], 1.0)
            late = time.time() - now
            if late > STALL_S:
                clock += late
                log.write("stall %.6f %.1f\n" % (now, late * 1000))
            continue
        if not part:
            break
        data += part
        if now - last_mark >= CHECKPOINT_S:
            queued = array.array("i", [0])
            fcntl.ioctl(fd, termios.FIONREAD, queued)
            log.write("at %.6f %d %d\n" % (time.time(), len(data), queued[0]))
            last_mark = now
    log.write("end %.6f %d\n" % (time.time(), len(data)))


def write_wav(path, streams):
    channels, rate, bits = streams[0][0] if streams else (2, 44100, 16)
    data = b"".join(s[1] for s in streams if s[0] == (channels, rate, bits))
    align = channels * bits // 8
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, 3 if bits == 32 else 1,
                         channels, rate, rate * align, align, bits, b"data", len(data))
    with open(path + ".part", "wb") as f:
        f.write(header + data)
    os.replace(path + ".part", path)


def main():
    if len(sys.argv) != 4:
        sys.stderr.write("usage: sound_device.py FIFO OUT.wav OUT.log\n")
        return 2
    fifo, wav, log_path = sys.argv[1:]
    if not os.path.exists(fifo):
        os.mkfifo(fifo)
    streams = []
    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGUSR1, on_hold)
    with open(log_path, "w", buffering=1) as log:
        try:
            while True:
                fd = os.open(fifo, os.O_RDONLY)
                try:
                    fcntl.fcntl(fd, F_SETPIPE_SZ, 4096)
                    os.set_blocking(fd, False)
                    take_stream(fd, log, streams)
                finally:
                    os.close(fd)
        except Stop:
            pass
    write_wav(wav, streams)
    return 0


if __name__ == "__main__":
    sys.exit(main())
