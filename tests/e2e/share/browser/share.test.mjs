// The shared screen in a real browser: Debian's chromium, headless, against the
// program under Wine and the virtual instrument (over the transport of
// TS_E2E_TRANSPORT). Everything travels on loopback.
import { test, before, beforeEach, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import {
  Driver, launchBrowser, freePort, exchange, request, upgrade, wsFrame, canvasDifference,
} from './driver.mjs';

let driver;
let browser;
let port;
const shots = process.env.TS_SHARE_SHOTS;
// TS_CASES=long: only the long barrage, which the test command runs beside the rest;
// otherwise everything else.
const long = process.env.TS_CASES === 'long';
const quick = long ? () => {} : test;

async function until(what, condition, seconds = 15) {
  const deadline = Date.now() + seconds * 1000;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) assert.fail('waited in vain for ' + what);
    await new Promise((r) => setTimeout(r, 50));
  }
}

async function share(keys) {
  const reply = await driver.run(`share ${port} ${keys ? 1 : 0}`);
  assert.match(reply, /^url http:\/\/127\.0\.0\.1:\d+\/\?key=[0-9a-f]{32}$/);
  return reply.slice(4);
}

async function stop() {
  assert.equal(await driver.run('stop'), 'ok');
}

async function openPage(url) {
  const page = await browser.newPage();
  const response = await page.goto(url);
  assert.equal(response.status(), 200);
  return page;
}

// Sends a random frame and waits until the canvas shows it, pixel for pixel.
async function expectFrame(page, seed) {
  const [word, , hex] = (await driver.run(`frame ${seed}`)).split(' ');
  assert.equal(word, 'frame');
  let wrong = -1;
  await until('the canvas to show frame ' + seed, async () => (wrong = await canvasDifference(page, hex)) === 0)
    .catch(() => assert.fail(`${wrong} pixels of the canvas differ from frame ${seed}`));
}

const stale = (page) => page.evaluate(() => document.body.classList.contains('stale') && document.getElementById('reason').textContent);
const viewers = async () => Number(await driver.run('viewers'));
const nextReport = async () => driver.run('next');

before(async () => {
  port = await freePort();
  driver = new Driver();
  await driver.ready();
  browser = await launchBrowser();
});

// Each test starts from no sharing and no page, whatever the one before left.
beforeEach(async () => {
  await driver.run('stop');
  for (const page of await browser.pages()) await page.close();
});

after(async () => {
  await browser?.close();
  await driver?.quit();
});

quick('refuses a request without the key, with a wrong key or from another origin, without detail', async () => {
  const url = await share(false);
  const key = new URL(url).searchParams.get('key');
  const wrongKey = key.slice(0, -1) + (key.endsWith('0') ? '1' : '0');
  const cases = [
    ['no key', request('/', { Host: `127.0.0.1:${port}` })],
    ['a wrong key', request(`/?key=${wrongKey}`, { Host: `127.0.0.1:${port}` })],
    ['a socket without the key', upgrade(url.replace(/\?.*/, ''))],
    ['a socket with a wrong key', upgrade(url.replace(key, wrongKey))],
    ['a socket from another origin', upgrade(url, 'http://evil.example')],
  ];
  for (const [what, text] of cases) {
    const { answer } = await exchange(port, [text], { end: false });
    const reply = answer.toString();
    assert.match(reply, /^HTTP\/1\.1 403 /, what);
    assert.ok(reply.endsWith('\r\n\r\nForbidden\n'), what + ': ' + reply);
  }
  const page = await browser.newPage();
  assert.equal((await page.goto(url.replace(/\?.*/, ''))).status(), 403);
  await page.close();
  await stop();
});

