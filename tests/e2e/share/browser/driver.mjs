// The Windows driver of the program and the virtual instrument (ShareDriver.cpp)
// under Wine, a command at a time; and what the browser tests and the benchmark
// share: Debian's chromium, a free loopback port, raw sockets.
import { spawn } from 'node:child_process';
import net from 'node:net';
import puppeteer from 'puppeteer-core';

export class Driver {
  constructor(path = process.env.TS_SHARE_DRIVER) {
    if (!path) throw new Error('TS_SHARE_DRIVER names the driver program');
    this.child = spawn('wine', [path], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.lines = [];
    this.waiting = null;
    let rest = '';
    this.child.stdout.setEncoding('utf8');
    this.child.stdout.on('data', (chunk) => {
      rest += chunk;
      let at;
      while ((at = rest.indexOf('\n')) >= 0) {
        this.lines.push(rest.slice(0, at).replace(/\r$/, ''));
        rest = rest.slice(at + 1);
      }
      if (this.waiting && this.lines.length) this.waiting();
    });
    this.exited = new Promise((resolve) => this.child.on('exit', resolve));
  }

  // The next line, or an error past the deadline.
  async line(seconds = 120) {
    const deadline = Date.now() + seconds * 1000;
    while (!this.lines.length) {
      const left = deadline - Date.now();
      if (left <= 0 || this.child.exitCode !== null) throw new Error('the driver did not answer');
      await new Promise((resolve) => {
        const timer = setTimeout(resolve, Math.min(left, 1000));
        this.waiting = () => { clearTimeout(timer); resolve(); };
      });
      this.waiting = null;
    }
    return this.lines.shift();
  }

  async ready() {
    const first = await this.line(180);
    if (first !== 'ready') throw new Error('the driver did not start: ' + first);
  }

  async run(command, seconds) {
    this.child.stdin.write(command + '\n');
    return this.line(seconds);
  }

  async quit() {
    if (this.child.exitCode === null) {
      this.child.stdin.write('quit\n');
      const timer = setTimeout(() => this.child.kill(), 60000);
      await this.exited;
      clearTimeout(timer);
    }
  }
}

export function launchBrowser() {
  return puppeteer.launch({
    executablePath: process.env.TS_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Root in a container: the sandbox cannot start.
    args: ['--no-sandbox', '--disable-gpu', '--window-size=1400,1000'],
    defaultViewport: { width: 1400, height: 1000 },
  });
}

// A port free on loopback now.
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

// Sends bytes on a new loopback connection; resolves when the server has closed
// it, or when `seconds` have passed, with whatever it answered.
export function exchange(port, chunks, { seconds = 10, gapMs = 0, end = true } = {}) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    let answer = Buffer.alloc(0);
    let done = false;
    const finish = (closed) => {
      if (done) return;
      done = true;
      clearTimeout(timer);
      socket.destroy();
      resolve({ closed, answer });
    };
    const timer = setTimeout(() => finish(false), seconds * 1000);
    socket.on('data', (d) => { answer = Buffer.concat([answer, d]); });
    socket.on('close', () => finish(true));
    socket.on('error', () => finish(true));
    socket.on('connect', async () => {
      for (const chunk of chunks) {
        if (done) return;
        socket.write(chunk);
        if (gapMs) await new Promise((r) => setTimeout(r, gapMs));
      }
      if (end && !done) socket.end();
    });
  });
}

// The text of an HTTP request.
export function request(target, fields = {}) {
  let text = `GET ${target} HTTP/1.1\r\n`;
  for (const [name, value] of Object.entries(fields)) text += `${name}: ${value}\r\n`;
  return text + '\r\n';
}

// A masked client frame of the WebSocket protocol.
export function wsFrame(opcode, payload, { fin = true, mask = true } = {}) {
  const data = Buffer.from(payload);
  const head = [(fin ? 0x80 : 0) | opcode];
  const m = mask ? 0x80 : 0;
  if (data.length < 126) head.push(m | data.length);
  else if (data.length < 65536) head.push(m | 126, data.length >> 8, data.length & 255);
  else { head.push(m | 127, 0, 0, 0, 0, (data.length >>> 24) & 255, (data.length >> 16) & 255, (data.length >> 8) & 255, data.length & 255); }
  const key = Buffer.from([0x12, 0x34, 0x56, 0x78]);
  const body = Buffer.from(data);
  if (mask) for (let i = 0; i < body.length; ++i) body[i] ^= key[i & 3];
  return Buffer.concat([Buffer.from(head), mask ? key : Buffer.alloc(0), body]);
}

// The upgrade a browser on the page would send.
export function upgrade(url, origin) {
  const u = new URL(url);
  return request('/ws' + u.search, {
    Host: u.host,
    Upgrade: 'websocket',
    Connection: 'Upgrade',
    'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==',
    'Sec-WebSocket-Version': '13',
    Origin: origin ?? `http://${u.host}`,
  });
}

// How many pixels of the page's canvas differ from the picture (hex, a set bit black).
export function canvasDifference(page, hex) {
  return page.evaluate((hex) => {
    const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, 320, 240).data;
    let wrong = 0;
    for (let i = 0; i < 320 * 240; ++i) {
      const byte = parseInt(hex.substr(2 * (i >> 3), 2), 16);
      const v = (byte >> (7 - (i & 7))) & 1 ? 0 : 255;
      if (data[4 * i] !== v || data[4 * i + 1] !== v || data[4 * i + 2] !== v || data[4 * i + 3] !== 255) ++wrong;
    }
    return wrong;
  }, hex);
}
