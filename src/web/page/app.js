// Kelvaro web page: logs in, watches one board over the WebSocket, shows its values,
// lets an operator write the parameters and settings, and draws the trend and history.
'use strict';
(function () {
  const $ = (id) => document.getElementById(id);
  const SVG = 'http://www.w3.org/2000/svg';
  const BOARD_KEY = 'kelvaro.board';
  const STALE_MS = 10000;
  const TREND_EVERY_MS = 10000;
  // Boxes 4-7 and 9 take minutes:seconds, box 8 a whole number, the rest decimals.
  const TIME_BOXES = [4, 5, 6, 7, 9];

  // The browser's language decides the decimal separator (the server's texts use a point);
  // the same language goes with every typed value, so what is shown and typed agree.
  const LOCALE = navigator.language || 'en-US';
  const numberFormat = new Intl.NumberFormat(LOCALE);
  const decimalSep = (numberFormat.formatToParts(1.5).find((p) => p.type === 'decimal') || { value: '.' }).value;
  const localize = (text) => String(text == null ? '' : text).replace(/(\d)\.(\d)/g, '$1' + decimalSep + '$2');
  const formatNumber = (n, digits) =>
    new Intl.NumberFormat(LOCALE, { minimumFractionDigits: digits, maximumFractionDigits: digits }).format(n);

  let session = null; // {user, role, login}
  let ws = null;
  let wantSocket = false;
  let retryDelay = 1000;
  let retryTimer = null;
  let nextId = 1;
  let boards = [];
  let board = null;
  let lastState = null;
  let lastBlockAt = 0;
  let paramsBuiltFor = null; // the role the parameter boxes were built for
  const boxes = []; // per box: {editing, pendingId, shown}
  const setIds = new Map(); // request id -> box
  let trendId = 0;
  let historyId = 0;
  let daysId = 0;
  let settingsId = 0;
  let trendTimer = null;

  const isOperator = () => session && session.role === 'operator';

  function setText(el, text) {
    // Only touch the text when it changes, so live regions speak only on changes.
    if (el && el.textContent !== text) el.textContent = text;
  }

  function show(view) {
    $('login-view').hidden = view !== 'login';
    $('board-view').hidden = view !== 'boards';
    $('board-main').hidden = view !== 'board';
  }

  // ---- Session and log-in ------------------------------------------------------------

  async function start() {
    let response;
    try {
      response = await fetch('session', { credentials: 'same-origin', cache: 'no-store' });
    } catch (e) {
      setText($('connection'), 'Connection lost: trying again');
      scheduleRetry();
      return;
    }
    if (response.status === 401) {
      showLogin('');
      return;
    }
    if (!response.ok) {
      setText($('connection'), 'The server answered ' + response.status + ': trying again');
      scheduleRetry();
      return;
    }
    setSession(await response.json());
    openSocket();
  }

  function setSession(s) {
    session = s;
    setText($('user-name'), s.user ? s.user + ' (' + s.role + ')' : '');
    $('logout').hidden = !s.login;
  }

  function showLogin(message) {
    wantSocket = false;
    closeSocket();
    session = null;
    setText($('user-name'), '');
    $('logout').hidden = true;
    $('board-change').hidden = true;
    setText($('board-name'), '');
    setText($('connection'), '');
    setText($('login-error'), message);
    show('login');
    $('login-user').focus();
  }

  $('login-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const button = $('login-submit');
    button.disabled = true;
    setText($('login-error'), '');
    try {
      const response = await fetch('login', {
        method: 'POST',
        credentials: 'same-origin',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ user: $('login-user').value, password: $('login-password').value }),
      });
      let body = {};
      try { body = await response.json(); } catch (e) { body = {}; }
      if (response.ok) {
        $('login-password').value = '';
        await start();
      } else {
        setText($('login-error'), body.error || 'The log-in failed (' + response.status + ').');
        $('login-password').value = '';
        $('login-password').focus();
      }
    } catch (e) {
      setText($('login-error'), 'The server cannot be reached.');
    } finally {
      button.disabled = false;
    }
  });

  $('logout').addEventListener('click', async () => {
    try {
      await fetch('logout', { method: 'POST', credentials: 'same-origin' });
    } catch (e) { /* the form follows anyway */ }
    showLogin('');
  });

  // ---- WebSocket ----------------------------------------------------------------------

  function openSocket() {
    wantSocket = true;
    clearTimeout(retryTimer);
    const url = new URL('ws', location.href);
    url.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const socket = new WebSocket(url.href);
    ws = socket;
    socket.onopen = () => {
      retryDelay = 1000;
      setText($('connection'), '');
    };
    socket.onmessage = (event) => {
      let message;
      try { message = JSON.parse(event.data); } catch (e) { return; }
      handle(message);
    };
    socket.onclose = () => {
      if (ws !== socket) return;
      ws = null;
      failPending('Not confirmed: the connection was lost.');
      if (wantSocket) {
        setText($('connection'), 'Connection lost: trying again');
        scheduleRetry();
      }
    };
  }

  function closeSocket() {
    clearTimeout(retryTimer);
    if (ws) {
      const socket = ws;
      ws = null;
      socket.close();
    }
  }

  function scheduleRetry() {
    clearTimeout(retryTimer);
    retryTimer = setTimeout(() => { start(); }, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 10000);
  }

  function send(message) {
    if (!ws || ws.readyState !== WebSocket.OPEN) return 0;
    message.id = nextId++;
    ws.send(JSON.stringify(message));
    return message.id;
  }

  function handle(m) {
    switch (m.type) {
      case 'welcome':
        setSession({ user: m.user, role: m.role, login: m.login });
        setText($('version'), m.version ? 'kelvaro-web ' + m.version : '');
        setBoards(m.boards || [], true);
        break;
      case 'boards': setBoards(m.boards || [], false); break;
      case 'state': if (m.board === board) showState(m); break;
      case 'write': showWrite(m); break;
      case 'settings': showSettings(m); break;
      case 'chart': showChart(m); break;
      case 'days': showDays(m); break;
      case 'error': showError(m); break;
      default: break;
    }
  }

  // ---- Boards -------------------------------------------------------------------------

  function setBoards(list, fresh) {
    boards = list;
    const list_ = $('board-list');
    list_.replaceChildren();
    for (const b of boards) {
      const item = document.createElement('li');
      const button = document.createElement('button');
      button.type = 'button';
      button.className = b.connected ? '' : 'offline';
      const name = document.createElement('strong');
      name.textContent = b.name;
      const reason = document.createElement('span');
      reason.className = 'reason';
      reason.textContent = b.connected ? 'connected' : 'not connected' + (b.reason ? ': ' + b.reason : '');
      button.append(name, reason);
      button.addEventListener('click', () => selectBoard(b.name));
      item.append(button);
      list_.append(item);
    }
    $('board-change').hidden = boards.length < 2;
    const known = (name) => boards.some((b) => b.name === name);
    if (board && known(board)) {
      if (fresh) selectBoard(board); // a new socket watches nothing yet
      else showBoardReason();
      return;
    }
    board = null;
    const remembered = rememberedBoard();
    if (boards.length === 1) selectBoard(boards[0].name);
    else if (remembered && known(remembered)) selectBoard(remembered);
    else if (boards.length === 0) {
      show('boards');
      setText($('board-name'), '');
      const item = document.createElement('li');
      item.textContent = 'No board is connected to this server.';
      list_.append(item);
    } else {
      show('boards');
      setText($('board-name'), '');
    }
  }

  // The chosen board lasts while the tab is open; storage may be refused (private windows).
  function remember(name) {
    try {
      if (name) sessionStorage.setItem(BOARD_KEY, name);
      else sessionStorage.removeItem(BOARD_KEY);
    } catch (e) { /* the choice is asked again next time */ }
  }
  function rememberedBoard() {
    try { return sessionStorage.getItem(BOARD_KEY); } catch (e) { return null; }
  }

  function showBoardReason() {
    const b = boards.find((x) => x.name === board);
    if (b && !b.connected) setText($('line-status'), 'Board not connected' + (b.reason ? ': ' + b.reason : ''));
  }

  function selectBoard(name) {
    const changed = board !== name;
    board = name;
    remember(name);
    setText($('board-name'), name);
    if (changed) resetBoardView();
    show('board');
    buildParams();
    send({ type: 'board', board: name });
    showBoardReason();
    requestTrend();
    daysId = send({ type: 'days' });
    updateReportLink();
  }

  $('board-change').addEventListener('click', () => {
    board = null;
    remember(null);
    setText($('board-name'), '');
    show('boards');
  });

  function resetBoardView() {
    lastState = null;
    lastBlockAt = 0;
    setText($('block-time'), 'none yet');
    for (const b of boxes) { b.editing = false; b.pendingId = 0; }
    paramsBuiltFor = null;
    $('trend-chart').replaceChildren();
    $('history-chart').replaceChildren();
  }

  // ---- Live values --------------------------------------------------------------------

  function buildValues() {
    const list = $('values');
    if (list.childElementCount) return;
    for (let i = 0; i < 8; i++) {
      const dt = document.createElement('dt');
      dt.id = 'caption-' + i;
      const dd = document.createElement('dd');
      const text = document.createElement('span');
      text.id = 'value-' + i;
      text.textContent = i === 4 ? '' : '–';
      dd.append(text);
      if (i === 4) {
        // The relay's state stands out as a coloured badge after the board's own text.
        const relay = document.createElement('span');
        relay.id = 'relay';
        relay.className = 'relay';
        relay.textContent = '–';
        dd.className = 'relay-cell';
        dd.append(relay);
      }
      list.append(dt, dd);
    }
  }

  function showState(s) {
    lastState = s;
    lastBlockAt = Date.now();
    buildValues();
    const values = s.values || [];
    for (let i = 0; i < 8; i++) {
      const pair = values[i] || ['', ''];
      const caption = $('caption-' + i);
      if (caption) setText(caption, pair[0]);
      setText($('value-' + i), localize(pair[1]));
    }
    const relay = $('relay');
    const on = s.relay === 'On';
    setText(relay, on ? 'On' : s.relay === 'Off' ? 'Off' : '–');
    relay.className = 'relay ' + (on ? 'on' : s.relay === 'Off' ? 'off' : '');
    // The board's own relay text stays in #value-4; it is not shown twice when the badge says the same.
    const relayText = (values[4] && values[4][1]) || '';
    $('value-4').hidden = !relayText || relayText.toLowerCase() === String(s.relay || '').toLowerCase();

    const line = s.line || {};
    setText($('line-status'), (line.status || '') + (line.problem ? ' – ' + line.problem : ''));
    setText($('line-device'), (line.device || '–') + (line.open === false ? ' (not open)' : ''));

    const log = s.log || {};
    setText($('logging'), (log.active ? 'On' : 'Off') + (log.failure ? ' – failing: ' + log.failure : ''));
    $('logging').className = log.failure ? 'error' : '';
    setText($('log-last'), log.lastWrite ? localTime(log.lastWrite) : 'none');
    setText($('logging-switch'), log.active ? 'Turn logging off' : 'Turn logging on');
    setText($('unit'), s.unit === 'F' ? '[°F] Fareneit' : '[°C] Celsius');
    if (document.activeElement !== $('unit-select')) $('unit-select').value = s.unit === 'F' ? 'F' : 'C';

    buildParams();
    for (let i = 0; i < 10; i++) {
      const pair = values[8 + i] || ['', ''];
      const label = $('param-label-' + i);
      if (label && pair[0]) setText(label, pair[0]);
      const box = boxes[i];
      box.shown = pair[1];
      const el = $('param-' + i);
      if (!el) continue;
      if (el.tagName === 'INPUT') {
        // Never overwrite what the operator is typing or waiting for.
        if (!box.editing && !box.pendingId && document.activeElement !== el) el.value = localize(pair[1]);
      } else {
        setText(el, localize(pair[1]));
      }
    }

    const words = s.words || [];
    buildRaw();
    for (let i = 0; i < 20; i++) setText($('raw-' + i), words[i] == null ? '–' : String(words[i]));
    updateFreshness();
  }

  function localTime(iso) {
    const d = new Date(iso);
    if (isNaN(d)) return iso;
    return d.toLocaleString(LOCALE, { dateStyle: 'short', timeStyle: 'medium' });
  }

  function updateFreshness() {
    const card = $('board-main');
    if (!lastState) { card.classList.remove('stale'); return; }
    const age = Date.now() - lastBlockAt;
    const stale = age > STALE_MS;
    card.classList.toggle('stale', stale);
    const when = localTime(lastState.time);
    const text = stale ? when + ' – no new values for ' + Math.round(age / 1000) + ' s' : when;
    const el = $('block-time');
    setText(el, text);
    el.className = stale ? 'stale-note' : '';
  }
  setInterval(updateFreshness, 1000);

  // ---- Parameters ---------------------------------------------------------------------

  function buildParams() {
    const role = session ? session.role : null;
    if (paramsBuiltFor === role) return;
    paramsBuiltFor = role;
    const operator = isOperator();
    const host = $('params');
    host.replaceChildren();
    $('params-note').hidden = operator;
    $('settings-controls').hidden = !operator;
    boxes.length = 0;
    for (let i = 0; i < 10; i++) {
      boxes.push({ editing: false, pendingId: 0, shown: '' });
      const row = document.createElement(operator ? 'form' : 'div');
      row.className = 'param';
      row.id = 'param-row-' + i;
      let label;
      if (operator) {
        label = document.createElement('label');
        label.htmlFor = 'param-' + i;
      } else {
        label = document.createElement('span');
        label.className = 'caption';
      }
      label.id = 'param-label-' + i;
      const caption = lastState && lastState.values && lastState.values[8 + i];
      label.textContent = caption ? caption[0] : 'Parameter ' + (i + 1);
      row.append(label);
      if (operator) {
        const input = document.createElement('input');
        input.id = 'param-' + i;
        input.autocomplete = 'off';
        input.spellcheck = false;
        input.setAttribute('inputmode', TIME_BOXES.includes(i) ? 'text' : i === 8 ? 'numeric' : 'decimal');
        if (TIME_BOXES.includes(i)) input.placeholder = 'm:ss';
        input.setAttribute('aria-describedby', 'param-state-' + i);
        input.addEventListener('input', () => { boxes[i].editing = true; });
        input.addEventListener('keydown', (e) => {
          if (e.key === 'Escape') {
            boxes[i].editing = false;
            input.value = localize(boxes[i].shown);
            setParamState(i, '', '');
          }
        });
        input.addEventListener('blur', () => {
          // Leaving a box unchanged lets the board's values show in it again.
          if (input.value === localize(boxes[i].shown) && !boxes[i].pendingId) boxes[i].editing = false;
        });
        const button = document.createElement('button');
        button.type = 'submit';
        button.id = 'param-set-' + i;
        button.textContent = 'Set';
        button.setAttribute('aria-label', 'Set ' + label.textContent);
        row.addEventListener('submit', (e) => { e.preventDefault(); sendSet(i); });
        row.append(input, button);
      } else {
        const value = document.createElement('span');
        value.id = 'param-' + i;
        value.className = 'shown';
        value.setAttribute('aria-labelledby', 'param-label-' + i + ' param-' + i);
        value.textContent = '–';
        row.append(value);
      }
      const state = document.createElement('span');
      state.id = 'param-state-' + i;
      state.className = 'state';
      state.setAttribute('aria-live', 'polite');
      row.append(state);
      host.append(row);
    }
  }

  function setParamState(i, text, kind) {
    const el = $('param-state-' + i);
    if (!el) return;
    setText(el, text);
    el.className = 'state ' + kind;
    $('param-row-' + i).classList.toggle('refused', kind === 'refused');
  }

  function sendSet(i) {
    const input = $('param-' + i);
    const text = input.value.trim();
    if (!text) { setParamState(i, 'Type a value first.', 'refused'); return; }
    const id = send({ type: 'set', box: i, text: text, locale: LOCALE.replace(/-/g, '_') });
    if (!id) { setParamState(i, 'Not sent: no connection to the server.', 'refused'); return; }
    boxes[i].editing = true;
    boxes[i].pendingId = id;
    setIds.set(id, i);
    setParamState(i, 'Sending…', 'warn');
  }

  function showWrite(m) {
    const i = setIds.has(m.id) ? setIds.get(m.id) : m.box;
    if (i == null || !boxes[i] || (boxes[i].pendingId && boxes[i].pendingId !== m.id)) return;
    const box = boxes[i];
    const reason = m.reason ? ': ' + m.reason : '';
    switch (m.state) {
      case 'queued':
      case 'sent':
        setParamState(i, 'Waiting for the board', 'warn');
        return;
      case 'confirmed': {
        box.editing = false;
        if (m.shown != null && m.shown !== '') box.shown = m.shown;
        const input = $('param-' + i);
        if (input) input.value = localize(box.shown);
        setParamState(i, '✓ ' + localize(box.shown) + ' – Confirmed by the board', 'ok');
        break;
      }
      case 'refused':
        setParamState(i, 'Refused' + reason, 'refused');
        break;
      case 'not-confirmed':
        setParamState(i, 'Not confirmed' + reason, 'refused');
        break;
      case 'sent-late':
        setParamState(i, 'Sent late' + reason, 'warn');
        break;
      default:
        return;
    }
    box.pendingId = 0;
    setIds.delete(m.id);
  }

  function failPending(text) {
    boxes.forEach((box, i) => {
      if (box.pendingId) {
        setIds.delete(box.pendingId);
        box.pendingId = 0;
        setParamState(i, text, 'refused');
      }
    });
  }

  // ---- Settings -----------------------------------------------------------------------

  $('logging-switch').addEventListener('click', () => {
    const active = !(lastState && lastState.log && lastState.log.active);
    settingsId = send({ type: 'settings', logActive: active });
    setText($('settings-result'), settingsId ? 'Sending…' : 'Not sent: no connection to the server.');
  });
  $('unit-select').addEventListener('change', () => {
    settingsId = send({ type: 'settings', displayUnit: $('unit-select').value });
    setText($('settings-result'), settingsId ? 'Sending…' : 'Not sent: no connection to the server.');
  });

  function showSettings(m) {
    const words = { saved: 'Saved', 'not-saved': 'Not saved', refused: 'Refused' };
    const el = $('settings-result');
    setText(el, (words[m.result] || m.result) + (m.message ? ': ' + m.message : ''));
    el.className = 'result ' + (m.result === 'saved' ? 'ok' : 'error');
  }

  function showError(m) {
    if (m.id != null && setIds.has(m.id)) {
      showWrite({ id: m.id, state: 'refused', reason: m.reason });
    } else if (m.id != null && m.id === settingsId) {
      showSettings({ result: 'refused', message: m.reason });
    } else if (m.id != null && m.id === trendId) {
      setText($('trend-note'), m.reason);
    } else if (m.id != null && m.id === historyId) {
      setText($('history-note'), m.reason);
    } else if (m.id != null && m.id === daysId) {
      setText($('history-days'), m.reason);
    } else {
      setText($('connection'), m.reason || 'The server reported an error.');
    }
  }

  // ---- Raw registers ------------------------------------------------------------------

  function buildRaw() {
    const body = $('raw-body');
    if (body.childElementCount) return;
    for (let i = 0; i < 20; i++) {
      const row = document.createElement('tr');
      const th = document.createElement('th');
      th.scope = 'row';
      th.textContent = String(i);
      const td = document.createElement('td');
      td.id = 'raw-' + i;
      td.textContent = '–';
      row.append(th, td);
      body.append(row);
    }
  }

  $('raw-toggle').addEventListener('click', () => {
    const table = $('raw-table');
    table.hidden = !table.hidden;
    $('raw-toggle').setAttribute('aria-expanded', String(!table.hidden));
  });

  // ---- Trend and history charts ------------------------------------------------------

  const MARGIN = { left: 46, right: 10, top: 10, bottom: 22 };
  const PLOT_H = 190;
  const RELAY_H = 26;
  const RELAY_GAP = 12;
  const COLOURS = {
    'Actual Temperature': '#c0392b',
    'Average Temperature': '#1f6fb2',
    'Low Setpoint Raising': '#2e8540',
    'Lower Setpoint': '#8e44ad',
    'Low Setpoint Falling': '#b7791f',
    Relay: '#d9481c',
  };
  const SPARE = ['#16808a', '#6b4f2a', '#5a5a9e', '#9e2a6d'];

  function chartWidth(host) {
    const w = Math.floor(host.clientWidth || host.getBoundingClientRect().width || 600);
    return Math.max(50, Math.min(2000, w - MARGIN.left - MARGIN.right));
  }

  function requestTrend() {
    if (!board || document.hidden) return;
    trendId = send({ type: 'trend', hours: Number($('trend-hours').value), width: chartWidth($('trend-chart')) });
  }
  $('trend-hours').addEventListener('change', requestTrend);
  clearInterval(trendTimer);
  trendTimer = setInterval(() => { if (!$('board-main').hidden) requestTrend(); }, TREND_EVERY_MS);
  document.addEventListener('visibilitychange', () => { if (!document.hidden) requestTrend(); });
  let resizeTimer = null;
  window.addEventListener('resize', () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(() => {
      if ($('board-main').hidden) return;
      requestTrend();
      if (historyId && $('history-chart').childElementCount) showHistory();
    }, 400);
  });

  function showChart(m) {
    if (m.id === trendId) {
      const hours = Number($('trend-hours').value);
      drawChart($('trend-chart'), $('trend-legend'), m, 'over ' + hours + (hours === 1 ? ' hour' : ' hours'));
      setText($('trend-note'), (m.errors || []).join('; '));
    } else if (m.id === historyId) {
      const period = 'from ' + $('history-from').value + ' to ' + $('history-to').value;
      drawChart($('history-chart'), $('history-legend'), m, period);
      const parts = [];
      if (m.days != null) parts.push(m.days + (m.days === 1 ? ' day' : ' days'));
      if (m.read != null) parts.push(m.read + ' read');
      const errors = m.errors || [];
      parts.push(errors.length ? errors.length + ' error' + (errors.length === 1 ? '' : 's') + ': ' + errors.join('; ') : 'no errors');
      setText($('history-note'), parts.join(', '));
    }
  }

  function el(name, attrs, parent) {
    const node = document.createElementNS(SVG, name);
    for (const k in attrs) node.setAttribute(k, attrs[k]);
    if (parent) parent.append(node);
    return node;
  }

  function niceStep(range, count) {
    const raw = range / Math.max(1, count);
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    for (const f of [1, 2, 5, 10]) if (f * power >= raw) return f * power;
    return 10 * power;
  }

  function timeStep(spanMs, count) {
    const minute = 60000;
    const steps = [1, 2, 5, 10, 15, 30, 60, 120, 180, 360, 720, 1440, 2880, 10080].map((x) => x * minute);
    const raw = spanMs / Math.max(1, count);
    return steps.find((s) => s >= raw) || steps[steps.length - 1];
  }

  function drawChart(host, legend, m, period) {
    const width = m.width || chartWidth(host);
    const series = (m.series || []).filter((s) => s.columns && s.columns.length);
    // Temperatures share the scale on the left; the relay gets its own strip. Anything
    // else (another unit) would flatten the temperatures, so it is named but not drawn.
    const temps = series.filter((s) => s.kind === 'temperature');
    const relays = series.filter((s) => s.kind === 'relay');
    const others = series.filter((s) => s.kind !== 'temperature' && s.kind !== 'relay');
    const totalW = MARGIN.left + width + MARGIN.right;
    const plotBottom = MARGIN.top + PLOT_H;
    const relayTop = plotBottom + RELAY_GAP;
    const totalH = (relays.length ? relayTop + RELAY_H : plotBottom) + MARGIN.bottom;
    const unit = (temps[0] && temps[0].unit) || '';

    let lo = Infinity;
    let hi = -Infinity;
    for (const s of temps) for (const c of s.columns) {
      if (c[0] < 0 || c[0] >= width) continue;
      lo = Math.min(lo, c[1]);
      hi = Math.max(hi, c[2]);
    }
    const empty = !isFinite(lo);
    if (empty) { lo = 0; hi = 1; }
    if (hi - lo < 1) { const mid = (hi + lo) / 2; lo = mid - 0.5; hi = mid + 0.5; }
    const pad = (hi - lo) * 0.06;
    lo -= pad; hi += pad;
    const step = niceStep(hi - lo, 5);
    const y = (v) => plotBottom - ((v - lo) / (hi - lo)) * PLOT_H;
    const x = (col) => MARGIN.left + col + 0.5;

    const svg = el('svg', { viewBox: '0 0 ' + totalW + ' ' + totalH, width: totalW, height: totalH, 'aria-hidden': 'true', focusable: 'false' });
    const clipId = host.id + '-clip';
    const defs = el('defs', {}, svg);
    const clip = el('clipPath', { id: clipId }, defs);
    el('rect', { x: MARGIN.left, y: 0, width: width, height: totalH }, clip);

    // Horizontal grid with the temperature scale.
    const digits = Math.max(0, -Math.floor(Math.log10(step) + 1e-9));
    for (let v = Math.ceil(lo / step) * step; v <= hi; v += step) {
      el('line', { x1: MARGIN.left, x2: MARGIN.left + width, y1: y(v), y2: y(v), stroke: '#e2e6ea' }, svg);
      const t = el('text', { x: MARGIN.left - 4, y: y(v) + 4, 'text-anchor': 'end' }, svg);
      t.textContent = formatNumber(v, digits);
    }
    const unitText = el('text', { x: 2, y: MARGIN.top + 2, 'dominant-baseline': 'hanging' }, svg);
    unitText.textContent = unit;

    // Time axis, local time.
    const from = m.from;
    const to = m.to;
    const span = Math.max(1, to - from);
    const tStep = timeStep(span, Math.max(2, Math.floor(width / 90)));
    const offset = new Date(from).getTimezoneOffset() * 60000;
    const axisY = totalH - MARGIN.bottom;
    const multiDay = span > 36 * 3600000;
    for (let t = Math.ceil((from - offset) / tStep) * tStep + offset; t <= to; t += tStep) {
      const px = MARGIN.left + ((t - from) / span) * width;
      el('line', { x1: px, x2: px, y1: MARGIN.top, y2: axisY, stroke: '#eef1f3' }, svg);
      const label = el('text', { x: px, y: axisY + 15, 'text-anchor': 'middle' }, svg);
      const d = new Date(t);
      label.textContent = multiDay && tStep >= 86400000
        ? d.toLocaleDateString(LOCALE, { month: 'short', day: 'numeric' })
        : multiDay
          ? d.toLocaleString(LOCALE, { day: 'numeric', hour: '2-digit', minute: '2-digit' })
          : d.toLocaleTimeString(LOCALE, { hour: '2-digit', minute: '2-digit' });
    }
    el('rect', { x: MARGIN.left, y: MARGIN.top, width: width, height: PLOT_H, fill: 'none', stroke: '#c4ccd4' }, svg);

    if (relays.length) {
      el('rect', { x: MARGIN.left, y: relayTop, width: width, height: RELAY_H, fill: '#f6f7f8', stroke: '#c4ccd4' }, svg);
      const onLabel = el('text', { x: MARGIN.left - 4, y: relayTop + 10, 'text-anchor': 'end' }, svg);
      onLabel.textContent = 'On';
      const offLabel = el('text', { x: MARGIN.left - 4, y: relayTop + RELAY_H - 2, 'text-anchor': 'end' }, svg);
      offLabel.textContent = 'Off';
    }
    const plot = el('g', { 'clip-path': 'url(#' + clipId + ')' }, svg);
    const colourOf = (s, n) => COLOURS[s.name] || SPARE[n % SPARE.length];
    legend.replaceChildren();

    temps.forEach((s, n) => {
      const colour = colourOf(s, n);
      const cols = s.columns.slice().sort((a, b) => a[0] - b[0]);
      let band = '';
      let line = '';
      let prev = null;
      for (const c of cols) {
        const px = x(c[0]);
        if (c[2] > c[1]) band += 'M' + px + ' ' + y(c[2]) + 'V' + y(c[1]);
        // A joined column continues the line from the previous column's last sample;
        // the server leaves it unjoined where the samples have a gap.
        if (prev && c[5]) line += 'L' + px + ' ' + y(c[3]);
        else line += 'M' + px + ' ' + y(c[3]);
        line += 'L' + px + ' ' + y(c[4]);
        prev = c;
      }
      if (band) el('path', { d: band, stroke: colour, 'stroke-width': 1, 'stroke-opacity': 0.35, fill: 'none' }, plot);
      el('path', { d: line, stroke: colour, 'stroke-width': 1.6, fill: 'none', 'stroke-linejoin': 'round', 'stroke-linecap': 'round' }, plot);
      addLegend(legend, s.name + (s.unit ? ' (' + s.unit + ')' : ''), colour);
    });

    relays.forEach((s, n) => {
      const colour = colourOf(s, temps.length + n);
      const top = relayTop + 2;
      const bottom = relayTop + RELAY_H - 2;
      const ry = (v) => (v > 0 ? top : bottom);
      const cols = s.columns.slice().sort((a, b) => a[0] - b[0]);
      let d = '';
      let prev = null;
      for (const c of cols) {
        const px = x(c[0]);
        if (prev && c[5]) d += 'H' + px + 'V' + ry(c[3]);
        else d += 'M' + px + ' ' + ry(c[3]);
        if (c[2] !== c[1]) d += 'V' + ry(c[2]) + 'V' + ry(c[1]);
        d += 'V' + ry(c[4]);
        prev = c;
      }
      if (prev) d += 'H' + (x(prev[0]) + 1);
      el('path', { d: d, stroke: colour, 'stroke-width': 1.5, fill: 'none' }, plot);
      addLegend(legend, s.name + ' (on/off)', colour);
    });

    for (const s of others) {
      const item = document.createElement('li');
      item.textContent = s.name + ': not drawn';
      legend.append(item);
    }
    host.replaceChildren(svg);
    host.setAttribute('aria-label', summary(temps, relays, width, unit, period, empty));
  }

  function addLegend(legend, text, colour) {
    const item = document.createElement('li');
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = colour;
    item.append(swatch, document.createTextNode(text));
    legend.append(item);
  }

  function summary(temps, relays, width, unit, period, empty) {
    if (empty && !relays.length) return 'No values ' + period + '.';
    const parts = [];
    for (const s of temps.slice(0, 2)) {
      let lo = Infinity;
      let hi = -Infinity;
      for (const c of s.columns) if (c[0] >= 0 && c[0] < width) { lo = Math.min(lo, c[1]); hi = Math.max(hi, c[2]); }
      if (isFinite(lo)) parts.push(s.name + ' from ' + formatNumber(lo, 1) + ' to ' + formatNumber(hi, 1) + ' ' + (s.unit || unit));
    }
    for (const s of relays) {
      const inView = s.columns.filter((c) => c[0] >= 0 && c[0] < width);
      if (inView.length) {
        const on = inView.filter((c) => c[2] > 0).length;
        parts.push(s.name + ' on in ' + Math.round((100 * on) / inView.length) + '% of the time shown');
      }
    }
    return (parts.join('; ') || 'No values') + ' ' + period + '.';
  }

  // ---- History ------------------------------------------------------------------------

  function isoDate(d) {
    const p = (n) => String(n).padStart(2, '0');
    return d.getFullYear() + '-' + p(d.getMonth() + 1) + '-' + p(d.getDate());
  }
  const today = new Date();
  $('history-to').value = isoDate(today);
  $('history-from').value = isoDate(new Date(today.getFullYear(), today.getMonth(), today.getDate() - 6));

  function updateReportLink() {
    const params = new URLSearchParams({ board: board || '', from: $('history-from').value, to: $('history-to').value });
    $('report-link').href = 'report.csv?' + params.toString();
  }
  $('history-from').addEventListener('change', updateReportLink);
  $('history-to').addEventListener('change', updateReportLink);

  function showHistory() {
    const from = $('history-from').value;
    const to = $('history-to').value;
    if (!from || !to || from > to) {
      setText($('history-note'), 'Choose a first day that is not after the last day.');
      return;
    }
    historyId = send({ type: 'history', from: from, to: to, width: chartWidth($('history-chart')) });
    setText($('history-note'), historyId ? 'Reading the log files…' : 'Not sent: no connection to the server.');
  }
  $('history-show').addEventListener('click', showHistory);

  function showDays(m) {
    if (m.id !== daysId) return;
    const dates = m.dates || [];
    if (!dates.length) { setText($('history-days'), 'No day has a log file yet.'); return; }
    const text = dates.length <= 10 ? dates.join(', ') : dates[0] + ' to ' + dates[dates.length - 1];
    setText($('history-days'), 'Logs exist for ' + dates.length + (dates.length === 1 ? ' day: ' : ' days: ') + text + '.');
  }

  start();
})();
