// The page's player: opens a chosen or dropped movie with the WebAssembly
// decoder (quarvel_web.js), shows its frames on the canvas and plays its
// sound tracks with Web Audio. The picture follows the audio clock, as the
// Windows player follows the sound device: frame n is shown once the audio
// context's time reaches the movie's start plus n frame durations, and each
// frame's sound is scheduled on that same timeline. The next frame is always
// decoded one frame ahead, so that its sound is queued before it is due even
// for a track without lead.
// A classic script, not an ES module: pages opened from file:// cannot load
// module scripts.
'use strict';
(function () {
  const $ = (id) => document.getElementById(id);
  const canvas = $('screen');
  const draw = canvas.getContext('2d');
  const MAX_TRACKS = 7;
  const START_DELAY = 0.05; // seconds from play to the first frame, to get its sound queued in time
  const KEEP_SOUND = 2; // seconds of sound kept behind the picture, to requeue after a pause

  let lib = null; // the decoder module
  let audio = null; // the AudioContext, made on the first open
  let movie = null; // the open movie's playing state

  const setError = (text) => { $('error').textContent = text; };
  const setStatus = (text) => { $('status').textContent = text; };
  const errorText = () => lib.UTF8ToString(lib._QuarvWebError());

  function scaleChoice() {
    const v = Number($('scale').value);
    return { scale: v === 1 ? 1 : 2, smooth: v === 3 ? 1 : 0 };
  }

  // The decoder's last RGBA picture, copied out of its memory.
  function decodedImage() {
    const w = lib._QuarvWebPixelWidth(), h = lib._QuarvWebPixelHeight(), at = lib._QuarvWebPixels();
    return new ImageData(new Uint8ClampedArray(lib.HEAPU8.slice(at, at + w * h * 4).buffer), w, h);
  }

  function paint(image) {
    if (canvas.width !== image.width || canvas.height !== image.height) {
      canvas.width = image.width;
      canvas.height = image.height;
    }
    draw.putImageData(image, 0, 0);
  }

  function clearScreen() {
    draw.fillStyle = '#000';
    draw.fillRect(0, 0, canvas.width, canvas.height);
    $('progress').value = 0;
    $('info').textContent = '';
  }

  // --- Sound -----------------------------------------------------------------

  // This frame's PCM of a track as an AudioBuffer on the track's timeline. A
  // chunk need not end on a whole sample frame: the rest waits for the next.
  function queueSound(track) {
    const size = lib._QuarvWebSoundBytes(track.t);
    if (!size) return;
    const at = lib._QuarvWebSound(track.t);
    const bytes = new Uint8Array(track.carry.length + size);
    bytes.set(track.carry);
    bytes.set(lib.HEAPU8.subarray(at, at + size), track.carry.length);
    const sampleBytes = track.bits / 8, frameBytes = sampleBytes * track.channels;
    const count = Math.floor(bytes.length / frameBytes);
    track.carry = bytes.slice(count * frameBytes);
    if (!count || !track.playable) return;
    const buffer = audio.createBuffer(track.channels, count, track.rate);
    for (let c = 0; c < track.channels; c++) {
      const out = buffer.getChannelData(c);
      for (let i = 0, p = c * sampleBytes; i < count; i++, p += frameBytes) {
        out[i] = track.bits === 8 ? (bytes[p] - 128) / 128 : ((bytes[p] | bytes[p + 1] << 8) << 16 >> 16) / 32768;
      }
    }
    const entry = { time: track.samples / track.rate, buffer };
    track.samples += count;
    track.queue.push(entry);
    if (!movie.paused) playSound(entry);
  }

  // Starts a queued buffer at its place on the timeline; a buffer that began
  // already plays from where the timeline is now.
  function playSound(entry) {
    const now = audio.currentTime, at = movie.t0 + entry.time;
    if (at + entry.buffer.duration <= now) return;
    const source = audio.createBufferSource();
    source.buffer = entry.buffer;
    source.connect(audio.destination);
    source.start(Math.max(at, now), Math.max(0, now - at));
    movie.sources.add(source);
    source.onended = () => movie && movie.sources.delete(source);
  }

  function silence() {
    for (const source of movie.sources) source.stop();
    movie.sources.clear();
  }

  // --- Frames ----------------------------------------------------------------

  function decodeAhead() {
    const { scale, smooth } = scaleChoice();
    const n = lib._QuarvWebDecodeNext(scale, smooth);
    if (n < 0) {
      movie.pending = null;
      const error = errorText();
      if (error) {
        movie.failed = true;
        setError(`${movie.name}: ${error}`);
      }
      return;
    }
    movie.pending = { n, image: decodedImage() };
    for (const track of movie.tracks) queueSound(track);
  }

  // Moves to the decoded frame, showing it unless it is already late.
  function advance(show) {
    const frame = movie.pending;
    if (show) paint(frame.image);
    movie.image = frame.image;
    movie.shown = frame.n;
    $('progress').value = frame.n + 1;
    const keepFrom = frame.n * movie.frameTime - KEEP_SOUND;
    for (const track of movie.tracks) {
      while (track.queue.length && track.queue[0].time + track.queue[0].buffer.duration < keepFrom) track.queue.shift();
    }
    decodeAhead();
    if (!movie.pending) finish();
    else if (movie.paused) setStatus(`Paused at frame ${frame.n + 1} of ${movie.frames}.`);
  }

  function finish() {
    movie.paused = true;
    movie.ended = true;
    setStatus(movie.failed ? 'Stopped.' : `Finished: ${movie.frames} frames. Space plays it again.`);
  }

  const due = (n) => movie.t0 + n * movie.frameTime;

  function tick() {
    requestAnimationFrame(tick);
    if (!movie || movie.paused || !movie.pending) return;
    if (movie.frameTime === 0) {
      advance(true); // untimed: one frame per screen refresh
      return;
    }
    const now = audio.currentTime;
    while (movie.pending && !movie.paused && now >= due(movie.pending.n)) {
      const next = movie.pending.n + 1;
      advance(!(next < movie.frames && now >= due(next)));
    }
  }

  // --- Play, pause, step -----------------------------------------------------

  function play() {
    if (!movie || !movie.paused || !movie.pending) return;
    movie.wantPlay = true;
    // Until the page gets a click or a key, the browser may hold the sound
    // back; the picture waits with it, since it follows the audio clock.
    if (audio.state !== 'running') setStatus('Press Space to play (the browser lets sound start only after a key or click).');
    const asked = movie;
    audio.resume().then(() => {
      if (movie !== asked || !movie.wantPlay || !movie.paused || !movie.pending) return;
      movie.t0 = audio.currentTime + START_DELAY - movie.pending.n * movie.frameTime;
      movie.paused = false;
      for (const track of movie.tracks) track.queue.forEach(playSound);
      setStatus(`Playing ${movie.name}.`);
    });
  }

  function pause() {
    movie.wantPlay = false;
    if (movie.paused) return;
    movie.paused = true;
    silence();
    setStatus(`Paused at frame ${movie.shown + 1} of ${movie.frames}.`);
  }

  function step() {
    if (movie && movie.paused && !movie.wantPlay && movie.pending) advance(true);
  }

  function togglePause() {
    if (!movie) return;
    if (movie.ended) {
      if (!movie.failed) start(movie.name, true);
    } else if (movie.paused && (!movie.wantPlay || audio.state !== 'running')) {
      play(); // also when still waiting for the browser to allow sound: this key allows it
    } else {
      pause();
    }
  }

  // --- Opening ---------------------------------------------------------------

  // Opens the movie in the decoder's file buffer and shows its first frame.
  function start(name, playNow) {
    if (movie) silence();
    movie = null;
    setError('');
    if (!lib._QuarvWebOpen()) {
      clearScreen();
      setError(`${name}: ${errorText()}`);
      setStatus('Choose or drop another movie.');
      return;
    }
    if (!audio) audio = new AudioContext();
    const frames = lib._QuarvWebFrames(), tracks = [];
    for (let t = 0; t < MAX_TRACKS; t++) {
      const rate = lib._QuarvWebTrackRate(t);
      if (!rate) continue;
      const track = { t, rate, bits: lib._QuarvWebTrackBits(t), channels: lib._QuarvWebTrackChannels(t),
        carry: new Uint8Array(0), samples: 0, queue: [], playable: true };
      try {
        audio.createBuffer(track.channels, 1, rate);
      } catch (e) {
        track.playable = false; // a rate Web Audio does not take
      }
      tracks.push(track);
    }
    movie = { name, frames, frameTime: lib._QuarvWebFrameTime() / 100000, tracks, pending: null, image: null,
      shown: -1, t0: 0, paused: true, wantPlay: false, ended: false, failed: false, sources: new Set() };
    $('progress').max = frames;
    const fps = movie.frameTime ? `${(1 / movie.frameTime).toFixed(2)} frames/s` : 'untimed';
    const sound = tracks.map((k) => `track ${k.t}: ${k.rate} Hz ${k.bits}-bit ${k.channels === 2 ? 'stereo' : 'mono'}` +
      (k.playable ? '' : ' (rate not playable here)'));
    $('info').textContent = `${lib._QuarvWebWidth()} x ${lib._QuarvWebHeight()}, ${frames} frames, ${fps}; ` +
      (sound.length ? `sound: ${sound.join(', ')}` : 'no sound');
    decodeAhead();
    if (!movie.pending) finish(); // not even frame 0 could be decoded
    else advance(true);
    if (playNow && movie.pending) play();
  }

  async function openFile(file) {
    if (!lib || !file) return;
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch (e) {
      setError(`${file.name}: the file cannot be read (${e.message}).`);
      return;
    }
    if (movie) silence();
    movie = null;
    const at = lib._QuarvWebFileBuffer(bytes.length);
    if (!at) {
      clearScreen();
      setError(`${file.name}: the file is too large for the browser's memory.`);
      return;
    }
    lib.HEAPU8.set(bytes, at);
    start(file.name, $('autoplay').checked);
  }

  // --- Page events -----------------------------------------------------------

  $('file').addEventListener('change', (e) => {
    openFile(e.target.files[0]);
    e.target.value = ''; // so that choosing the same movie again opens it again
    e.target.blur(); // keys go to the player, not to the picker
  });
  $('scale').addEventListener('change', (e) => {
    e.target.blur();
    if (!movie || !lib._QuarvWebRedraw(scaleChoice().scale, scaleChoice().smooth)) return;
    if (movie.pending) movie.pending.image = decodedImage(); // the frame decoded ahead
    if (movie.image && movie.paused) {
      // The shown frame, stretched until the next one comes at the new size.
      const old = document.createElement('canvas');
      old.width = movie.image.width;
      old.height = movie.image.height;
      old.getContext('2d').putImageData(movie.image, 0, 0);
      const f = movie.pending ? movie.pending.image : movie.image;
      canvas.width = f.width;
      canvas.height = f.height;
      draw.imageSmoothingEnabled = false;
      draw.drawImage(old, 0, 0, f.width, f.height);
    }
  });
  window.addEventListener('keydown', (e) => {
    if (e.key === ' ') togglePause();
    else if (e.key === 'Enter') step();
    else return;
    e.preventDefault();
  });
  document.body.addEventListener('dragover', (e) => {
    e.preventDefault();
    document.body.classList.add('dragging');
  });
  document.body.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.body.addEventListener('drop', (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    openFile(e.dataTransfer.files[0]);
  });

  QuarvelModule().then((module) => {
    lib = module;
    setStatus('Choose a movie or drop one on the page.');
    requestAnimationFrame(tick);
  }, (e) => setError(`The decoder cannot start in this browser: ${e}`));
})();