quick('shows each frame pixel for pixel as the mirror does, marks it stale while the instrument is away', async () => {
  const url = await share(false);
  const page = await openPage(url);
  await expectFrame(page, 1);
  assert.equal(await driver.run('mirror'), 'ok');
  await expectFrame(page, 2);
  assert.equal(await stale(page), false);
  assert.equal(await page.$eval('#keys', (k) => k.classList.contains('on')), false);
  if (shots) {
    // The instrument's own screen, for a person to compare.
    await driver.run('stream on');
    for (const scale of [1, 4]) {
      await page.goto(`${url}&scale=${scale}`);
      await page.waitForFunction(() => window.tsViewer.presents > 2);
      await page.screenshot({ path: `${shots}/page-${scale}x.png` });
    }
    execFileSync('import', ['-window', 'root', `${shots}/program.png`]);
    await driver.run('stream off');
  }

  assert.equal(await driver.run('unplug'), 'ok');
  await until('the stale marker', async () => (await stale(page)) === 'прибор не подключён');
  assert.equal(await driver.run('plug'), 'ok');
  await until('the program to find the instrument again', async () => (await driver.run('linked')) === 'yes', 30);
  await expectFrame(page, 10);
  await until('the stale marker to go', async () => (await stale(page)) === false);

  await stop();
  await until('the marker once sharing stops', async () => (await stale(page))?.startsWith('нет соединения'));
  await page.close();
});

quick('a key on the page sends exactly that key, only while keys are allowed', async () => {
  // What the program's own F1 and F2 keys send.
  const reference = {};
  for (const key of ['F1', 'F2']) {
    assert.equal(await driver.run(`press ${key}`), 'ok');
    reference[key] = await nextReport();
    assert.match(reference[key], /^report 0f/);
  }

  // Keys off: no keypad, and a press sent by hand is dropped.
  let page = await openPage(await share(false));
  assert.equal(await page.$eval('#keys', (k) => k.classList.contains('on')), false);
  await until('one viewer', async () => (await viewers()) === 1);
  await page.evaluate(() => new Promise((resolve) => {
    const s = new WebSocket('ws://' + location.host + '/ws' + location.search);
    s.onmessage = (e) => { if (typeof e.data === 'string') { s.send('key 5'); s.close(); } };
    s.onclose = resolve;
  }));
  // The server reads a socket's messages in order: its close came after the press.
  await until('the extra viewer to leave', async () => (await viewers()) === 1);
  assert.equal(await driver.run('press F2'), 'ok');
  assert.equal(await nextReport(), reference.F2, 'the first report after a refused press');
  await page.close();
  await stop();

  // Keys on: the page's F1 sends F1's report, and nothing else follows it.
  page = await openPage(await share(true));
  await page.waitForSelector('#keys.on button');
  await page.evaluate(() => [...document.querySelectorAll('#keys button')].find((b) => b.textContent === 'F1').click());
  assert.equal(await nextReport(), reference.F1);
  assert.match(await driver.run('log'), /«F1» нажата из браузера 127\.0\.0\.1:\d+$/);
  assert.equal(await driver.run('press F2'), 'ok');
  assert.equal(await nextReport(), reference.F2, 'the report after the page key');
  await page.close();
  await stop();
});

quick('takes sixteen viewers and refuses the seventeenth clearly', async () => {
  const url = await share(false);
  const page = await openPage(url);
  await until('one viewer', async () => (await viewers()) === 1);
  await page.evaluate(() => {
    window.extra = [];
    for (let i = 0; i < 15; ++i) window.extra.push(new WebSocket('ws://' + location.host + '/ws' + location.search));
  });
  await until('sixteen viewers', async () => (await viewers()) === 16);
  const reason = await page.evaluate(() => new Promise((resolve) => {
    const s = new WebSocket('ws://' + location.host + '/ws' + location.search);
    s.onclose = (e) => resolve(e.reason);
  }));
  assert.equal(reason, 'too many viewers');
  const second = await browser.newPage();
  await second.goto(url);
  await until('the refusal on a page', async () => (await stale(second))?.startsWith('слишком много зрителей'));
  await second.close();
  await expectFrame(page, 20);
  await page.evaluate(() => window.extra.forEach((s) => s.close()));
  await until('one viewer again', async () => (await viewers()) === 1);
  await page.close();
  await stop();
  assert.equal(await viewers(), 0);
});

