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
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'quarvel-web-'));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const conf = (name) => path.join(CONF, `${name}.qvl`);
let passed = 0;
let failed = 0;

async function check(name, fn) {
  try {
    await fn();
    passed++, console.log(`ok   ${name}`);
  } catch (e) {
    failed++, console.log(`FAIL ${name}: ${e.message}`);
  }
}
const expect = (ok, what) => { if (!ok) throw new Error(what); };

// quarvdump's output for a movie: the conformance set's own, else made now.
function dumped(movie) {
  let dir = path.join(CONF, `${path.basename(movie, '.qvl')}.expected`);
  if (!fs.existsSync(dir)) {
    dir = path.join(work, `${path.basename(movie)}.dump`);
    execFileSync(path.join(BIN, 'quarvdump'), [movie, dir]);
  }
  const frame = (n) => {
    const ppm = fs.readFileSync(path.join(dir, `frame_${String(n).padStart(5, '0')}.ppm`));
    const [, w, h] = /^P6\n(\d+) (\d+)\n255\n/.exec(ppm.toString('latin1', 0, 32));
    return { w: +w, h: +h, rgb: ppm.subarray(ppm.length - w * h * 3) };
  };
  return { info: JSON.parse(fs.readFileSync(path.join(dir, 'info.json'))), frame,
    wav: (t) => fs.readFileSync(path.join(dir, `track_${t}.wav`)).subarray(44) };
}

// --- The page ---------------------------------------------------------------

// Waits for the status text; an error text instead fails the check.
async function waitStatus(page, pattern) {
  await page.waitForFunction((p) => new RegExp(p).test(document.getElementById('status').textContent) ||
    document.getElementById('error').textContent !== '', { timeout: 20000 }, pattern.source);
  const error = await page.$eval('#error', (e) => e.textContent);
  expect(!error, `error text "${error}"`);
}

// Opens a movie through the picker or by dropping it; without autoplay it
// waits until the movie stands paused on frame 0.
async function open(page, file, { scale = '1', drop = false, autoplay = false } = {}) {
  await page.select('#scale', scale);
  await page.evaluate((on) => {
    document.getElementById('autoplay').checked = on;
    document.getElementById('error').textContent = document.getElementById('status').textContent = '';
    window.capturedSound = [];
  }, autoplay);
  if (drop) {
    await page.evaluate((name, b64) => {
      const dt = new DataTransfer();
      dt.items.add(new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], name));
      document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    }, path.basename(file), fs.readFileSync(file).toString('base64'));
  } else {
    await (await page.$('#file')).uploadFile(file);
  }
  if (!autoplay) await waitStatus(page, /Paused at frame 1 of|Finished/);
}

async function stepTo(page, n) {
  await page.keyboard.press('Enter');
  await waitStatus(page, new RegExp(`(Paused at frame ${n + 1} of|Finished)`));
}

// The canvas against quarvdump's frame at 1x, 2x, or 2x smoothed (scale '3',
// where only the lower right pixel of each 2x2 block is the frame's own).
async function compareFrame(page, expected, scale) {
  const got = await page.evaluate(() => {
    const c = document.getElementById('screen');
    return { w: c.width, h: c.height, rgba: [...c.getContext('2d').getImageData(0, 0, c.width, c.height).data] };
  });
  const k = scale === '1' ? 1 : 2, step = scale === '3' ? 2 : 1;
  expect(got.w === expected.w * k && got.h === expected.h * k, `canvas ${got.w}x${got.h}, frame ${expected.w}x${expected.h}`);
  for (let y = step - 1; y < got.h; y += step) {
    for (let x = step - 1; x < got.w; x += step) {
      const e = (Math.floor(y / k) * expected.w + Math.floor(x / k)) * 3, g = (y * got.w + x) * 4;
      const pixel = got.rgba.slice(g, g + 4), want = [...expected.rgb.subarray(e, e + 3), 255];
      expect(pixel.every((v, i) => v === want[i]), `pixel ${x},${y} is ${pixel}, expected ${want}`);
    }
  }
}

