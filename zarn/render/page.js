// The page of a resampled set: the partials drawn on a canvas as the still picture draws them
// (time across, frequency up, opacity from the level in ten shades), zoomed and panned, read
// out under the pointer, selected and played through Web Audio. window.zarnView is the same
// for scripts and tests.
"use strict";
(() => {
  const meta = JSON.parse(document.getElementById("zarn-meta").textContent);
  const bytes = (id) => {
    const text = atob(document.getElementById("zarn-" + id).textContent);
    const b = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) b[i] = text.charCodeAt(i);
    return b.buffer;
  };
  const t0 = new Float64Array(bytes("t0"));
  const count = new Uint32Array(bytes("count"));
  const freq = new Float32Array(bytes("freq"));
  const level = new Int16Array(bytes("level"));  // hundredths of a dB; -32768: silence
  const summary = new Float64Array(bytes("summary"));  // mean Hz, loudest dB, duration, as the filters judge them
  const noise = new Float32Array(bytes("noise"));  // band, from, to, shade
  const P = count.length, step = meta.step, SILENT = -32768;
  const first = new Uint32Array(P + 1);  // where each partial's points start
  for (let p = 0; p < P; ++p) first[p + 1] = first[p] + count[p];
  // Each partial's frequencies, lowest and highest, to pass over those outside the view.
  const fLow = new Float32Array(P), fHigh = new Float32Array(P);
  for (let p = 0; p < P; ++p) {
    let lo = Infinity, hi = -Infinity;
    for (let i = first[p]; i < first[p + 1]; ++i) {
      const f = freq[i];
      if (f < lo) lo = f;
      if (f > hi) hi = f;
    }
    fLow[p] = lo, fHigh[p] = hi;
  }
  const tEnd = (p) => t0[p] + (count[p] - 1) * step;
  const db = (i) => (level[i] === SILENT ? -Infinity : level[i] / 100);

  // The plotting area within the canvas, as in the still picture.
  const L = 80, R = 1180, T = 50, B = 650, W = 1200, H = 720, SHADES = 10, QUIET = -90;
  const canvas = document.getElementById("view");
  const scale = window.devicePixelRatio || 1;
  canvas.width = W * scale, canvas.height = H * scale;
  canvas.style.width = W + "px", canvas.style.height = H + "px";
  const ctx = canvas.getContext("2d");
  ctx.scale(scale, scale);

  let view = { ...meta.span };
  let floor = meta.floor === null ? -Infinity : meta.floor;
  let selected = new Set();
  let hover = null;  // the partial under the pointer
  const log = meta.log;
  const fv = (f) => (log ? Math.log10(Math.max(f, view.f0 / 10)) : f);
  const X = (t) => L + ((t - view.t0) / (view.t1 - view.t0)) * (R - L);
  const Y = (f) => B - ((fv(f) - fv(view.f0)) / (fv(view.f1) - fv(view.f0))) * (B - T);
  const tOf = (x) => view.t0 + ((x - L) / (R - L)) * (view.t1 - view.t0);
  const fOf = (y) => {
    const v = fv(view.f0) + ((B - y) / (B - T)) * (fv(view.f1) - fv(view.f0));
    return log ? Math.pow(10, v) : v;
  };
  const opacity = (d) => Math.min(1, Math.max(0.05, (d - QUIET) / -QUIET));
  const shade = (d) => Math.min(SHADES, Math.max(1, Math.round(opacity(d) * SHADES)));

  // Ticks at round values, as the still picture has them.
  function linearTicks(lo, hi, target) {
    const ticks = [];
    if (!(hi > lo)) return ticks;
    const raw = (hi - lo) / target, unit = Math.pow(10, Math.floor(Math.log10(raw)));
    let s = unit;
    for (const m of [2, 5, 10]) if (raw > s) s = m * unit;
    const a = Math.ceil(lo / s), b = Math.floor((hi + (hi - lo) * 1e-9) / s);
    if (b - a > 4 * target + 4) return ticks;
    for (let k = a; k <= b; ++k) ticks.push(k * s === 0 ? 0 : k * s);
    return ticks;
  }
  function logTicks(lo, hi) {
    if (!(lo > 0) || !isFinite(hi)) return linearTicks(lo, hi, 6);
    const ticks = [];
    for (let d = Math.pow(10, Math.floor(Math.log10(lo))); d <= hi && d > 0; d *= 10)
      for (const m of [1, 2, 5]) if (m * d >= lo && m * d <= hi) ticks.push(m * d);
    return ticks.length < 3 ? linearTicks(lo, hi, 6) : ticks;
  }
  function label(v, ticks) {
    let spacing = Infinity;
    for (let i = 1; i < ticks.length; ++i) spacing = Math.min(spacing, ticks[i] - ticks[i - 1]);
    const decimals = isFinite(spacing) ? Math.max(0, -Math.floor(Math.log10(spacing) + 1e-9)) : 0;
    return v.toFixed(Math.min(decimals, 20));
  }

  // The points of a partial within the times drawn, one before and one after.
  function visible(p) {
    const n = count[p];
    if (n === 0 || tEnd(p) < view.t0 || t0[p] > view.t1) return null;
    if (!log && (fHigh[p] < view.f0 || fLow[p] > view.f1)) return null;
    const a = Math.max(0, Math.floor((view.t0 - t0[p]) / step) - 1);
    const b = Math.min(n - 1, Math.ceil((view.t1 - t0[p]) / step) + 1);
    return [first[p] + a, first[p] + b, a];
  }

  // A partial's segments into the paths of their shades; points closer than a pixel to the
  // last one drawn are merged.
  function trace(p, paths, fixedShade) {
    const v = visible(p);
    if (v === null) return;
    const [a, b, ja] = v;
    const start = t0[p];
    let open = -1, px = 0, py = 0;
    if (a === b) {
      if (db(a) >= floor) {
        const q = fixedShade || shade(db(a));
        const x = X(start + ja * step), y = Y(freq[a]);
        paths[q].moveTo(x, y), paths[q].lineTo(x + 0.1, y);
      }
      return;
    }
    let x0 = X(start + ja * step), y0 = Y(freq[a]);
    for (let i = a + 1; i <= b; ++i) {
      const x1 = X(start + (ja + i - a) * step), y1 = Y(freq[i]);
      const louder = Math.max(db(i), db(i - 1));
      if (!(louder >= floor) || !isFinite(y0) || !isFinite(y1) || Math.max(y0, y1) < T - 2 || Math.min(y0, y1) > B + 2) {
        open = -1;
      } else {
        const q = fixedShade || shade(louder);
        if (q !== open) {
          paths[q].moveTo(x0, y0);
          px = x0, py = y0, open = q;
        }
        if (i === b || Math.abs(x1 - px) >= 1 || Math.abs(y1 - py) >= 1) {
          paths[q].lineTo(x1, y1);
          px = x1, py = y1;
        }
      }
      x0 = x1, y0 = y1;
    }
  }

  function drawAxes() {
    ctx.strokeStyle = "#444", ctx.lineWidth = 1, ctx.globalAlpha = 1;
    ctx.strokeRect(L, T, R - L, B - T);
    ctx.fillStyle = "#222", ctx.font = "12px sans-serif";
    const tt = linearTicks(view.t0, view.t1, 10);
    ctx.textAlign = "center";
    for (const v of tt) {
      const x = X(v);
      ctx.beginPath(), ctx.moveTo(x, B), ctx.lineTo(x, B + 6), ctx.stroke();
      ctx.fillText(label(v, tt), x, 670);
    }
    const ft = log ? logTicks(view.f0, view.f1) : linearTicks(view.f0, view.f1, 8);
    ctx.textAlign = "end";
    for (const v of ft) {
      const y = Y(v);
      ctx.beginPath(), ctx.moveTo(L - 6, y), ctx.lineTo(L, y), ctx.stroke();
      ctx.fillText(label(v, ft), 70, y + 4);
    }
    ctx.textAlign = "center";
    ctx.fillText("time (s)", 630, 700);
    ctx.save(), ctx.translate(20, 350), ctx.rotate(-Math.PI / 2), ctx.fillText("frequency (Hz)", 0, 0), ctx.restore();
    ctx.font = "15px sans-serif";
    ctx.fillText(meta.title, 630, 30);
    ctx.font = "12px sans-serif", ctx.fillStyle = "#666", ctx.textAlign = "end";
    ctx.fillText("opacity from -90 dB to 0 dB" + (selected.size ? "; orange: selected" : ""), 1180, 700);
  }

  let lastDraw = 0;
  function draw() {
    const began = performance.now();
    ctx.setTransform(scale, 0, 0, scale, 0, 0);
    ctx.globalAlpha = 1, ctx.fillStyle = "white";
    ctx.fillRect(0, 0, W, H);
    ctx.save();
    ctx.beginPath(), ctx.rect(L, T, R - L, B - T), ctx.clip();
    // The noise beneath, band by band.
    for (let k = 0; k + 3 < noise.length; k += 4) {
      const band = noise[k], x0 = Math.max(X(noise[k + 1]), L - 1), x1 = Math.min(X(noise[k + 2]), R + 1);
      const top = Y(meta.noiseEdges[band + 1]), bottom = Y(meta.noiseEdges[band]);
      if (!(x1 > x0) || !(bottom > top)) continue;
      ctx.globalAlpha = (0.4 * noise[k + 3]) / SHADES, ctx.fillStyle = "#e0861a";
      ctx.fillRect(x0, top, x1 - x0, bottom - top);
    }
    const paths = [];
    for (let q = 0; q <= SHADES; ++q) paths.push(new Path2D());
    for (let p = 0; p < P; ++p) trace(p, paths, 0);
    ctx.lineWidth = 1.5, ctx.lineJoin = "round", ctx.lineCap = "round", ctx.strokeStyle = "#1f4e9c";
    for (let q = 1; q <= SHADES; ++q) {
      ctx.globalAlpha = q / SHADES;
      ctx.stroke(paths[q]);
    }
    ctx.globalAlpha = 1;
    if (selected.size) {
      const marked = new Path2D();
      for (const p of selected) trace(p, [null, marked], 1);
      (ctx.lineWidth = 3), (ctx.strokeStyle = "#ff7f0e");
      ctx.stroke(marked);
    }
    if (hover !== null) {
      const marked = new Path2D();
      trace(hover, [null, marked], 1);
      (ctx.lineWidth = 1), (ctx.strokeStyle = "#000");
      ctx.stroke(marked);
    }
    if (box) {
      ctx.globalAlpha = 1, ctx.lineWidth = 1, ctx.strokeStyle = "#000";
      ctx.setLineDash([4, 3]);
      ctx.strokeRect(Math.min(box.x0, box.x1), Math.min(box.y0, box.y1), Math.abs(box.x1 - box.x0), Math.abs(box.y1 - box.y0));
      ctx.setLineDash([]);
    }
    ctx.restore();
    drawAxes();
    lastDraw = performance.now() - began;
    return lastDraw;
  }

  // The nearest point of any partial within `radius` pixels of (time, hz) on the view drawn.
  function at(time, hz, radius = 8) {
    const px = X(time), py = Y(hz);
    const margin = Math.max(step, (radius / (R - L)) * (view.t1 - view.t0));
    let best = null, bestDistance = radius;
    for (let p = 0; p < P; ++p) {
      const n = count[p];
      if (n === 0 || time < t0[p] - margin || time > tEnd(p) + margin) continue;
      const j = Math.min(n - 1, Math.max(0, Math.round((time - t0[p]) / step)));
      for (let k = Math.max(0, j - 1); k <= Math.min(n - 1, j + 1); ++k) {
        const i = first[p] + k;
        if (!(db(i) >= floor)) continue;
        const t = t0[p] + k * step, d = Math.hypot(X(t) - px, Y(freq[i]) - py);
        if (d < bestDistance) (bestDistance = d), (best = { partial: p, time: t, hz: freq[i], db: db(i) });
      }
    }
    return best;
  }

  // The partials that cross a box on the view.
  function crossing(x0, y0, x1, y1) {
    const ta = tOf(Math.min(x0, x1)), tb = tOf(Math.max(x0, x1));
    const fa = fOf(Math.max(y0, y1)), fb = fOf(Math.min(y0, y1));
    const found = [];
    for (let p = 0; p < P; ++p) {
      if (count[p] === 0 || tEnd(p) < ta || t0[p] > tb || fHigh[p] < fa || fLow[p] > fb) continue;
      const a = Math.max(0, Math.floor((ta - t0[p]) / step)), b = Math.min(count[p] - 1, Math.ceil((tb - t0[p]) / step));
      for (let k = a; k <= b; ++k) {
        const i = first[p] + k, t = t0[p] + k * step;
        if (t >= ta && t <= tb && freq[i] >= fa && freq[i] <= fb && db(i) >= floor) {
          found.push(p);
          break;
        }
      }
    }
    return found;
  }

  // The command that keeps the selection: the tightest band, level and duration that hold
  // every partial selected, and how many others they keep too.
  const commandBox = document.getElementById("command");
  function showCommand() {
    if (selected.size === 0) {
      commandBox.textContent = "Select partials to see the command line that keeps them.";
      return;
    }
    let lo = Infinity, hi = -Infinity, loud = Infinity, long = Infinity;
    for (const p of selected) {
      lo = Math.min(lo, summary[3 * p]), hi = Math.max(hi, summary[3 * p]);
      loud = Math.min(loud, summary[3 * p + 1]), long = Math.min(long, summary[3 * p + 2]);
    }
    // Rounded to d decimals, outwards where the nearest would leave a partial selected out:
    // zarn reads back the very number printed.
    const down = (v, d) => {
      const r = Math.round(v * 10 ** d);
      return (r / 10 ** d <= v ? r : r - 1) / 10 ** d;
    };
    const up = (v, d) => -down(-v, d);
    const band = [down(lo, 2), up(hi, 2)], level = down(loud, 2), duration = down(long, 6);
    let kept = 0;
    for (let p = 0; p < P; ++p) {
      const m = summary[3 * p];
      if (m >= band[0] && m <= band[1] && summary[3 * p + 1] >= level && summary[3 * p + 2] >= duration) ++kept;
    }
    const args = [`--band=${band[0]}:${band[1]}`, `--min-level=${level}`];
    if (duration > 0) args.push(`--min-duration=${duration}`);
    commandBox.textContent =
      `${meta.command} ${args.join(" ")} ${meta.operands}\n` +
      `keeps ${kept} partial${kept === 1 ? "" : "s"}: the ${selected.size} selected` +
      (kept > selected.size ? ` and ${kept - selected.size} other${kept - selected.size === 1 ? "" : "s"} within those bounds` : "");
  }

  // The partials as oscillators in a Web Audio context, from the resampled points: frequency
  // and amplitude ramped linearly between them, a short fade at both ends, as --wav makes them.
  function schedule(context, partials, offset) {
    const nyquist = context.sampleRate / 2;
    const hz = (i) => (isFinite(freq[i]) ? Math.min(Math.max(freq[i], 0), nyquist) : 0);
    const amp = (i) => (freq[i] > 0 && freq[i] < nyquist && level[i] !== SILENT ? Math.pow(10, db(i) / 20) : 0);
    for (const p of partials) {
      const n = count[p];
      if (n < 2) continue;
      const osc = context.createOscillator(), gain = context.createGain();
      osc.connect(gain).connect(context.destination);
      const fade = Math.min(step, 0.005), start = offset + t0[p], i0 = first[p];
      // The values before the start as at it, so that the first sample has them whatever the
      // rounding of the start to a sample.
      (gain.gain.value = 0), (osc.frequency.value = hz(i0));
      gain.gain.setValueAtTime(0, start);
      osc.frequency.setValueAtTime(hz(i0), start);
      // Up to the first point's level over the fade, along the first interval.
      gain.gain.linearRampToValueAtTime(amp(i0) + (amp(i0 + 1) - amp(i0)) * (fade / step), start + fade);
      for (let k = 1; k < n; ++k) {
        const i = i0 + k, t = start + k * step;
        osc.frequency.linearRampToValueAtTime(hz(i), t);
        if (k < n - 1) {
          gain.gain.linearRampToValueAtTime(amp(i), t);
        } else {
          // Down to silence over the fade at the end.
          gain.gain.linearRampToValueAtTime(amp(i - 1) + (amp(i) - amp(i - 1)) * (1 - fade / step), t - fade);
          gain.gain.linearRampToValueAtTime(0, t);
        }
      }
      osc.start(start);
      osc.stop(start + (n - 1) * step);
    }
  }
  const chosen = () => (selected.size ? [...selected].sort((a, b) => a - b) : [...Array(P).keys()]);
  let playing = null;
  function play() {
    stop();
    playing = new AudioContext({ sampleRate: meta.rate });
    schedule(playing, chosen(), playing.currentTime + 0.1);
  }
  function stop() {
    if (playing) playing.close();
    playing = null;
  }
  function render(rate) {
    let end = 0;
    for (const p of chosen()) if (count[p] > 0) end = Math.max(end, tEnd(p));
    const length = Math.max(1, Math.floor(end * rate) + 1);
    const context = new OfflineAudioContext(1, length, rate);
    schedule(context, chosen(), 0);
    return context.startRendering().then((buffer) => buffer.getChannelData(0));
  }

  // Zooming and panning keep the view within sensible bounds: never narrower than a
  // millionth of the whole, and above 0 Hz on a logarithmic axis.
  function zoom(a, b, c, d) {
    if (!(b > a) || !(d > c) || (log && !(c > 0))) throw new RangeError("zoom needs t0 < t1 and f0 < f1 (above 0 on a log axis)");
    view = { t0: a, t1: b, f0: c, f1: d };
    return draw();
  }
  function zoomAbout(x, y, factor, times, freqs) {
    const t = tOf(x), f = fv(fOf(y));
    const nt0 = times ? t - (t - view.t0) * factor : view.t0, nt1 = times ? t + (view.t1 - t) * factor : view.t1;
    let a = fv(view.f0), b = fv(view.f1);
    if (freqs) (a = f - (f - a) * factor), (b = f + (b - f) * factor);
    const back = (v) => (log ? Math.pow(10, v) : v);
    const whole = meta.span.t1 - meta.span.t0;
    if (nt1 - nt0 < whole * 1e-6 && factor < 1) return;
    zoom(nt0, nt1, back(a), back(b));
  }

  const readout = document.getElementById("readout");
  const floorInput = document.getElementById("floor"), floorValue = document.getElementById("floor-value");
  const showFloor = () => (floorValue.textContent = floor === -Infinity ? "none" : floor + " dB");
  floorInput.value = floor === -Infinity ? -150 : Math.max(-150, Math.min(0, floor));
  showFloor();
  floorInput.addEventListener("input", () => {
    floor = Number(floorInput.value) <= -150 ? -Infinity : Number(floorInput.value);
    showFloor();
    draw();
  });
  document.getElementById("reset").addEventListener("click", () => zoom(meta.span.t0, meta.span.t1, meta.span.f0, meta.span.f1));
  document.getElementById("play").addEventListener("click", play);
  document.getElementById("stop").addEventListener("click", stop);
  document.getElementById("clear").addEventListener("click", () => select([]));

  const place = (e) => {
    const r = canvas.getBoundingClientRect();
    return [e.clientX - r.left, e.clientY - r.top];
  };
  canvas.addEventListener("wheel", (e) => {
    e.preventDefault();
    const [x, y] = place(e);
    zoomAbout(x, y, Math.pow(1.0015, e.deltaY), !e.altKey, !e.shiftKey);
  }, { passive: false });
  let drag = null, box = null;
  canvas.addEventListener("pointerdown", (e) => {
    const [x, y] = place(e);
    drag = { x, y, view: { ...view }, boxing: e.ctrlKey || e.altKey || e.metaKey, moved: false, add: e.shiftKey };
    canvas.setPointerCapture(e.pointerId);
  });
  canvas.addEventListener("pointermove", (e) => {
    const [x, y] = place(e);
    if (drag) {
      if (Math.abs(x - drag.x) + Math.abs(y - drag.y) > 3) drag.moved = true;
      if (!drag.moved) return;
      if (drag.boxing) {
        box = { x0: drag.x, y0: drag.y, x1: x, y1: y };
        draw();
        return;
      }
      const v = drag.view, dt = ((x - drag.x) / (R - L)) * (v.t1 - v.t0);
      const a = log ? Math.log10(v.f0) : v.f0, b = log ? Math.log10(v.f1) : v.f1, df = ((y - drag.y) / (B - T)) * (b - a);
      const back = (u) => (log ? Math.pow(10, u) : u);
      zoom(v.t0 - dt, v.t1 - dt, back(a + df), back(b + df));
      return;
    }
    const found = x >= L && x <= R && y >= T && y <= B ? at(tOf(x), fOf(y)) : null;
    readout.textContent = found
      ? `partial ${found.partial + 1}  ${found.time.toFixed(4)} s  ${found.hz.toFixed(2)} Hz  ${found.db.toFixed(1)} dB`
      : x >= L && x <= R && y >= T && y <= B ? `${tOf(x).toFixed(4)} s  ${fOf(y).toFixed(1)} Hz` : "";
    const h = found ? found.partial : null;
    if (h !== hover) (hover = h), draw();
  });
  canvas.addEventListener("pointerup", (e) => {
    if (!drag) return;
    const [x, y] = place(e);
    const d = drag;
    drag = null;
    if (d.boxing && d.moved) {
      box = null;
      const found = crossing(d.x, d.y, x, y);
      select(d.add ? [...selected, ...found] : found);
    } else if (!d.moved) {
      const found = at(tOf(x), fOf(y));
      if (found) select(d.add ? (selected.has(found.partial) ? [...selected].filter((p) => p !== found.partial) : [...selected, found.partial]) : [found.partial]);
      else if (!d.add) select([]);
    }
  });
  canvas.addEventListener("pointerleave", () => {
    readout.textContent = "";
    if (hover !== null) (hover = null), draw();
  });

  function select(indices) {
    selected = new Set([...indices].map(Number).filter((p) => Number.isInteger(p) && p >= 0 && p < P));
    showCommand();
    draw();
  }

  window.zarnView = {
    partials: P,
    get view() {
      return { ...view };
    },
    get selection() {
      return [...selected].sort((a, b) => a - b);
    },
    get drawTime() {
      return lastDraw;
    },
    zoom,
    at: (time, hz) => at(time, hz),
    select,
    render,
  };
  showCommand();
  draw();
  window.zarnView.ready = performance.now();  // since the page began to load
})();
