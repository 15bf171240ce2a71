// The operator's own F1 click while a viewer with keys allowed floods the key
// path, in one run: click -> the instrument's taking F1's report, p50/p99, with
// no flood and during one of 2,000 messages a second; and what the program said
// of the presses it dropped. Loopback only; needs the driver that the browser
// tests use (see tests/e2e/share), no browser.
//   TS_SHARE_DRIVER=build/windows/tests/e2e/share/share_e2e_driver.exe node bench/share/keys-bench.mjs [clicks] [rate]
import net from 'node:net';
import { Driver, freePort, upgrade, wsFrame } from '../../tests/e2e/share/browser/driver.mjs';
import { percentile, sleep } from './stats.mjs';

const clicks = Number(process.argv[2] || 100);
const rate = Number(process.argv[3] || 2000);

// Key 0 of the keypad is the up arrow: its reports are told apart from F1's.
function flood(url) {
  const socket = net.connect(new URL(url).port, '127.0.0.1', () => socket.write(upgrade(url)));
  socket.on('error', () => {});
  const press = wsFrame(1, 'key 0');
  let sent = 0, started = 0, timer = null;
  // Pressing once the server has answered the upgrade: presses sent before it
  // would spoil the request.
  socket.once('data', () => {
    started = Date.now();
    // Every 5 ms as many as the rate asks for by now: the timer's slips are caught up.
    timer = setInterval(() => {
      const due = Math.floor(((Date.now() - started) * rate) / 1000);
      if (due > sent) socket.write(Buffer.concat(Array(due - sent).fill(press)));
      sent = due;
    }, 5);
  });
  return {
    stop() {
      clearInterval(timer);
      socket.destroy();
      return { sent, seconds: (Date.now() - started) / 1000 };
    },
  };
}

async function measure(driver) {
  const reply = await driver.run(`clicklat F1 ${clicks}`, 3600);
  if (!reply.startsWith('ms')) throw new Error(reply);
  return reply.split(' ').slice(1).map(Number);
}

const show = (what, ms) =>
  console.log(`${what.padEnd(34)} p50 ${percentile(ms, 50).toFixed(1)} ms  p99 ${percentile(ms, 99).toFixed(1)} ms  max ${Math.max(...ms).toFixed(1)} ms  (${ms.length} clicks)`);

const driver = new Driver();
await driver.ready();
try {
  const port = await freePort();
  const url = (await driver.run(`share ${port} 1`)).slice(4);
  if (!url.startsWith('http')) throw new Error(url);
  const quiet = await measure(driver);
  const flooding = flood(url);
  // Measured only once the flooding viewer is in.
  for (let i = 0; i < 600 && (await driver.run('viewers')) !== '1'; ++i) await sleep(100);
  if ((await driver.run('viewers')) !== '1') throw new Error('the flooding viewer did not get in');
  const during = await measure(driver);
  const viewers = await driver.run('viewers');
  const { sent, seconds } = flooding.stop();
  show('F1 click, no flood', quiet);
  show(`F1 click, flood of ${rate}/s`, during);
  console.log(`flood: ${sent} presses in ${seconds.toFixed(1)} s (${(sent / seconds).toFixed(0)}/s); viewers at its end: ${viewers}`);
  await driver.run('stop');
  console.log(`the event log's last line: ${await driver.run('log')}`);
} finally {
  await driver.quit();
}