// The samples the page wrote into AudioBuffers, back to PCM bytes for each
// track (told apart by rate and channels), in the order the buffers were made.
async function capturedPcm(page, tracks) {
  return (await page.evaluate((tracks) => tracks.map((t) => {
    const bytes = [];
    for (const b of window.capturedSound.filter((b) => b.sampleRate === t.rate && b.numberOfChannels === t.channels)) {
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
    return bytes;
  }), tracks)).map((bytes) => Buffer.from(bytes));
}

// --- Movies -----------------------------------------------------------------

const conformance = fs.readdirSync(CONF).filter((f) => f.endsWith('.qvl')).map((f) => path.join(CONF, f));
const made = (name, ...args) => {
  const file = path.join(work, `${name}.qvl`);
  execFileSync(path.join(BIN, 'soundmovie'), ['write', file, path.join(work, `${name}.pcm`), ...args]);
  return file;
};
const writerSound = [made('mono16_packed', '11025', '16', '1', 'packed', '12'),
  made('stereo8_packed', '22050', '8', '2', 'packed', '12'), made('mono16_raw', '8000', '16', '1', 'raw', '12'),
  made('stereo8_raw', '11025', '8', '2', 'raw', '12')];
const demo = path.join(work, 'demo.qvl');
execFileSync(path.join(BIN, 'quarvmake'), ['-q', '--demo', demo]);

let seed = 7;
const malformed = [
  ['truncated.qvl', fs.readFileSync(conf('c24_mix')).subarray(0, 27000), /cut short/],
  ['magic.qvl', Buffer.concat([Buffer.from('QVL3'), fs.readFileSync(conf('c01_blocks')).subarray(4)]), /not a Quarvel movie/],
  ['garbage.qvl', Buffer.from(Array.from({ length: 6000 }, () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24)),
    /not a Quarvel movie/],
  ['header.qvl', fs.readFileSync(conf('c15_snd_stereo16')).subarray(0, 60), /not a Quarvel movie|cut short/],
];

// --- The run ----------------------------------------------------------------

(async () => {
  const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true,
    userDataDir: path.join(work, 'profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'] });
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

  // Broken files first: the reason shows on the page, and every check
  // after them finds the page usable (no error text, quarvdump's frames).
  for (const [name, bytes, reason] of malformed) {
    await check(`malformed file ${name}`, async () => {
      const file = path.join(work, name);
      fs.writeFileSync(file, bytes);
      await open(page, file, { autoplay: true });
      await page.waitForFunction(() => document.getElementById('error').textContent !== '', { timeout: 20000 });
      const text = await page.$eval('#error', (e) => e.textContent);
      expect(text.startsWith(name) && reason.test(text), `error text "${text}"`);
    });
  }

  // Every conformance and writer-made movie (every sound layout, raw and
  // packed) stepped to its end: each frame is quarvdump's, and so is the
  // sound handed over; the mixture also at 2x and smoothed, and a movie dropped.
  const runs = [...conformance, ...writerSound].map((f) => [f, '1']);
  for (const [file, scale, drop] of [...runs, [conf('c24_mix'), '2'], [conf('c24_mix'), '3'], [conf('c09_ydouble'), '2', true]]) {
    await check(`every frame and sample of ${path.basename(file)} at scale ${scale}${drop ? ', dropped' : ''}`, async () => {
      const d = dumped(file);
      await open(page, file, { scale, drop });
      for (let n = 0; n < d.info.frames; n++) {
        if (n) await stepTo(page, n);
        await compareFrame(page, d.frame(n), scale);
      }
      const pcm = await capturedPcm(page, d.info.tracks);
      d.info.tracks.forEach((t, i) => {
        const want = d.wav(t.track);
        expect(pcm[i].equals(want), `track ${t.track}: ${pcm[i].length} bytes handed over, WAV has ${want.length}` +
          `, first difference at ${pcm[i].findIndex((v, j) => v !== want[j])}`);
      });
    });
  }

  // From here on the page as a static server serves it. Playing: the picture
  // keeps 15 frames per second by the audio clock, Space holds it, and a
  // second Space goes on.
  const server = http.createServer((req, res) => {
    const f = path.join(SITE, path.basename(req.url));
    if (!fs.existsSync(f)) return res.writeHead(404).end();
    res.writeHead(200, { 'Content-Type': f.endsWith('.html') ? 'text/html' : 'text/javascript' }).end(fs.readFileSync(f));
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  await check('demo from a static server plays at its pace, pauses and resumes', async () => {
    await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
    await waitStatus(page, /Choose a movie/);
    await open(page, demo, { scale: '2', autoplay: true });
    await waitStatus(page, /Playing/);
    const position = () => page.$eval('#progress', (e) => e.value);
    await sleep(1000);
    const t0 = Date.now(), p0 = await position();
    await sleep(2000);
    const rate = ((await position()) - p0) / ((Date.now() - t0) / 1000);
    await page.screenshot({ path: path.join(ROOT, 'build/test-logs/web-playing.png') });
    expect(Math.abs(rate - 15) < 2, `${rate.toFixed(1)} frames/s`);
    await page.keyboard.press(' ');
    const held = await position();
    await sleep(500);
    expect((await position()) === held && /Paused/.test(await page.$eval('#status', (e) => e.textContent)), 'Space did not hold it');
    await page.keyboard.press(' ');
    await sleep(500);
    expect((await position()) > held, 'not moving after the second Space');
  });

  // Decoding speed: the demo decoded whole by a fresh instance of the module,
  // best of three runs, next to the native decoder's benchmark.
  await check('decode speed of the demo movie in the browser', async () => {
    const fps = await page.evaluate(async (b64) => {
      const m = await QuarvelModule(), bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0)), out = {};
      for (const [name, scale, smooth] of [['decode only', 0, 0], ['1x RGBA', 1, 0], ['2x RGBA', 2, 0], ['2x smooth', 2, 1]]) {
        for (let run = 0, n = 0; run < 3; run++, n = 0) {
          m.HEAPU8.set(bytes, m._QuarvWebFileBuffer(bytes.length));
          const t = m._QuarvWebOpen() && performance.now();
          while (m._QuarvWebDecodeNext(scale, smooth) >= 0) n++;
          out[name] = Math.max(out[name] || 0, n === 225 ? n / ((performance.now() - t) / 1000) : 0);
        }
      }
      return out;
    }, fs.readFileSync(demo).toString('base64'));
    console.log(`     browser, demo.qvl (225 frames, 320x240), frames/s: ${Object.entries(fps).map(([k, v]) => `${k} ${v.toFixed(0)}`).join(', ')}`);
    const bench = execFileSync(path.join(BIN, 'bench_decode'), ['--benchmark_filter=demo320_plain_8bit', '--benchmark_min_time=1'],
      { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
    console.log(`     native bench_decode demo320_plain_8bit (video only): ${/items_per_second=\S+/.exec(bench)}`);
    expect(Object.values(fps).every((v) => v > 15), 'a mode decodes slower than the demo plays, or not every frame');
  });

  await check('no script errors on the page', async () => expect(pageErrors.length === 0, pageErrors.join('; ')));
  server.close();
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})().catch((e) => {
  console.log(`FAIL browser run: ${e.stack}`);
  console.log(`${passed} passed, ${failed + 1} failed`);
  process.exit(1);
});
