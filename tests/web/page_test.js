// The browser page (build/wasm/index.html) as a person meets it, in Debian's
// chromium driven by puppeteer-core: movies chosen with the file picker or
// dropped, stepped with Enter, played and paused with Space. Checks that the
// canvas holds quarvdump's frames, that the PCM written into Web Audio's
// buffers is quarvdump's WAV data, that broken files give the page's error
// text and leave it usable, and that the picture keeps the movie's pace; then
// reports the decoder's speed in the browser. Ends "N passed, N failed".
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const puppeteer = require('puppeteer-core');

const ROOT = path.resolve(__dirname, '../..');
const BIN = path.join(ROOT, 'build/native/bin');
const CONF = path.join(ROOT, '../shared/conformance');
const SITE = path.join(ROOT, 'build/wasm');
const LOGS = path.join(ROOT, 'build/test-logs');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'quarvel-web-'));
let passed = 0;
let failed = 0;

async function check(name, fn) {
  try {
    await fn();
    passed++;
    console.log(`ok   ${name}`);
  } catch (e) {
    failed++;
    console.log(`FAIL ${name}: ${e.message}`);
  }
}
function expect(ok, what) {
  if (!ok) throw new Error(what);
}

// quarvdump's output for a movie: the conformance set's own, else made now.
function dumped(movie) {
  const name = path.basename(movie, '.qvl');
  let dir = path.join(CONF, `${name}.expected`);
  if (!fs.existsSync(dir)) {
    dir = path.join(work, `${name}.dump`);
    execFileSync(path.join(BIN, 'quarvdump'), [movie, dir]);
  }
  const info = JSON.parse(fs.readFileSync(path.join(dir, 'info.json'), 'utf8'));
  const frame = (n) => {
    const ppm = fs.readFileSync(path.join(dir, `frame_${String(n).padStart(5, '0')}.ppm`));
    const [, w, h] = /^P6\n(\d+) (\d+)\n255\n/.exec(ppm.toString('latin1', 0, 32));
    return { w: +w, h: +h, rgb: ppm.subarray(ppm.length - w * h * 3) };
  };
  const wav = (t) => fs.readFileSync(path.join(dir, `track_${t}.wav`)).subarray(44);
  return { info, frame, wav };
}

// --- The page --------------------------------------------------------------

async function status(page) {
  return page.$eval('#status', (e) => e.textContent);
}
async function waitStatus(page, pattern) {
  await page.waitForFunction((p) => new RegExp(p).test(document.getElementById('status').textContent) ||
    document.getElementById('error').textContent !== '', { timeout: 20000 }, pattern.source);
}

// Opens a movie paused on frame 0, through the picker or by dropping it.
async function open(page, file, { scale = '1', drop = false, autoplay = false } = {}) {
  await page.select('#scale', scale);
  await page.$eval('#autoplay', (e, on) => { e.checked = on; }, autoplay);
  await page.evaluate(() => { document.getElementById('error').textContent = document.getElementById('status').textContent = ''; });
  await page.evaluate(() => { window.capturedSound = []; });
  if (drop) {
    const bytes = fs.readFileSync(file).toString('base64');
    await page.evaluate((name, b64) => {
      const dt = new DataTransfer();
      dt.items.add(new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], name));
      document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    }, path.basename(file), bytes);
  } else {
    await (await page.$('#file')).uploadFile(file);
  }
  if (!autoplay) await waitStatus(page, /Paused at frame 1 of|Finished/);
}

async function stepTo(page, n) {
  await page.keyboard.press('Enter');
  await waitStatus(page, new RegExp(`(Paused at frame ${n + 1} of|Finished)`));
}

async function canvas(page) {
  return page.evaluate(() => {
    const c = document.getElementById('screen');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let s = '';
    for (let i = 0; i < d.length; i += 0x8000) s += String.fromCharCode.apply(null, d.subarray(i, i + 0x8000));
    return { w: c.width, h: c.height, rgba: btoa(s) };
  });
}

