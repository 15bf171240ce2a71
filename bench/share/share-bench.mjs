// What sharing the screen costs the program, at the USB pace, in one run:
// CPU per 1,000 reports with 0, 1 and 16 viewers (alternating, several rounds),
// report -> browser canvas latency, and the mirror's own latency with 0 and 16
// viewers. Needs what the browser tests need (see tests/e2e/share); loopback only.
//   TS_SHARE_DRIVER=build/windows/tests/e2e/share/share_e2e_driver.exe node bench/share/share-bench.mjs [rounds] [seconds]
import net from 'node:net';
import { Driver, launchBrowser, freePort, upgrade } from '../../tests/e2e/share/browser/driver.mjs';
import { percentile, sleep } from './stats.mjs';

const rounds = Number(process.argv[2] || 3);
const seconds = Number(process.argv[3] || 6);

// A viewer that reads and drops everything: what the program sends is the cost.
function rawViewer(url) {
  const socket = net.connect(new URL(url).port, '127.0.0.1', () => socket.write(upgrade(url)));
  socket.on('data', () => {});
  socket.on('error', () => {});
  return socket;
}

const driver = new Driver();
await driver.ready();
const browser = await launchBrowser();
try {
  const port = await freePort();
  const url = (await driver.run(`share ${port} 0`)).slice(4);
  const viewers = async () => Number(await driver.run('viewers'));
  const waitViewers = async (n) => { for (let i = 0; i < 400 && (await viewers()) !== n; ++i) await sleep(50); };
  const stats = async () => (await driver.run('stats')).split(' ').slice(1).map(Number);

  // CPU per 1,000 reports.
  await driver.run('stream on');
  const cpu = { 0: [], 1: [], 16: [] };
  for (let round = 0; round < rounds; ++round) {
    for (const n of [0, 1, 16]) {
      const sockets = Array.from({ length: n }, () => rawViewer(url));
      await waitViewers(n);
      await sleep(500);
      const [, , , cpu0, streamed0] = await stats();
      await sleep(seconds * 1000);
      const [, , , cpu1, streamed1] = await stats();
      cpu[n].push(((cpu1 - cpu0) * 1000 * 1000) / (streamed1 - streamed0));
      sockets.forEach((s) => s.destroy());
      await waitViewers(0);
    }
  }
  await driver.run('stream off');

  // Report -> canvas, and the mirror's own latency, with 1 and 16 viewers.
  const page = await browser.newPage();
  await page.goto(url);
  await page.waitForFunction(() => window.tsViewer.connected);
  const canvas = { 1: [], 16: [] };
  const mirror = {};
  for (const n of [1, 16]) {
    const sockets = Array.from({ length: n - 1 }, () => rawViewer(url));
    await waitViewers(n);
    for (let i = 0; i < 60; ++i) {
      const sentAt = Number((await driver.run(`frame ${1000 + i}`)).split(' ')[1]);
      const shownAt = await page.waitForFunction((t) => window.tsViewer.shownAt >= t && window.tsViewer.shownAt, { polling: 'mutation' }, sentAt - 0.5)
        .then((h) => h.jsonValue());
      canvas[n].push(shownAt - sentAt);
    }
    mirror[n] = (await driver.run('mirrorlat 100', 300)).split(' ').slice(1).map(Number);
    sockets.forEach((s) => s.destroy());
    await waitViewers(1);
  }
  const none = (await (async () => {
    await page.close();
    await waitViewers(0);
    return (await driver.run('mirrorlat 100', 300)).split(' ').slice(1).map(Number);
  })());

  const f = (x) => x.toFixed(2);
  const mean = (a) => a.reduce((s, x) => s + x, 0) / a.length;
  console.log(`\n${rounds} rounds of ${seconds} s at the USB pace, alternating 0/1/16 viewers\n`);
  console.log('| viewers | CPU ms per 1,000 reports (mean) | per round | ratio to none |');
  console.log('|---|---|---|---|');
  for (const n of [0, 1, 16])
    console.log(`| ${n} | ${f(mean(cpu[n]))} | ${cpu[n].map(f).join(', ')} | ${f(mean(cpu[n]) / mean(cpu[0]))} |`);
  console.log('\n| latency | viewers | p50 ms | p99 ms | samples |');
  console.log('|---|---|---|---|---|');
  for (const n of [1, 16])
    console.log(`| report -> browser canvas | ${n} | ${f(percentile(canvas[n], 50))} | ${f(percentile(canvas[n], 99))} | ${canvas[n].length} |`);
  console.log(`| report -> mirror present | 0 | ${f(percentile(none, 50))} | ${f(percentile(none, 99))} | ${none.length} |`);
  for (const n of [1, 16])
    console.log(`| report -> mirror present | ${n} | ${f(percentile(mirror[n], 50))} | ${f(percentile(mirror[n], 99))} | ${mirror[n].length} |`);
} finally {
  await browser.close();
  await driver.quit();
}
