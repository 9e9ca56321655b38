// kx880-poll's live dashboard: the bus overview at "/", a meter's page at "/meter/N".
// Plain script, no build step: the poller embeds this file as it stands.
'use strict';
(function () {

// ---- Language ------------------------------------------------------------------------
// Chinese captions are the console's own (its main window and settings dialog); the rest is
// a plain translation of the English.
const STRINGS = {
  en: {
    skip: 'Skip to content', loading: 'Loading…',
    bus: 'Bus {b}', busTitle: 'Meters on bus {b}', meters: 'Meters',
    allMeters: 'All meters', otherMeters: 'Meters on this bus', meter: 'Meter {n}',
    address: 'Address',
    emptyBus: 'No meters are polled on this bus.',
    notFound: 'There is no meter {n} on this bus.', badPath: 'There is no such page.',
    unreachable: 'The poller cannot be reached. The page will reconnect by itself.',
    answering: 'Answering', waiting: 'Waiting', waitingLong: 'Waiting for the first reading',
    silent: 'Silent', silentSince: 'Silent since {t}',
    noReading: 'No reading yet.', lastReading: 'Last reading {t}',
    connecting: 'Connecting…', live: 'Live', reconnecting: 'Connection lost, reconnecting…',
    nowSilent: 'Meter {n} is silent.', nowAnswering: 'Meter {n} answers again.',
    voltage_mean: 'Voltage', current_mean: 'Current', active_power_total: 'Active power',
    reactive_power_total: 'Reactive power', apparent_power_total: 'Apparent power',
    power_factor_total: 'Power factor', frequency: 'Frequency',
    active_energy_forward: 'Forward active energy',
    active_energy_reverse: 'Reverse active energy',
    reactive_energy_forward: 'Forward reactive energy',
    reactive_energy_reverse: 'Reverse reactive energy',
    current_zero_sequence: 'Zero-sequence current',
    measurements: 'Measurements', energy: 'Energy', settings: 'Settings',
    limits: 'Limit status', health: 'Communication', findings: 'Findings',
    trends: 'Last hour',
    tableCaption: 'Values by phase; line voltages under CA, AB, BC',
    rowVoltage: 'Phase voltage', rowLine: 'Line voltage', rowCurrent: 'Current',
    rowActive: 'Active power', rowReactive: 'Reactive power', rowApparent: 'Apparent power',
    rowPf: 'Power factor',
    colA: 'A / CA', colB: 'B / AB', colC: 'C / BC', colTotal: 'Total / mean',
    pt: 'PT', ct: 'CT', wiring: 'Wiring', class: 'Class', urg: 'Urg factor',
    energyScale: 'Energy scale',
    limitVoltage: 'Voltage', limitCurrent: 'Current', limitField: 'Field {n}',
    normal: 'Normal', under: 'Under', over: 'Over',
    ok: 'Good replies', timeouts: 'Timeouts', bad_frames: 'Bad frames',
    exceptions: 'Exception replies', stale: 'Stale replies',
    energy_held: 'Energy steps held back', energy_resets: 'Energy counter resets',
    last_error: 'Last error', last_good: 'Last good reply', none: 'none',
    noFindings: 'No findings stand.', fault: 'Fault', warning: 'Warning', info: 'Info',
    phases: 'Phases', since: 'Since {t}', evidence: 'Evidence', wholeMeter: 'whole meter',
    tVoltage: 'Phase voltages', tCurrent: 'Currents', tActive: 'Total active power',
    tReactive: 'Total reactive power', tPf: 'Total power factor', tFrequency: 'Frequency',
    chartLabel: '{t}, chart of the {r}',
    summary: '{n} readings from {a} to {b}.', latest: 'Latest: {v}.',
    noData: 'No readings yet.', noCharts: 'Charts cannot be drawn in this browser.',
    phase: 'Phase {p}', line: 'Line {p}',
    trendsAll: 'Trends', range: 'Range of the trends', hour: 'Last hour', day: 'Last 24 hours',
    week: 'Last 7 days', month: 'Last 31 days',
    stored: '{n} stored averages from {a} to {b}.', values: 'Values {v}.',
    demand: 'Demand', demInterval: 'Interval', minutes: '{n} min',
    demCaption: 'Demand, active and apparent', demActive: 'Active', demApparent: 'Apparent',
    demRunning: 'Mean so far', demPredicted: 'Predicted', demLast: 'Last interval',
    partial: ' (partial)', from: 'from {t}',
    demDay: 'Maximum today', demMonth: 'Maximum this month',
    bars: 'Demand today', barsLabel: 'Demand today, bar chart of the active power per interval',
    barsSummary: '{n} intervals from {a} to {b}; the highest {v}, from {t}.',
    barsPartial: '{n} of them partial (lighter bars).',
    energyMethod: 'from the energy counters', meanMethod: 'from the mean power',
  },
  zh: {
    skip: '跳到正文', loading: '正在加载…',
    bus: '总线 {b}', busTitle: '总线 {b} 的仪表', meters: '仪表',
    allMeters: '全部仪表', otherMeters: '本总线的仪表', meter: '仪表 {n}',
    address: '子机地址',
    emptyBus: '本总线上没有轮询的仪表。',
    notFound: '本总线上没有地址为 {n} 的仪表。', badPath: '没有这个页面。',
    unreachable: '无法连接轮询程序，页面会自动重新连接。',
    answering: '正常应答', waiting: '等待', waitingLong: '等待首次读数',
    silent: '无应答', silentSince: '自 {t} 起无应答',
    noReading: '尚无读数。', lastReading: '最近读数 {t}',
    connecting: '正在连接…', live: '实时', reconnecting: '连接中断，正在重新连接…',
    nowSilent: '仪表 {n} 无应答。', nowAnswering: '仪表 {n} 恢复应答。',
    voltage_mean: '相电压', current_mean: '相电流', active_power_total: '有功功率',
    reactive_power_total: '无功功率', apparent_power_total: '视在功率',
    power_factor_total: '功率因数', frequency: '频率',
    active_energy_forward: '正向有功电能', active_energy_reverse: '负向有功电能',
    reactive_energy_forward: '正向无功电能', reactive_energy_reverse: '负向无功电能',
    current_zero_sequence: '零序电流',
    measurements: '基本数据', energy: '电能数据', settings: '仪表设置',
    limits: '越限状态', health: '通讯统计', findings: '诊断结果', trends: '最近一小时趋势',
    tableCaption: '分相数据；线电压在 CA、AB、BC 线下',
    rowVoltage: '相电压', rowLine: '线电压', rowCurrent: '相电流',
    rowActive: '有功功率', rowReactive: '无功功率', rowApparent: '视在功率',
    rowPf: '功率因数',
    colA: 'A相/CA线', colB: 'B相/AB线', colC: 'C相/BC线', colTotal: '合相',
    pt: 'PT', ct: 'CT', wiring: '接线方式', class: '精度', urg: 'Urg值',
    energyScale: '电能倍率',
    limitVoltage: '电压', limitCurrent: '电流', limitField: '第 {n} 路',
    normal: '正常', under: '欠', over: '过',
    ok: '正常回复', timeouts: '超时', bad_frames: '坏帧',
    exceptions: '异常回复', stale: '过期回复',
    energy_held: '电能回退保持', energy_resets: '电能计数复位',
    last_error: '最近错误', last_good: '最近正常回复', none: '无',
    noFindings: '没有诊断结果。', fault: '故障', warning: '警告', info: '提示',
    phases: '相别', since: '自 {t} 起', evidence: '依据', wholeMeter: '整表',
    tVoltage: '相电压', tCurrent: '相电流', tActive: '合相有功功率',
    tReactive: '合相无功功率', tPf: '合相功率因数', tFrequency: '频率',
    chartLabel: '{t}，{r}曲线',
    summary: '{a} 至 {b} 共 {n} 个读数。', latest: '最新：{v}。',
    noData: '尚无读数。', noCharts: '此浏览器无法绘制曲线。',
    phase: '{p}相', line: '{p}线',
    trendsAll: '趋势曲线', range: '趋势时间范围', hour: '最近一小时', day: '最近24小时',
    week: '最近7天', month: '最近31天',
    stored: '{a} 至 {b} 共 {n} 个存储的平均值。', values: '数值 {v}。',
    demand: '需量', demInterval: '需量周期', minutes: '{n} 分钟',
    demCaption: '需量：有功与视在', demActive: '有功需量', demApparent: '视在需量',
    demRunning: '当前周期平均', demPredicted: '预测需量', demLast: '上一周期需量',
    partial: '（不完整）', from: '{t} 起',
    demDay: '今日最大需量', demMonth: '本月最大需量',
    bars: '今日需量', barsLabel: '今日需量，各周期有功需量柱状图',
    barsSummary: '{a} 至 {b} 共 {n} 个周期；最大 {v}（{t} 起）。',
    barsPartial: '其中 {n} 个不完整（浅色柱）。',
    energyMethod: '按电能计算', meanMethod: '按平均功率计算',
  },
};
// The console's names of the six wiring modes, by code.
const ZH_WIRING = ['3相4线(非平衡)', '单相2线', '3相3线(非平衡)', '3相3线(平衡)', '单相3线',
  '3相4线(平衡)'];
// The console's limit words: under and over differ for voltage and current.
const ZH_LIMIT = { voltage: { under: '欠压', over: '过压' }, current: { under: '欠流', over: '过流' } };

function pickLanguage() {
  const first = (navigator.languages && navigator.languages[0]) || navigator.language || '';
  return /^zh\b/i.test(first) ? 'zh' : 'en';
}
const LANG = pickLanguage();
const S = STRINGS[LANG];
document.documentElement.lang = LANG === 'zh' ? 'zh-CN' : 'en';

function t(key, args) {
  let s = S[key] !== undefined ? S[key] : key;
  if (args) for (const k of Object.keys(args)) s = s.split('{' + k + '}').join(String(args[k]));
  return s;
}

// ---- Quantities ----------------------------------------------------------------------
const HEADLINE = ['voltage_mean', 'current_mean', 'active_power_total', 'reactive_power_total',
  'apparent_power_total', 'power_factor_total', 'frequency', 'active_energy_forward'];
const ENERGIES = ['active_energy_forward', 'active_energy_reverse', 'reactive_energy_forward',
  'reactive_energy_reverse'];
const COLUMNS = ['colA', 'colB', 'colC', 'colTotal'];
const ROWS = [
  { name: 'rowVoltage', word: 'voltage', keys: ['voltage_a', 'voltage_b', 'voltage_c', 'voltage_mean'] },
  { name: 'rowLine', word: 'line', keys: ['line_voltage_ca', 'line_voltage_ab', 'line_voltage_bc', 'line_voltage_mean'] },
  { name: 'rowCurrent', word: 'current', keys: ['current_a', 'current_b', 'current_c', 'current_mean'] },
  { name: 'rowActive', keys: ['active_power_a', 'active_power_b', 'active_power_c', 'active_power_total'] },
  { name: 'rowReactive', keys: ['reactive_power_a', 'reactive_power_b', 'reactive_power_c', 'reactive_power_total'] },
  { name: 'rowApparent', keys: ['apparent_power_a', 'apparent_power_b', 'apparent_power_c', 'apparent_power_total'] },
  { name: 'rowPf', keys: ['power_factor_a', 'power_factor_b', 'power_factor_c', 'power_factor_total'] },
];

// What a screen reader says for a value: "Phase A voltage", "Line voltage CA", "Total
// active power"; in Chinese "A相电压", "CA线电压", "合相有功功率".
const LABELS = {};
(function () {
  const en = {
    voltage: ['Phase A voltage', 'Phase B voltage', 'Phase C voltage', 'Mean phase voltage'],
    line: ['Line voltage CA', 'Line voltage AB', 'Line voltage BC', 'Mean line voltage'],
    current: ['Phase A current', 'Phase B current', 'Phase C current', 'Mean current'],
  };
  const zh = {
    voltage: ['A相电压', 'B相电压', 'C相电压', '合相电压'],
    line: ['CA线电压', 'AB线电压', 'BC线电压', '合相线电压'],
    current: ['A相电流', 'B相电流', 'C相电流', '合相电流'],
  };
  for (const row of ROWS) {
    row.keys.forEach(function (key, i) {
      if (row.word) { LABELS[key] = (LANG === 'zh' ? zh : en)[row.word][i]; return; }
      const what = S[row.name];
      if (LANG === 'zh') LABELS[key] = (i < 3 ? 'ABC'[i] + '相' : '合相') + what;
      else LABELS[key] = (i < 3 ? 'Phase ' + 'ABC'[i] + ' ' : 'Total ') + what.toLowerCase();
    });
  }
  for (const key of ENERGIES.concat(['frequency', 'current_zero_sequence'])) LABELS[key] = S[key];
})();

// The server's text of a value; "-" when not known. The texts carry the console's units and
// ladders; only demand comes as bare numbers (powerText).
function valueText(m, key) {
  if (!m || !m.reading || m.reading[key] === null || m.reading[key] === undefined) return '-';
  const s = m.texts && m.texts[key];
  return typeof s === 'string' && s !== '' ? s : '-';
}

// ---- Small helpers -------------------------------------------------------------------
function el(tag, attrs, children) {
  const e = document.createElement(tag);
  if (attrs) {
    for (const k of Object.keys(attrs)) {
      const v = attrs[k];
      if (v === null || v === undefined || v === false) continue;
      if (k === 'class') e.className = v;
      else if (k === 'text') e.textContent = v;
      else e.setAttribute(k, v === true ? '' : v);
    }
  }
  if (children) for (const c of children) if (c) e.append(c);
  return e;
}
function setText(e, s) { if (e.textContent !== s) e.textContent = s; }
function setAttr(e, name, v) { if (e.getAttribute(name) !== v) e.setAttribute(name, v); }

const timeFmt = new Intl.DateTimeFormat(LANG === 'zh' ? 'zh-CN' : undefined,
  { hour: '2-digit', minute: '2-digit', second: '2-digit', hourCycle: 'h23' });
const dateTimeFmt = new Intl.DateTimeFormat(LANG === 'zh' ? 'zh-CN' : undefined,
  { month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit', second: '2-digit', hourCycle: 'h23' });
const minuteFmt = new Intl.DateTimeFormat(LANG === 'zh' ? 'zh-CN' : undefined,
  { hour: '2-digit', minute: '2-digit', hourCycle: 'h23' });
// A moment as local time; with the date when it is not today.
function when(iso) {
  if (!iso) return '-';
  const d = new Date(iso);
  if (isNaN(d)) return '-';
  const today = new Date();
  return (d.toDateString() === today.toDateString() ? timeFmt : dateTimeFmt).format(d);
}
const dayFmt = new Intl.DateTimeFormat(LANG === 'zh' ? 'zh-CN' : undefined, { month: 'short', day: 'numeric' });
const dayMinuteFmt = new Intl.DateTimeFormat(LANG === 'zh' ? 'zh-CN' : undefined,
  { month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit', hourCycle: 'h23' });
// An interval's start (ISO or ms): minutes are enough, the date only when it is not today.
function slotTime(v) {
  const d = new Date(v || NaN);
  if (isNaN(d)) return '-';
  return (d.toDateString() === new Date().toDateString() ? minuteFmt : dayMinuteFmt).format(d);
}
// Power as the server's texts give it, the console's ladder: above 1000 in K with four
// decimals, above a million in M, else one decimal.
function powerText(v, unit) {
  if (typeof v !== 'number' || !isFinite(v)) return '-';
  if (v > 1e6) return (v / 1e6).toFixed(4) + ' M' + unit;
  if (v > 1e3) return (v / 1e3).toFixed(4) + ' K' + unit;
  return v.toFixed(1) + ' ' + unit;
}
function readingMs(m) {
  const v = m && m.reading && Date.parse(m.reading.time);
  return v || 0;
}

async function getJson(url) {
  const res = await fetch(url, { cache: 'no-store', headers: { Accept: 'application/json' } });
  let body = null;
  try { body = await res.json(); } catch (e) { body = null; }
  return { status: res.status, body: body };
}

// ---- Connection indicator and announcements -------------------------------------------
const connBox = document.getElementById('conn');
const connText = document.getElementById('conn-text');
const announcer = document.getElementById('announce');
let connState = 'connecting';
function setConn(state) {
  if (state === connState) return;  // the status region speaks only on a change
  connState = state;
  document.body.dataset.conn = state;
  setText(connText, t(state === 'down' ? 'reconnecting' : state));
  connBox.classList.toggle('banner', state === 'down');
}
function announce(text) {
  // Emptied first so that the same sentence twice is spoken twice.
  announcer.textContent = '';
  setTimeout(function () { announcer.textContent = text; }, 50);
}

// ---- Meter state ---------------------------------------------------------------------
const meters = new Map();  // address -> {address,state,silent_since,health,reading,texts,findings}

// Takes a meter as the API gives it, keeping a newer reading that arrived by the stream.
function mergeMeter(m) {
  const old = meters.get(m.address);
  if (old && readingMs(old) > readingMs(m)) { m.reading = old.reading; m.texts = old.texts; }
  meters.set(m.address, m);
  return m;
}

function stateText(m) {
  if (m.state === 'silent') return m.silent_since ? t('silentSince', { t: when(m.silent_since) }) : t('silent');
  if (m.state === 'waiting') return t('waitingLong');
  return t('answering');
}

function findingText(f) {
  return f.code + (f.phases && f.phases.length ? ' ' + f.phases.join(' ') : '');
}
const SEVERITIES = { fault: 0, warning: 1, info: 2 };
function sortedFindings(list) {
  return (list || []).slice().sort(function (a, b) {
    return (SEVERITIES[a.severity] ?? 3) - (SEVERITIES[b.severity] ?? 3);
  });
}
// The findings' marks: colour, a symbol and the severity's word, so that colour is not the
// only sign.
function fillMarks(ul, findings) {
  const list = sortedFindings(findings);
  ul.replaceChildren();
  for (const f of list) {
    const sev = SEVERITIES[f.severity] !== undefined ? f.severity : 'info';
    ul.append(el('li', { class: 'mark sev-' + sev, title: f.advice || null }, [
      el('span', { class: 'sym', 'aria-hidden': 'true', text: sev === 'fault' ? '✖' : sev === 'warning' ? '▲' : 'ℹ' }),
      el('span', { class: 'sr-only', text: t(sev) + ': ' }),
      el('span', { text: findingText(f) }),
    ]));
  }
  ul.hidden = list.length === 0;
}

// ---- Routing -------------------------------------------------------------------------
const main = document.getElementById('main');
const busBox = document.getElementById('bus');
const path = location.pathname.replace(/\/+$/, '') || '/';
let view = null;
const meterMatch = /^\/meter\/(\d{1,3})$/.exec(path);
if (path === '/' || path === '/index.html') view = overviewView();
else if (meterMatch) view = meterView(Number(meterMatch[1]));
else notFoundView(t('badPath'));
document.getElementById('skip').textContent = t('skip');
setText(document.getElementById('loading') || document.createElement('p'), t('loading'));
setText(connText, t('connecting'));

function setBus(name) {
  if (!name) return;
  setText(busBox, t('bus', { b: name }));
}

function notFoundView(message) {
  document.title = 'KX880';
  main.replaceChildren(el('h1', { text: message }),
    el('p', null, [el('a', { href: '/', text: t('allMeters') })]));
}

// ---- Overview ------------------------------------------------------------------------
function overviewView() {
  let built = null;  // the addresses the cards were made for, in order
  const cards = new Map();
  let shown = false;

  function card(m) {
    const id = 'meter-' + m.address;
    const vals = {};
    const dl = el('dl', { class: 'values' });
    for (const key of HEADLINE) {
      const dd = el('dd', { 'data-q': key });
      vals[key] = dd;
      dl.append(el('div', null, [el('dt', { text: S[key] }), dd]));
    }
    const state = el('p', { class: 'state' });
    const marks = el('ul', { class: 'marks', 'aria-label': t('findings') });
    const art = el('article', { class: 'card', 'aria-labelledby': id, 'data-address': m.address }, [
      el('div', { class: 'card-head' }, [
        el('h2', { id: id }, [el('a', { href: '/meter/' + m.address, class: 'stretch', text: t('meter', { n: m.address }) })]),
        state,
      ]),
      marks,
      dl,
    ]);
    const demand = el('p', { class: 'demand-line', hidden: true });
    art.append(demand);
    return { art: art, vals: vals, state: state, marks: marks, demand: demand };
  }

  function fillValues(m) {
    const c = cards.get(m.address);
    if (!c) return;
    for (const key of HEADLINE) {
      const text = valueText(m, key);
      setText(c.vals[key], text);
      setAttr(c.vals[key], 'aria-label', (LABELS[key] || S[key]) + ' ' + text);
    }
    // The last closed interval's demand, when the poller keeps demand.
    const last = m.reading && m.reading.demand && m.reading.demand.last;
    c.demand.hidden = !last;
    if (last) setText(c.demand, t('demand') + ' ' + powerText(last.active_w, 'W') + ' · ' +
      t('from', { t: slotTime(last.start) }) + (last.complete ? '' : t('partial')));
  }
  function fill(m) {
    const c = cards.get(m.address);
    if (!c) return;
    fillValues(m);
    fillState(m);
    fillMarks(c.marks, m.findings);
  }
  function fillState(m) {
    const c = cards.get(m.address);
    if (!c) return;
    setText(c.state, stateText(m));
    c.art.dataset.state = m.state;
  }

  function render(data) {
    setBus(data.bus);
    document.title = data.bus ? 'KX880 – ' + t('bus', { b: data.bus }) : 'KX880';
    const list = data.meters || [];
    for (const m of list) mergeMeter(m);
    const addresses = list.map(function (m) { return m.address; }).join(',');
    if (addresses !== built) {
      // Another set of meters (a restarted poller): new cards. Same set: updated in place,
      // so that keyboard focus stays where it is.
      for (const a of Array.from(meters.keys())) if (!list.some(function (m) { return m.address === a; })) meters.delete(a);
      cards.clear();
      const h1 = el('h1', { text: data.bus ? t('busTitle', { b: data.bus }) : t('meters') });
      if (!list.length) {
        main.replaceChildren(h1, el('p', { class: 'note', text: t('emptyBus') }));
      } else {
        const ul = el('ul', { class: 'cards' });
        for (const m of list) {
          const c = card(m);
          cards.set(m.address, c);
          ul.append(el('li', null, [c.art]));
        }
        main.replaceChildren(h1, ul);
      }
      built = addresses;
    }
    for (const m of list) fill(meters.get(m.address));
    shown = true;
  }

  return {
    async refresh() {
      let r;
      try { r = await getJson('/api/meters'); } catch (e) { r = null; }
      if (r && r.status === 200 && r.body) render(r.body);
      else if (!shown) main.replaceChildren(el('p', { class: 'note', text: t('unreachable') }));
    },
    known(address) { return cards.has(address); },
    reading(m) { fillValues(m); },
    state(m) { fillState(m); },
    health() {},
    findings(m) { const c = cards.get(m.address); if (c) fillMarks(c.marks, m.findings); },
  };
}

// ---- A meter's page -------------------------------------------------------------------
function meterView(address) {
  let page = null;   // the built page's elements
  let missing = false;
  let history = false;  // the poller keeps a history store
  let barsKey = null;   // the last closed interval the bars were fetched for
  let barsLoad = 0;     // which fetch of the bars is current

  function section(titleKey, id, children) {
    return el('section', { class: 'panel', 'aria-labelledby': id }, [el('h2', { id: id, text: t(titleKey) })].concat(children));
  }
  function dlRow(dl, label, key) {
    const dd = el('dd', key ? { 'data-q': key } : null);
    dl.append(el('div', null, [el('dt', { text: label }), dd]));
    return dd;
  }

  // A keyboard reaches a table's hidden columns by scrolling it: a tab stop only when it
  // does scroll.
  function tabWhenScrolling(scroller) {
    if (window.ResizeObserver) new ResizeObserver(function () {
      if (scroller.scrollWidth > scroller.clientWidth) scroller.setAttribute('tabindex', '0');
      else scroller.removeAttribute('tabindex');
    }).observe(scroller);
  }

  function build() {
    const p = { vals: {}, settings: {}, health: {} };
    p.title = el('h1', { text: t('meter', { n: address }) });
    p.state = el('p', { class: 'state' });
    p.time = el('p', { class: 'time' });
    p.marks = el('ul', { class: 'marks', 'aria-label': t('findings') });
    p.nav = el('nav', { class: 'meter-nav', 'aria-label': t('otherMeters') });

    // The phase table: the console's grid, with columns A, B, C and total or mean.
    const thead = el('thead', null, [el('tr', null, [el('td')].concat(COLUMNS.map(function (c) {
      return el('th', { scope: 'col', text: t(c) });
    })))]);
    const tbody = el('tbody');
    for (const row of ROWS) {
      const tr = el('tr', null, [el('th', { scope: 'row', text: t(row.name) })]);
      for (const key of row.keys) {
        const td = el('td', { 'data-q': key });
        p.vals[key] = td;
        tr.append(td);
      }
      tbody.append(tr);
    }
    const table = el('table', { class: 'phases' }, [el('caption', { class: 'sr-only', text: t('tableCaption') }), thead, tbody]);
    const scroller = el('div', { class: 'scroll', role: 'region', 'aria-label': t('measurements') }, [table]);
    tabWhenScrolling(scroller);
    const others = el('dl', { class: 'values' });
    p.vals.frequency = dlRow(others, S.frequency, 'frequency');
    p.vals.current_zero_sequence = dlRow(others, S.current_zero_sequence, 'current_zero_sequence');
    const energy = el('dl', { class: 'values' });
    for (const key of ENERGIES) p.vals[key] = dlRow(energy, S[key], key);

    const settings = el('dl', { class: 'values' });
    for (const [k, label] of [['pt', 'pt'], ['ct', 'ct'], ['wiring', 'wiring'], ['class', 'class'], ['urg_factor', 'urg'], ['energy_scale', 'energyScale']])
      p.settings[k] = dlRow(settings, t(label));

    p.limits = el('div');
    p.limitsPanel = section('limits', 'h-limits', [p.limits]);
    p.limitsPanel.hidden = true;

    const health = el('dl', { class: 'values' });
    for (const k of ['ok', 'timeouts', 'bad_frames', 'exceptions', 'stale', 'energy_held', 'energy_resets', 'last_error', 'last_good'])
      p.health[k] = dlRow(health, t(k));

    p.findings = el('div');

    p.trends = el('div', { class: 'charts' });
    // The range buttons show only when the poller keeps a history store.
    p.trendsTitle = el('h2', { id: 'h-trends', text: t('trends') });
    p.range = el('div', { class: 'range', role: 'group', 'aria-label': t('range'), hidden: true });
    for (const r of RANGES) {
      const b = el('button', { type: 'button', 'data-range': r, 'aria-pressed': String(r === 'hour'), text: t(r) });
      b.addEventListener('click', function () { pickRange(r); });
      p.range.append(b);
    }

    // Demand: the interval under way, the last one, the peaks; the day's bars with history.
    p.dem = {};
    const demBody = el('tbody');
    for (const k of ['running', 'predicted', 'last', 'day', 'month']) {
      const head = el('span'), at = el('span', { class: 'at' });
      const w = el('td'), va = el('td');
      p.dem[k] = { head: head, at: at, w: w, va: va };
      demBody.append(el('tr', null, [el('th', { scope: 'row' }, [head, at]), w, va]));
    }
    const demTable = el('table', { class: 'demand' }, [
      el('caption', { class: 'sr-only', text: t('demCaption') }),
      el('thead', null, [el('tr', null, [el('td'), el('th', { scope: 'col', text: t('demActive') }),
        el('th', { scope: 'col', text: t('demApparent') })])]),
      demBody]);
    const demScroller = el('div', { class: 'scroll', role: 'region', 'aria-label': t('demand') }, [demTable]);
    tabWhenScrolling(demScroller);
    const demDl = el('dl', { class: 'values' });
    p.demMinutes = dlRow(demDl, t('demInterval'));
    p.bars = el('div', { class: 'bars-box' });
    p.demPanel = section('demand', 'h-demand', [el('div', { class: 'demand-body' }, [
      el('div', null, [demDl, demScroller]), p.bars])]);
    p.demPanel.hidden = true;

    main.replaceChildren(
      el('p', { class: 'back' }, [el('a', { href: '/' }, [el('span', { 'aria-hidden': 'true', text: '← ' }), t('allMeters')])]),
      el('div', { class: 'meter-head' }, [p.title, p.state, p.time]),
      p.marks,
      el('div', { class: 'grid' }, [
        section('measurements', 'h-measurements', [scroller, others]),
        section('energy', 'h-energy', [energy]),
        section('settings', 'h-settings', [settings]),
        p.limitsPanel,
        section('health', 'h-health', [health]),
        section('findings', 'h-findings', [p.findings]),
      ]),
      p.demPanel,
      el('section', { class: 'panel', 'aria-labelledby': 'h-trends' }, [
        el('div', { class: 'trends-head' }, [p.trendsTitle, p.range]), p.trends]),
      p.nav);
    page = p;
    charts.build(p.trends);
    bars.build(p.bars);
  }

  // With a history store: the trends' range control and the day's demand bars.
  function setHistory(on) {
    history = on;
    page.range.hidden = !on;
    page.bars.hidden = !on;
    setText(page.trendsTitle, t(on ? 'trendsAll' : 'trends'));
    if (!on && charts.range() !== 'hour') pickRange('hour');
  }
  function pickRange(r) {
    for (const b of page.range.children) b.setAttribute('aria-pressed', String(b.dataset.range === r));
    charts.setRange(r);
  }

  function fillDemand(m) {
    const d = m.reading && m.reading.demand;
    page.demPanel.hidden = !d;
    if (!d) return;
    // A cell's value; a peak's with the start of its interval.
    const cell = function (td, v, unit) {
      const peak = v && typeof v === 'object';
      const text = powerText(peak ? v.value : v, unit);
      if (!peak) { delete td.dataset.shown; setText(td, text); return; }
      const key = text + '|' + v.start;
      if (td.dataset.shown === key) return;
      td.dataset.shown = key;
      td.replaceChildren(text, el('span', { class: 'at', text: t('from', { t: slotTime(v.start) }) }));
    };
    const row = function (k, head, at, w, va) {
      const c = page.dem[k];
      setText(c.head, head);
      setText(c.at, at);
      cell(c.w, w, 'W');
      cell(c.va, va, 'VA');
    };
    setText(page.demMinutes, typeof d.minutes === 'number' ? t('minutes', { n: d.minutes }) : '-');
    const running = t('from', { t: slotTime(d.running_start) });
    row('running', t('demRunning'), running, d.running_w, d.running_va);
    row('predicted', t('demPredicted'), running, d.predicted_w, d.predicted_va);
    const last = d.last;
    row('last', t('demLast'), last ? t('from', { t: slotTime(last.start) }) + (last.complete ? '' : t('partial')) : '',
      last && last.active_w, last && last.apparent_va);
    row('day', t('demDay'), '', d.day_max_w || null, d.day_max_va || null);
    row('month', t('demMonth'), '', d.month_max_w || null, d.month_max_va || null);
    // A new interval closed: the bars are fetched again.
    const key = last ? last.start : '';
    if (history && key !== barsKey) { barsKey = key; loadBars(d.minutes); }
  }
  async function loadBars(minutes) {
    const me = ++barsLoad;
    let r = null;
    try { r = await getJson('/api/meters/' + address + '/demand'); } catch (e) { r = null; }
    if (me !== barsLoad || !page) return;
    const b = r && r.status === 200 && r.body;
    if (b) bars.set(Array.isArray(b.intervals) ? b.intervals : [], minutes);
  }

  function fillValues(m) {
    for (const key of Object.keys(page.vals)) {
      const text = valueText(m, key);
      const e = page.vals[key];
      setText(e, text);
      setAttr(e, 'aria-label', LABELS[key] + ' ' + text);
    }
    const r = m.reading;
    setText(page.time, r ? t('lastReading', { t: when(r.time) }) : t('noReading'));
    const s = page.settings;
    const num = function (v) { return v === null || v === undefined ? '-' : String(v); };
    setText(s.pt, num(r && r.pt));
    setText(s.ct, num(r && r.ct));
    setText(s.wiring, !r ? '-' : LANG === 'zh' && ZH_WIRING[r.wiring] ? ZH_WIRING[r.wiring] : (r.wiring_name || num(r.wiring)));
    setText(s.class, num(r && r.class));
    setText(s.urg_factor, num(r && r.urg_factor));
    setText(s.energy_scale, r && r.energy_scale ? '×' + r.energy_scale : '-');
    fillLimits(r && r.limits);
  }

  function limitWord(kind, w) {
    if (LANG === 'zh' && ZH_LIMIT[kind][w]) return ZH_LIMIT[kind][w];
    return S[w] || w;
  }
  let limitsShape = '';
  function fillLimits(limits) {
    page.limitsPanel.hidden = !limits;
    if (!limits) return;
    const shape = JSON.stringify(limits);
    if (shape === limitsShape) return;
    limitsShape = shape;
    const fields = Math.max((limits.voltage || []).length, (limits.current || []).length);
    const head = el('tr', null, [el('td')]);
    for (let i = 0; i < fields; i++) head.append(el('th', { scope: 'col', text: t('limitField', { n: i + 1 }) }));
    const body = el('tbody');
    for (const kind of ['voltage', 'current']) {
      const tr = el('tr', null, [el('th', { scope: 'row', text: t(kind === 'voltage' ? 'limitVoltage' : 'limitCurrent') })]);
      const words = limits[kind] || [];
      for (let i = 0; i < fields; i++) {
        const w = words[i] || '-';
        tr.append(el('td', { class: 'limit-' + w, text: limitWord(kind, w) }));
      }
      body.append(tr);
    }
    page.limits.replaceChildren(el('table', { class: 'limits' }, [el('thead', null, [head]), body]));
  }

  function fillState(m) {
    setText(page.state, stateText(m));
    main.dataset.state = m.state;
  }
  function fillHealth(m) {
    const h = m.health || {};
    for (const k of Object.keys(page.health)) {
      let v = h[k];
      if (k === 'last_good') v = when(v);
      else if (k === 'last_error') v = v ? v : t('none');
      else v = v === null || v === undefined ? '-' : String(v);
      setText(page.health[k], v);
    }
  }
  function fillFindings(m) {
    fillMarks(page.marks, m.findings);
    const list = sortedFindings(m.findings);
    if (!list.length) { page.findings.replaceChildren(el('p', { class: 'note', text: t('noFindings') })); return; }
    const ul = el('ul', { class: 'findings' });
    for (const f of list) {
      const sev = SEVERITIES[f.severity] !== undefined ? f.severity : 'info';
      const ev = el('dl', { class: 'evidence' });
      for (const k of Object.keys(f.evidence || {})) {
        const v = f.evidence[k];
        // Evidence is raw arithmetic (angles, sums): six significant digits are plenty to read.
        const shown = v === null ? '-' : String(typeof v === 'number' ? Number(v.toPrecision(6)) : v);
        ev.append(el('div', null, [el('dt', { text: k }), el('dd', { text: shown })]));
      }
      ul.append(el('li', { class: 'finding sev-' + sev }, [
        el('p', { class: 'finding-head' }, [
          el('span', { class: 'sev', text: t(sev) }), ' ',
          el('code', { text: f.code }), ' ',
          el('span', { class: 'muted', text: t('phases') + ': ' + (f.phases && f.phases.length ? f.phases.join(', ') : t('wholeMeter')) }),
          f.since ? el('span', { class: 'muted', text: ' · ' + t('since', { t: when(f.since) }) }) : null,
        ]),
        f.advice ? el('p', { text: f.advice }) : null,
        ev.childElementCount ? el('p', { class: 'muted', text: t('evidence') }) : null,
        ev.childElementCount ? ev : null,
      ]));
    }
    page.findings.replaceChildren(ul);
  }
  function fillNav(list) {
    const ul = el('ul');
    for (const m of list) {
      const a = el('a', { href: '/meter/' + m.address, text: t('meter', { n: m.address }) });
      if (m.address === address) a.setAttribute('aria-current', 'page');
      ul.append(el('li', { 'data-state': m.state }, [a]));
    }
    page.nav.replaceChildren(el('h2', { class: 'sr-only', text: t('otherMeters') }), ul);
    page.nav.hidden = list.length < 2;
  }

  function fill(m) {
    fillValues(m);
    fillState(m);
    fillHealth(m);
    fillFindings(m);
    fillDemand(m);
  }

  return {
    async refresh() {
      // The bus's list holds every meter whole; an address that is not in it is not asked
      // for (its 404 would only fill the browser's console).
      let all = null, one = null;
      try { all = await getJson('/api/meters'); } catch (e) { all = null; }
      if (all && all.status === 200 && all.body) {
        setBus(all.body.bus);
        const found = (all.body.meters || []).find(function (m) { return m.address === address; });
        one = found ? { status: 200, body: found } : { status: 404 };
      }
      if (one && one.status === 404) {
        missing = true;
        meters.delete(address);
        if (page) { charts.destroy(); bars.destroy(); }
        page = null;
        notFoundView(t('notFound', { n: address }));
        return;
      }
      if (!one || one.status !== 200 || !one.body) {
        if (!page) main.replaceChildren(el('p', { class: 'note', text: t('unreachable') }));
        return;
      }
      missing = false;
      document.title = 'KX880 – ' + t('meter', { n: address });
      const m = mergeMeter(one.body);
      if (!page) build();
      if (all && all.body && all.body.meters) fillNav(all.body.meters);
      setHistory(all.body.history === true);
      barsKey = null;  // fetched afresh after a reconnect
      fill(m);
      charts.load(address, m);
    },
    known(a) { return a === address ? !missing : true; },
    reading(m) { if (page && m.address === address) { fillValues(m); fillState(m); fillDemand(m); charts.add(m); } },
    state(m) { if (page && m.address === address) fillState(m); },
    health(m) { if (page && m.address === address) fillHealth(m); },
    findings(m) { if (page && m.address === address) fillFindings(m); },
  };
}

// ---- Trends --------------------------------------------------------------------------
const HOUR_MS = 3600 * 1000;
const DAY_MS = 24 * HOUR_MS;
// The trends' ranges in seconds: the last hour is live, the longer ones come from the store.
const RANGES = ['hour', 'day', 'week', 'month'];
const RANGE_S = { hour: 3600, day: 86400, week: 604800, month: 2678400 };
const PHASE_COLOURS = ['#c79a00', '#2e8b57', '#c0392b'];  // A yellow, B green, C red, as on site
const TRENDS = [
  { id: 'voltage', title: 'tVoltage', unit: 'V', prefix: ['', 'K'], keys: ['voltage_a', 'voltage_b', 'voltage_c'] },
  { id: 'current', title: 'tCurrent', unit: 'A', prefix: ['', 'K'], keys: ['current_a', 'current_b', 'current_c'] },
  { id: 'active', title: 'tActive', unit: 'W', prefix: ['', 'K', 'M'], keys: ['active_power_total'], colour: '#1f6fb2' },
  { id: 'reactive', title: 'tReactive', unit: 'Var', prefix: ['', 'K', 'M'], keys: ['reactive_power_total'], colour: '#7b4fb0' },
  { id: 'pf', title: 'tPf', unit: '', prefix: [''], keys: ['power_factor_total'], colour: '#1f6fb2' },
  { id: 'frequency', title: 'tFrequency', unit: 'Hz', prefix: [''], keys: ['frequency'], colour: '#1f6fb2' },
];

function cssVar(name, fallback) {
  return getComputedStyle(document.documentElement).getPropertyValue(name).trim() || fallback;
}
// A tick of a value axis in the console's unit steps: 1.5 KW, 230 V.
function valueTick(def) {
  return function (value) {
    const big = Math.max(Math.abs(this.max), Math.abs(this.min));
    let p = 0;
    while (p + 1 < def.prefix.length && big > Math.pow(1000, p + 1)) p++;
    const v = value / Math.pow(1000, p);
    return String(Number(v.toPrecision(6))) + (def.unit || def.prefix[p] ? ' ' + def.prefix[p] + def.unit : '');
  };
}
// A value as the tooltips give it: six significant digits and the unit.
function plainValue(v, unit) {
  return String(Number(v.toPrecision(6))) + (unit ? ' ' + unit : '');
}
function chartDefaults() {
  Chart.defaults.color = cssVar('--muted', '#555');
  Chart.defaults.borderColor = cssVar('--grid', '#ddd');
  Chart.defaults.font.family = getComputedStyle(document.body).fontFamily;
}

const charts = (function () {
  const series = {};    // key -> [{x, y}], oldest first, at most an hour
  const live = {};      // key -> points that came by the stream while the trend was loading
  let loaded = false;
  let loading = 0;      // which load is current: a reconnect starts a new one
  let items = [];       // {def, chart, canvas, summary}
  let lastMeter = null;
  let redrawTimer = 0;
  let range = 'hour';
  let stored = {};      // key -> [{x, y}] of a longer range, as the store gave them
  let storedSpan = [0, 0];
  let storeLoad = 0;    // which fetch of a longer range is current
  let storing = false;  // one is under way
  let address = 0;

  // A tick of the time axis: local hours and minutes (seconds over a short span, dates
  // over days).
  function timeTick(value) {
    const span = this.max - this.min;
    const d = new Date(value);
    return span > 2 * DAY_MS ? dayFmt.format(d) : span < 3 * 60000 ? timeFmt.format(d) : minuteFmt.format(d);
  }
  // The time axis's ticks: on whole local minutes (seconds over a short span), as many as
  // the width takes, about one for every 60 px.
  function timeTicks(scale) {
    const span = scale.max - scale.min;
    const most = Math.max(2, Math.floor((scale.width || 300) / 60));
    const steps = [5, 10, 15, 30, 60, 120, 300, 600, 900, 1200, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800];
    let k = steps.findIndex(function (s) { return span / (s * 1000) <= most; });
    if (k < 0) k = steps.length - 1;
    if (k > 0 && span / (steps[k] * 1000) < 2) k--;  // two ticks at least; autoSkip thins
    if (span > 2 * DAY_MS) k = Math.max(k, steps.indexOf(86400));  // dates: whole days
    const step = steps[k] * 1000;
    const ticks = [];
    if (step >= DAY_MS) {
      // On local midnights, whatever the daylight saving time.
      const d = new Date(scale.min);
      d.setHours(0, 0, 0, 0);
      for (; d.getTime() <= scale.max; d.setDate(d.getDate() + step / DAY_MS)) if (d.getTime() >= scale.min) ticks.push({ value: d.getTime() });
    } else {
      const offset = new Date(scale.min).getTimezoneOffset() * 60000;
      for (let v = Math.ceil((scale.min - offset) / step) * step + offset; v <= scale.max; v += step) ticks.push({ value: v });
    }
    scale.ticks = ticks;
  }

  function build(container) {
    if (!window.Chart) { container.replaceChildren(el('p', { class: 'note', text: t('noCharts') })); return; }
    chartDefaults();
    items = [];
    const figures = [];
    for (const def of TRENDS) {
      const title = t(def.title);
      const sumId = 'sum-' + def.id;
      const canvas = el('canvas', { role: 'img', 'aria-label': chartLabel(title), 'aria-describedby': sumId });
      const summary = el('p', { class: 'summary', id: sumId, text: t('noData') });
      const fig = el('figure', { class: 'chart', 'data-trend': def.id }, [
        el('figcaption', { text: title + (def.unit ? ' (' + def.unit + ')' : '') }),
        el('div', { class: 'canvas-box' }, [canvas]),
        summary,
      ]);
      figures.push(fig);
      items.push({ def: def, canvas: canvas, summary: summary, chart: null, title: title });
    }
    container.replaceChildren.apply(container, figures);
    for (const it of items) {
      const def = it.def;
      const datasets = def.keys.map(function (key, i) {
        if (!series[key]) series[key] = [];
        const colour = def.colour || PHASE_COLOURS[i];
        return {
          label: def.keys.length > 1 ? t('phase', { p: 'ABC'[i] }) : t(def.title),
          data: series[key], borderColor: colour, backgroundColor: colour,
          borderWidth: 1.5, pointRadius: 0, pointHitRadius: 4, tension: 0, spanGaps: 15000,
        };
      });
      it.chart = new Chart(it.canvas, {
        type: 'line',
        data: { datasets: datasets },
        options: {
          animation: false, parsing: false, normalized: true, responsive: true,
          maintainAspectRatio: false,
          interaction: { mode: 'nearest', axis: 'x', intersect: false },
          scales: {
            x: { type: 'linear', afterBuildTicks: timeTicks, ticks: { callback: timeTick, maxRotation: 0, autoSkip: true }, grid: { display: false } },
            y: { ticks: { callback: valueTick(def), maxTicksLimit: 6 } },
          },
          plugins: {
            legend: { display: def.keys.length > 1, labels: { boxWidth: 12 } },
            tooltip: {
              callbacks: {
                title: function (ctx) { return ctx.length ? when(new Date(ctx[0].parsed.x).toISOString()) : ''; },
                label: function (ctx) { return ctx.dataset.label + ': ' + plainValue(ctx.parsed.y, def.unit); },
              },
            },
          },
        },
      });
    }
  }

  // The whole of a series is replaced in place: the charts hold the same arrays.
  function replace(key, points) {
    const arr = series[key] || (series[key] = []);
    arr.length = 0;
    for (const p of points) arr.push(p);
  }
  function append(key, x, y) {
    const arr = series[key] || (series[key] = []);
    if (arr.length && x <= arr[arr.length - 1].x) return;  // the trend had it already
    arr.push({ x: x, y: y });
    // Keep at most an hour.
    const cut = x - HOUR_MS;
    let drop = 0;
    while (drop < arr.length && arr[drop].x < cut) drop++;
    if (drop) arr.splice(0, drop);
  }

  function chartLabel(title) {
    return t('chartLabel', { t: title, r: t(range).toLowerCase() });
  }

  function trendKeys() { return [].concat.apply([], TRENDS.map(function (d) { return d.keys; })); }
  function pointsOf(r) {
    const samples = r && r.status === 200 && r.body && Array.isArray(r.body.samples) ? r.body.samples : [];
    const points = [];
    for (const s of samples) if (Array.isArray(s) && typeof s[1] === 'number') points.push({ x: s[0], y: s[1] });
    return points;
  }

  async function load(a, m) {
    lastMeter = m;
    address = a;
    if (!items.length) return;
    if (range !== 'hour') loadStored();
    const me = ++loading;
    loaded = false;
    for (const k of Object.keys(live)) delete live[k];
    const keys = trendKeys();
    const results = await Promise.all(keys.map(function (key) {
      return getJson('/api/meters/' + address + '/trend?quantity=' + key + '&seconds=3600')
        .catch(function () { return null; });
    }));
    if (me !== loading) return;
    keys.forEach(function (key, i) {
      const points = pointsOf(results[i]);
      // After a reconnect the page keeps what it drew before the server's first sample: a
      // restarted poller starts its trend afresh.
      const old = series[key] || [];
      const first = points.length ? points[0].x : Infinity;
      const kept = old.filter(function (p) { return p.x < first; });
      replace(key, kept.concat(points));
      for (const p of live[key] || []) append(key, p.x, p.y);
    });
    loaded = true;
    redraw();
  }

  function add(m) {
    lastMeter = m;
    if (!items.length || !m.reading) return;
    const x = Date.parse(m.reading.time);
    if (!x) return;
    for (const def of TRENDS) {
      for (const key of def.keys) {
        const y = m.reading[key];
        if (typeof y !== 'number') continue;
        if (loaded) append(key, x, y);
        else (live[key] || (live[key] = [])).push({ x: x, y: y });
      }
    }
    if (loaded && range === 'hour') scheduleRedraw();  // the longer ranges are not live
  }

  // A longer range: the store's averages, drawn as they come, not extended.
  function setRange(r) {
    if (r === range) return;
    range = r;
    for (const it of items) it.canvas.setAttribute('aria-label', chartLabel(it.title));
    if (r === 'hour') { storeLoad++; storing = false; redraw(); } else loadStored();
  }
  async function loadStored() {
    if (!items.length) return;
    const me = ++storeLoad;
    storing = true;
    const seconds = RANGE_S[range];
    const now = Date.now();
    stored = {};
    storedSpan = [now - seconds * 1000, now];
    redraw();
    const keys = trendKeys();
    const results = await Promise.all(keys.map(function (key) {
      return getJson('/api/meters/' + address + '/trend?quantity=' + key + '&seconds=' + seconds)
        .catch(function () { return null; });
    }));
    if (me !== storeLoad) return;
    keys.forEach(function (key, i) { stored[key] = pointsOf(results[i]); });
    storing = false;
    redraw();
  }

  // Redraws at most twice a second, however fast the bus reads.
  function scheduleRedraw() {
    if (redrawTimer) return;
    redrawTimer = setTimeout(function () { redrawTimer = 0; redraw(); }, 500);
  }

  // A line breaks where readings are missing: a gap of five of the bus's usual steps, at
  // least 15 s (the trend keeps one sample a second; a slow --interval spaces them more).
  function gapOf(arr) {
    const n = Math.min(arr.length - 1, 60);
    if (n < 1) return 15000;
    const steps = [];
    for (let i = arr.length - n; i < arr.length; i++) steps.push(arr[i].x - arr[i - 1].x);
    steps.sort(function (a, b) { return a - b; });
    return Math.max(15000, 5 * steps[steps.length >> 1]);
  }

  function redraw() {
    const long = range !== 'hour';
    const shown = long ? stored : series;
    for (const it of items) {
      let min = Infinity, max = -Infinity, n = 0;
      for (const key of it.def.keys) {
        const arr = shown[key] || [];
        if (!arr.length) continue;
        min = Math.min(min, arr[0].x);
        max = Math.max(max, arr[arr.length - 1].x);
        n = Math.max(n, arr.length);
      }
      const x = it.chart.options.scales.x;
      if (long) {
        x.min = storedSpan[0];
        x.max = storedSpan[1];
      } else {
        if (!n) { max = Date.now(); min = max - 60000; }
        min = Math.max(min, max - HOUR_MS);
        x.min = min;
        x.max = Math.max(max, min + 1000);
      }
      it.def.keys.forEach(function (key, i) {
        const ds = it.chart.data.datasets[i];
        ds.data = shown[key] || [];
        ds.spanGaps = gapOf(ds.data);
      });
      it.chart.update('none');
      if (long) summariseStored(it, n, min, max);
      else summarise(it, n, min, max);
    }
  }

  // A longer range's text alternative: how much it holds and each line's lowest and highest.
  function summariseStored(it, n, min, max) {
    if (storing) { setText(it.summary, t('loading')); return; }
    if (!n) { setText(it.summary, t('noData')); return; }
    const spread = it.def.keys.map(function (key, i) {
      let lo = Infinity, hi = -Infinity;
      for (const p of stored[key] || []) { lo = Math.min(lo, p.y); hi = Math.max(hi, p.y); }
      if (lo > hi) return '';
      return (it.def.keys.length > 1 ? 'ABC'[i] + ' ' : '') + plainValue(lo, it.def.unit) + ' – ' + plainValue(hi, it.def.unit);
    }).filter(Boolean);
    setText(it.summary, t('stored', { n: n, a: when(new Date(min).toISOString()), b: when(new Date(max).toISOString()) }) +
      ' ' + t('values', { v: spread.join(LANG === 'zh' ? '，' : ', ') }));
  }

  // The chart's text alternative: how much it holds and the latest values, as texts.
  function summarise(it, n, min, max) {
    if (!n) { setText(it.summary, t('noData')); return; }
    let s = t('summary', { n: n, a: when(new Date(min).toISOString()), b: when(new Date(max).toISOString()) });
    const m = lastMeter;
    if (m && m.reading) {
      const latest = it.def.keys.map(function (key, i) {
        return (it.def.keys.length > 1 ? 'ABC'[i] + ' ' : '') + valueText(m, key);
      });
      s += ' ' + t('latest', { v: latest.join(LANG === 'zh' ? '，' : ', ') });
    }
    setText(it.summary, s);
  }

  function destroy() {
    for (const it of items) it.chart && it.chart.destroy();
    items = [];
    range = 'hour';
    storeLoad++;
    storing = false;
  }

  return { build: build, load: load, add: add, destroy: destroy, setRange: setRange, range: function () { return range; } };
})();

// ---- Demand bars ---------------------------------------------------------------------
// Today's intervals in their places from the local midnight; a gap where none was closed.
const bars = (function () {
  const COLOUR = '#1f6fb2', LIGHT = '#93bde3';  // partial ones lighter, seen on dark too
  let chart = null, summary = null;
  let slots = [];  // the intervals' starts (ms), the whole day's
  let shown = [];  // the interval at each slot, or null

  function build(container) {
    if (!window.Chart) { container.replaceChildren(el('p', { class: 'note', text: t('noCharts') })); return; }
    chartDefaults();
    const canvas = el('canvas', { role: 'img', 'aria-label': t('barsLabel'), 'aria-describedby': 'sum-bars' });
    summary = el('p', { class: 'summary', id: 'sum-bars', text: t('noData') });
    container.replaceChildren(el('figure', { class: 'chart', 'data-trend': 'demand' }, [
      el('figcaption', { text: t('bars') + ' (W)' }), el('div', { class: 'canvas-box' }, [canvas]), summary]));
    chart = new Chart(canvas, {
      type: 'bar',
      data: { labels: [], datasets: [{ label: t('demActive'), data: [], backgroundColor: [], borderWidth: 0, barPercentage: 1, categoryPercentage: 0.85 }] },
      options: {
        animation: false, responsive: true, maintainAspectRatio: false,
        scales: {
          x: { grid: { display: false }, ticks: { autoSkip: false, maxRotation: 0, callback: slotTick } },
          y: { beginAtZero: true, ticks: { callback: valueTick({ unit: 'W', prefix: ['', 'K', 'M'] }), maxTicksLimit: 6 } },
        },
        plugins: {
          legend: { display: false },
          tooltip: {
            callbacks: {
              title: function (ctx) { return ctx.length ? slotTime(slots[ctx[0].dataIndex]) : ''; },
              label: function (ctx) {
                const d = shown[ctx.dataIndex];
                return powerText(ctx.parsed.y, 'W') + (d && !d.complete ? t('partial') : '') +
                  (d && d.method ? ', ' + t(d.method === 'energy' ? 'energyMethod' : 'meanMethod') : '');
              },
            },
          },
        },
      },
    });
  }

  // Whole hours only, every third (every sixth on a narrow chart).
  function slotTick(value, index) {
    const d = new Date(slots[index]);
    const every = this.chart.width < 480 ? 6 : 3;
    return d.getMinutes() === 0 && d.getHours() % every === 0 ? minuteFmt.format(d) : '';
  }

  function set(intervals, minutes) {
    if (!chart) return;
    // The server aligns intervals on the epoch; the slots do the same.
    const step = ((intervals[0] && intervals[0].minutes) || minutes || 15) * 60000;
    const day = new Date();
    day.setHours(0, 0, 0, 0);
    const from = day.getTime();
    day.setDate(day.getDate() + 1);
    slots = [];
    for (let x = Math.ceil(from / step) * step; x < day.getTime(); x += step) slots.push(x);
    shown = slots.map(function () { return null; });
    for (const d of intervals) {
      const i = Math.round((Date.parse(d.start) - slots[0]) / step);
      if (i >= 0 && i < slots.length && typeof d.active_w === 'number') shown[i] = d;
    }
    const ds = chart.data.datasets[0];
    chart.data.labels = slots;
    ds.data = shown.map(function (d) { return d ? d.active_w : null; });
    ds.backgroundColor = shown.map(function (d) { return d && !d.complete ? LIGHT : COLOUR; });
    chart.update('none');
    summarise();
  }

  function summarise() {
    const list = shown.filter(Boolean);
    if (!list.length) { setText(summary, t('noData')); return; }
    let top = list[0];
    for (const d of list) if (d.active_w > top.active_w) top = d;
    const last = list[list.length - 1];
    const partial = list.filter(function (d) { return !d.complete; }).length;
    setText(summary, t('barsSummary', {
      n: list.length, a: slotTime(list[0].start),
      b: slotTime(Date.parse(last.start) + (last.minutes || 15) * 60000),
      v: powerText(top.active_w, 'W'), t: slotTime(top.start),
    }) + (partial ? ' ' + t('barsPartial', { n: partial }) : ''));
  }

  function destroy() {
    if (chart) chart.destroy();
    chart = null;
  }

  return { build: build, set: set, destroy: destroy };
})();

// ---- Live stream ---------------------------------------------------------------------
let source = null;
let reopenTimer = 0;
let reopenDelay = 2000;
let refetchTimer = 0;

function refetchSoon() {
  if (refetchTimer || !view) return;
  refetchTimer = setTimeout(function () { refetchTimer = 0; view.refresh(); }, 300);
}

function parse(e) {
  try { return JSON.parse(e.data); } catch (err) { return null; }
}

function connect() {
  if (!view) return;
  clearTimeout(reopenTimer);
  const es = new EventSource('/api/events');
  source = es;
  es.addEventListener('open', function () {
    reopenDelay = 2000;
    setConn('live');
    fetched = true;
    view.refresh();  // a restarted poller may poll other meters
  });
  es.addEventListener('error', function () {
    if (source !== es) return;
    setConn('down');  // the browser retries by itself after the server's retry time
    if (!fetched) { fetched = true; view.refresh(); }
    if (es.readyState === EventSource.CLOSED) {
      // Refused outright (a full server, a proxy's error page): the browser gives up, so
      // the page tries again itself, more slowly each time.
      es.close();
      reopenTimer = setTimeout(connect, reopenDelay);
      reopenDelay = Math.min(reopenDelay * 2, 30000);
    }
  });
  es.addEventListener('reading', function (e) {
    const d = parse(e);
    if (!d || !d.reading) return;
    const m = meters.get(d.address);
    if (!m) { if (!view.known(d.address)) refetchSoon(); return; }
    if (readingMs(m) > Date.parse(d.reading.time)) return;
    m.reading = d.reading;
    m.texts = d.texts || null;
    if (m.state !== 'answering') {
      if (m.state === 'silent') announce(t('nowAnswering', { n: m.address }));
      m.state = 'answering';
      m.silent_since = null;
      view.state(m);
    }
    view.reading(m);
  });
  es.addEventListener('health', function (e) {
    const d = parse(e);
    if (!d || !Array.isArray(d.meters)) return;
    for (const h of d.meters) {
      const m = meters.get(h.address);
      if (!m) { if (!view.known(h.address)) refetchSoon(); continue; }
      const was = m.state;
      m.state = h.state;
      m.silent_since = h.silent_since;
      m.health = h.health;
      if (was !== h.state) {
        if (h.state === 'silent') announce(t('nowSilent', { n: h.address }));
        else if (was === 'silent' && h.state === 'answering') announce(t('nowAnswering', { n: h.address }));
      }
      view.state(m);
      view.health(m);
    }
  });
  es.addEventListener('finding', function (e) {
    const d = parse(e);
    if (!d) return;
    const m = meters.get(d.address);
    if (!m) return;
    m.findings = Array.isArray(d.findings) ? d.findings : [];
    view.findings(m);
  });
}

// The first fetch waits for the stream to open (so that no event falls between the two),
// or for its first failure, so that a page without a stream still shows the bus.
let fetched = false;
if (view) connect();
// A page kept for the back button must not hold a stream open; it opens a new one (and
// fetches everything again) when it is shown.
window.addEventListener('pagehide', function () {
  if (source) { source.close(); source = null; }
  clearTimeout(reopenTimer);
});
window.addEventListener('pageshow', function (e) {
  if (e.persisted && view) { setConn('connecting'); connect(); }
});

})();