// The canvas against quarvdump's frame at 1x, 2x, or 2x smoothed (where only
// the lower right pixel of each 2x2 block is the frame's own).
async function compareFrame(page, expected, scale) {
  const got = await canvas(page);
  const rgba = Buffer.from(got.rgba, 'base64');
  const k = scale === '1' ? 1 : 2;
  expect(got.w === expected.w * k && got.h === expected.h * k, `canvas ${got.w}x${got.h}, frame ${expected.w}x${expected.h}`);
  for (let y = 0; y < got.h; y++) {
    for (let x = 0; x < got.w; x++) {
      if (scale === '3' && (x % 2 === 0 || y % 2 === 0)) continue;
      const e = (Math.floor(y / k) * expected.w + Math.floor(x / k)) * 3, g = (y * got.w + x) * 4;
      if (rgba[g] !== expected.rgb[e] || rgba[g + 1] !== expected.rgb[e + 1] || rgba[g + 2] !== expected.rgb[e + 2] ||
          rgba[g + 3] !== 255) {
        throw new Error(`pixel ${x},${y} is ${[...rgba.subarray(g, g + 4)]}, expected ${[...expected.rgb.subarray(e, e + 3)]}`);
      }
    }
  }
}

// The float samples the page wrote into AudioBuffers, back to PCM bytes per
// (rate, channels), in the order the buffers were made.
async function capturedPcm(page, tracks) {
  return page.evaluate((tracks) => {
    const out = {};
    for (const t of tracks) {
      const bytes = [];
      for (const b of window.capturedSound) {
        if (b.sampleRate !== t.rate || b.numberOfChannels !== t.channels) continue;
        const ch = [...Array(t.channels).keys()].map((c) => b.getChannelData(c));
        for (let i = 0; i < b.length; i++) {
          for (const d of ch) {
            // Web Audio's range is [-1, 1]: a sample outside it cannot come back as itself.
            const s = Math.max(-32768, Math.min(32767, Math.round(d[i] * 32768)));
            if (t.bits === 8) bytes.push(Math.max(0, Math.min(255, Math.round(d[i] * 128 + 128))));
            else bytes.push(s & 0xFF, (s >> 8) & 0xFF);
          }
        }
      }
      let s = '';
      for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.slice(i, i + 0x8000));
      out[t.track] = btoa(s);
    }
    return out;
  }, tracks);
}

// --- Movies ----------------------------------------------------------------

const conformance = fs.readdirSync(CONF).filter((f) => f.endsWith('.qvl')).map((f) => path.join(CONF, f));
function made(name, ...args) {
  const file = path.join(work, `${name}.qvl`);
  execFileSync(path.join(BIN, 'soundmovie'), ['write', file, path.join(work, `${name}.pcm`), ...args]);
  return file;
}
const writerSound = [
  made('mono16_packed', '11025', '16', '1', 'packed', '12'),
  made('stereo8_packed', '22050', '8', '2', 'packed', '12'),
  made('mono16_raw', '8000', '16', '1', 'raw', '12'),
  made('stereo8_raw', '11025', '8', '2', 'raw', '12'),
];
const demo = path.join(work, 'demo.qvl');
execFileSync(path.join(BIN, 'quarvmake'), ['-q', '--demo', demo]);

function bytesOf(file, edit) {
  const out = path.join(work, `broken_${path.basename(file)}`);
  fs.writeFileSync(out, edit(fs.readFileSync(file)));
  return out;
}
let seed = 7;
const garbage = Buffer.from(Array.from({ length: 6000 }, () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24));
const malformed = [
  ['truncated', bytesOf(path.join(CONF, 'c24_mix.qvl'), (b) => b.subarray(0, b.length >> 1)), /cut short/],
  ['wrong magic', bytesOf(path.join(CONF, 'c01_blocks.qvl'), (b) => Buffer.concat([Buffer.from('QVL3'), b.subarray(4)])),
    /not a Quarvel movie/],
  ['garbage', path.join(work, 'garbage.qvl'), /not a Quarvel movie/],
  ['header only', bytesOf(path.join(CONF, 'c15_snd_stereo16.qvl'), (b) => b.subarray(0, 60)), /not a Quarvel movie|cut short/],
];
fs.writeFileSync(path.join(work, 'garbage.qvl'), garbage);