(long ? test : () => {})('bad input: thousands of malformed requests and frames leave the mirror and good viewers as they were', async () => {
  const url = await share(false);
  const host = new URL(url).host;
  const page = await openPage(url);
  await expectFrame(page, 30);
  assert.match(await driver.run('stream on'), /^streamed \d+$/);
  const random = (n) => Buffer.from(Array.from({ length: n }, () => Math.floor(Math.random() * 256)));
  const good = upgrade(url);
  const attacks = [
    () => [request('/?key=', { Host: host }).slice(0, 20)],  // truncated
    () => [`GET /?x=${'a'.repeat(20000)} HTTP/1.1\r\nHost: ${host}\r\n\r\n`],  // oversized line
    () => [request('/', { Host: host, Big: 'b'.repeat(9000) })],  // oversized header
    () => [request('/', Object.fromEntries(Array.from({ length: 200 }, (_, i) => ['X' + i, '1'])))],  // many fields
    () => [random(1 + Math.floor(Math.random() * 3000))],  // random bytes
    () => ['\r\n\r\n\r\n'],
    () => [`POST ${new URL(url).pathname}${new URL(url).search} HTTP/1.1\r\nHost: ${host}\r\nContent-Length: 100000\r\n\r\n` + 'x'.repeat(5000)],
    () => [`GET / HTTP/9.9\r\nHost: ${host}\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n`],
    () => [good, wsFrame(1, 'x'.repeat(100))],  // over the message limit
    () => [good, wsFrame(2, random(50), { mask: false })],  // unmasked
    () => [good, Buffer.from([0x82, 0xff, 0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff])],  // 2^63 bytes
    () => [good, wsFrame(1, 'key 1'), wsFrame(1, 'key 99'), random(200)],  // keys off, then noise
    () => [good, wsFrame(0, 'continuation first'), wsFrame(9, 'p'.repeat(200))],  // bad continuation, long ping
    () => [good.slice(0, good.length - 10)],  // truncated upgrade
  ];
  const stats = async () => (await driver.run('stats')).split(' ').slice(1).map(Number);
  const presentsOf = () => page.evaluate(() => window.tsViewer.presents);

  let sent = 0;
  let frames = 0;
  async function barrage(count) {
    const inFlight = new Set();
    for (let i = 0; i < count; ++i) {
      const chunks = attacks[i % attacks.length]();
      frames += chunks.length - 1;
      const p = exchange(port, chunks, { seconds: 8 }).then(() => inFlight.delete(p));
      inFlight.add(p);
      ++sent;
      if (inFlight.size >= 32) await Promise.race(inFlight);
    }
    await Promise.all(inFlight);
  }
  await barrage(500);  // warm-up: the server's and Wine's buffers reach their size
  const [handlesBefore, bytesBefore, presentsBefore] = await stats();
  const viewerBefore = await presentsOf();
  // Slow drips: a byte every 100 ms, which the request time limit must cut.
  const drips = Array.from({ length: 20 }, () =>
    exchange(port, [...request(`/?key=${new URL(url).searchParams.get('key')}`, { Host: host })], { gapMs: 100, seconds: 20, end: false }));
  await barrage(3000);
  const dripped = await Promise.all(drips);
  assert.ok(dripped.every((d) => d.closed), 'a slow drip was cut off by the server');
  const [handlesAfter, bytesAfter, presentsAfter] = await stats();
  const viewerAfter = await presentsOf();
  console.log(`bad input: ${sent} connections, ${frames} WebSocket frames after the handshake; handles ${handlesBefore} -> ${handlesAfter}, private bytes ${bytesBefore} -> ${bytesAfter}, mirror presents +${presentsAfter - presentsBefore}, viewer presents +${viewerAfter - viewerBefore}`);
  assert.ok(sent + frames >= 3000);
  assert.ok(presentsAfter > presentsBefore, 'the mirror went on presenting');
  assert.ok(viewerAfter > viewerBefore, 'the good viewer went on getting pictures');
  assert.ok(handlesAfter <= handlesBefore + 16, `handles ${handlesBefore} -> ${handlesAfter}`);
  assert.ok(bytesAfter <= bytesBefore + 16 * 1024 * 1024, `private bytes ${bytesBefore} -> ${bytesAfter}`);
  await driver.run('stream off');
  await expectFrame(page, 31);
  assert.equal(await driver.run('mirror'), 'ok');
  assert.equal(await viewers(), 1);
  await page.close();
  await stop();
});
