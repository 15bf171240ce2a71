'use strict';
// Draws each picture the program presents, the moment it arrives; marks the
// picture stale whenever it may no longer be what the instrument shows.
(() => {
  // The wire, as docs/browser-protocol.md writes it down.
  const kWidth = 320, kHeight = 240, kFlagsAt = 0, kRateAt = 1, kPresentsAt = 5, kHeader = 9;
  const kLinked = 1, kChangedRows = 2;
  const kSocketPath = '/ws', kKeyPress = 'key ', kTooManyViewers = 'too many viewers';
  const canvas = document.getElementById('screen');
  const context = canvas.getContext('2d');
  const image = context.createImageData(kWidth, kHeight);
  const scale = document.getElementById('scale');
  const keys = document.getElementById('keys');
  const state = { presents: 0, linked: false, rate: 0, shownAt: 0, connected: false, refused: '' };
  window.tsViewer = state;

  function markStale() {
    let reason = '';
    if (state.refused) reason = state.refused;
    else if (!state.connected) reason = 'нет соединения с программой, подключение…';
    else if (!state.linked) reason = 'прибор не подключён';
    else if (!state.presents) reason = 'картинки ещё нет';
    document.body.classList.toggle('stale', reason !== '');
    document.getElementById('reason').textContent = reason;
    const link = document.getElementById('link');
    link.textContent = state.connected && state.linked ? 'ТС4170 подключен' : 'Нет связи с ТС4170';
    link.classList.toggle('off', !(state.connected && state.linked));
    document.getElementById('rate').textContent =
      state.connected ? 'Скорость приема данных ' + state.rate.toLocaleString('ru-RU') + ' Байт/с' : '';
  }

  const kRowBytes = kWidth / 8, kMaskBytes = kHeight / 8;
  const bits = new Uint8Array(kRowBytes * kHeight);

  // The whole picture, or the rows that changed since the last one.
  function draw(bytes) {
    if (bytes[kFlagsAt] & kChangedRows) {
      let at = kHeader + kMaskBytes;
      for (let row = 0; row < kHeight; ++row) {
        if (!((bytes[kHeader + (row >> 3)] >> (row & 7)) & 1)) continue;
        bits.set(bytes.subarray(at, at + kRowBytes), row * kRowBytes);
        at += kRowBytes;
      }
    } else {
      bits.set(bytes.subarray(kHeader, kHeader + bits.length));
    }
    const pixels = image.data;
    for (let i = 0; i < kWidth * kHeight; ++i) {
      const black = (bits[i >> 3] >> (7 - (i & 7))) & 1;
      const v = black ? 0 : 255;
      pixels[4 * i] = pixels[4 * i + 1] = pixels[4 * i + 2] = v;
      pixels[4 * i + 3] = 255;
    }
    context.putImageData(image, 0, 0);
  }

  function fit() {
    let s = Number(scale.value);
    if (s === 0) {
      // The largest whole scale that fits: every instrument pixel the same square.
      const room = document.documentElement.clientWidth - 40 - (keys.classList.contains('on') ? keys.offsetWidth + 16 : 0);
      const height = document.documentElement.clientHeight - canvas.getBoundingClientRect().top - 20;
      s = Math.max(1, Math.floor(Math.min(room / kWidth, height / kHeight)));
    }
    canvas.style.width = kWidth * s + 'px';
    canvas.style.height = kHeight * s + 'px';
  }
  const wanted = Number(new URLSearchParams(location.search).get('scale'));
  if (wanted >= 1 && wanted <= 8) scale.value = String(wanted);
  scale.addEventListener('change', fit);
  window.addEventListener('resize', fit);

  function showKeys(labels, socket) {
    keys.replaceChildren();
    labels.forEach((label, i) => {
      const button = document.createElement('button');
      button.textContent = label;
      button.dataset.key = String(i);
      button.addEventListener('click', () => { if (socket.readyState === WebSocket.OPEN) socket.send(kKeyPress + i); });
      keys.appendChild(button);
    });
    keys.classList.toggle('on', labels.length > 0);
    fit();
  }

  function connect() {
    const socket = new WebSocket('ws://' + location.host + kSocketPath + location.search);
    socket.binaryType = 'arraybuffer';
    socket.onopen = () => { state.connected = true; state.refused = ''; markStale(); };
    socket.onmessage = (event) => {
      if (typeof event.data === 'string') {
        const hello = JSON.parse(event.data);
        showKeys(hello.keys, socket);
        document.getElementById('viewers').textContent = 'не более ' + hello.viewers + ' зрителей';
        return;
      }
      const bytes = new Uint8Array(event.data);
      const wire = new DataView(event.data);
      state.linked = (bytes[kFlagsAt] & kLinked) === kLinked;
      state.rate = wire.getInt32(kRateAt, true);
      const presents = wire.getUint32(kPresentsAt, true);
      if (presents !== state.presents) {
        draw(bytes);
        state.presents = presents;
        state.shownAt = performance.timeOrigin + performance.now();
      }
      markStale();
    };
    socket.onclose = (event) => {
      state.connected = false;
      state.refused = event.reason === kTooManyViewers ? 'слишком много зрителей, ожидание места…' : '';
      keys.classList.remove('on');
      markStale();
      setTimeout(connect, 1000);
    };
  }
  fit();
  markStale();
  connect();
})();