// --- The run ---------------------------------------------------------------

(async () => {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: path.join(work, 'profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 900, height: 760 });
  await page.evaluateOnNewDocument(() => {
    const get = AudioBuffer.prototype.getChannelData;
    AudioBuffer.prototype.getChannelData = function (c) {
      if (!this.captured) window.capturedSound.push(this);
      this.captured = true;
      return get.call(this, c);
    };
  });
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(e.message));
  await page.goto(`file://${SITE}/index.html`);
  await waitStatus(page, /Choose a movie/);

  // Frame 0 of every conformance movie at 1x, then every frame of the
  // palette movie, the mixture at 2x and smoothed, and one dropped movie.
  for (const file of conformance) {
    await check(`first frame ${path.basename(file)}`, async () => {
      await open(page, file);
      await compareFrame(page, dumped(file).frame(0), '1');
    });
  }
  const stepped = [['c03_palette', '1', false], ['c24_mix', '2', false], ['c24_mix', '3', false], ['c09_ydouble', '2', true]];
  for (const [name, scale, drop] of stepped) {
    await check(`every frame of ${name} at scale ${scale}${drop ? ', dropped' : ''}`, async () => {
      const file = path.join(CONF, `${name}.qvl`), d = dumped(file);
      await open(page, file, { scale, drop });
      for (let n = 0; n < d.info.frames; n++) {
        if (n) await stepTo(page, n);
        await compareFrame(page, d.frame(n), scale);
      }
    });
  }

  // The sound of every layout, raw and packed, stepped through to the end.
  for (const file of [...conformance, ...writerSound]) {
    const d = dumped(file);
    if (!d.info.tracks.length) continue;
    await check(`sound of ${path.basename(file)}`, async () => {
      await open(page, file);
      for (let n = 1; n < d.info.frames; n++) await stepTo(page, n);
      const pcm = await capturedPcm(page, d.info.tracks);
      for (const t of d.info.tracks) {
        const got = Buffer.from(pcm[t.track], 'base64'), want = d.wav(t.track);
        expect(got.equals(want), `track ${t.track}: ${got.length} bytes handed over, WAV has ${want.length}` +
          (got.length === want.length ? `, first difference at ${got.findIndex((v, i) => v !== want[i])}` : ''));
      }
    });
  }

  // Broken files: the reason shows on the page, which then plays a good movie.
  for (const [what, file, reason] of malformed) {
    await check(`malformed file: ${what}`, async () => {
      await open(page, file, { autoplay: true });
      await page.waitForFunction(() => document.getElementById('error').textContent !== '', { timeout: 20000 });
      const text = await page.$eval('#error', (e) => e.textContent);
      expect(text.startsWith(path.basename(file)) && reason.test(text), `error text "${text}"`);
    });
  }
  await check('page usable after the broken files', async () => {
    await open(page, path.join(CONF, 'c01_blocks.qvl'));
    expect((await page.$eval('#error', (e) => e.textContent)) === '', 'error text left');
    await compareFrame(page, dumped(path.join(CONF, 'c01_blocks.qvl')).frame(0), '1');
  });

  // Playing: the picture keeps 15 frames per second by the audio clock, Space
  // holds it, and a second Space goes on.
  await check('demo plays at its pace, pauses and resumes', async () => {
    await open(page, demo, { scale: '2', autoplay: true });
    await waitStatus(page, /Playing/);
    const position = () => page.$eval('#progress', (e) => e.value);
    await new Promise((r) => setTimeout(r, 1000));
    const t0 = Date.now(), p0 = await position();
    await new Promise((r) => setTimeout(r, 2000));
    const frames = (await position()) - p0, rate = frames / ((Date.now() - t0) / 1000);
    await page.screenshot({ path: path.join(LOGS, 'web-playing.png') });
    expect(Math.abs(rate - 15) < 2, `${rate.toFixed(1)} frames/s`);
    await page.keyboard.press(' ');
    const held = await position();
    await new Promise((r) => setTimeout(r, 500));
    expect((await position()) === held && /Paused/.test(await status(page)), 'still moving after Space');
    await page.keyboard.press(' ');
    await new Promise((r) => setTimeout(r, 500));
    expect((await position()) > held, 'not moving after the second Space');
  });

  // The same page from a static server.
  await check('page from a static server', async () => {
    const server = http.createServer((req, res) => {
      const f = path.join(SITE, path.basename(req.url));
      if (!fs.existsSync(f)) return res.writeHead(404).end();
      res.writeHead(200, { 'Content-Type': f.endsWith('.html') ? 'text/html' : 'text/javascript' });
      res.end(fs.readFileSync(f));
    }).listen(0, '127.0.0.1');
    await new Promise((r) => server.once('listening', r));
    try {
      await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
      await waitStatus(page, /Choose a movie/);
      await open(page, path.join(CONF, 'c24_mix.qvl'), { scale: '2' });
      await compareFrame(page, dumped(path.join(CONF, 'c24_mix.qvl')).frame(0), '2');
    } finally {
      server.close();
    }
  });

  // Decoding speed: the demo decoded whole by a fresh instance of the module.
  await check('decode speed of the demo movie in the browser', async () => {
    const speeds = await page.evaluate(async (b64) => {
      const m = await QuarvelModule();
      const bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
      const out = {};
      for (const [name, scale, smooth] of [['decode only', 0, 0], ['1x RGBA', 1, 0], ['2x RGBA', 2, 0], ['2x smooth', 2, 1]]) {
        let best = 0;
        for (let run = 0; run < 3; run++) {
          m.HEAPU8.set(bytes, m._QuarvWebFileBuffer(bytes.length));
          if (!m._QuarvWebOpen()) return { error: m.UTF8ToString(m._QuarvWebError()) };
          let n = 0;
          const t = performance.now();
          while (m._QuarvWebDecodeNext(scale, smooth) >= 0) n++;
          best = Math.max(best, n / ((performance.now() - t) / 1000));
          out.frames = n;
        }
        out[name] = best;
      }
      return out;
    }, fs.readFileSync(demo).toString('base64'));
    expect(!speeds.error && speeds.frames === 225, `demo decoded ${speeds.frames} frames ${speeds.error || ''}`);
    const line = Object.entries(speeds).filter(([k]) => k !== 'frames').map(([k, v]) => `${k} ${v.toFixed(0)}`);
    console.log(`     browser, demo.qvl (225 frames 320x240), frames/s, best of 3: ${line.join(', ')}`);
    const bench = path.join(BIN, 'bench_decode');
    if (fs.existsSync(bench)) {
      const out = execFileSync(bench, ['--benchmark_filter=demo320_plain_8bit', '--benchmark_min_time=1'], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
      const m = /items_per_second=([\d.]+)k?\/s/.exec(out);
      console.log(`     native bench_decode demo320_plain_8bit (video decode only): ${m ? m[0] : out.trim()}`);
    }
    expect(speeds['2x smooth'] > 15, 'slower than the demo plays');
  });

  await check('no script errors on the page', async () => expect(pageErrors.length === 0, pageErrors.join('; ')));
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})().catch((e) => {
  console.log(`FAIL browser run: ${e.stack}`);
  console.log(`${passed} passed, ${failed + 1} failed`);
  process.exit(1);
});
