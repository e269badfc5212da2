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
  const count = new Uint32Array(bytes("count"));
  const head = new Float64Array(bytes("head"));  // first, last, frequency and level units, least step, divisor
  const rice = new Uint8Array(bytes("rice"));  // the three fields' parameters, and 1 for a partial held raw
  const bits = new Uint8Array(bytes("bits"));
  const raw = new Float64Array(bytes("raw"));
  const summary = new Float64Array(bytes("summary"));  // mean Hz, loudest dB, duration, as the filters judge them
  const noise = new Float32Array(bytes("noise"));  // band, from, to, shade
  const noiseTimes = new Float64Array(bytes("noise-times"));
  const noisePower = new Float64Array(bytes("noise-power"));  // frame by frame, a power a band
  const sgramLevels = new Uint8Array(bytes("spectrogram"));
  const P = count.length, step = meta.step, SILENT = -Infinity;

  // The breakpoints, unpacked: each field's steps in Rice code, lowest bit first, a partial
  // starting at a byte of its own.
  const TIME_UNIT = 1e-7, CENT_UNITS = 600000, DB_UNITS = 500;
  // The bits as 32-bit words (little-endian, as every browser's typed arrays are), with room
  // to read past the end.
  const words = new Uint32Array((bits.length >> 2) + 2);
  new Uint8Array(words.buffer).set(bits);
  let bit = 0;
  const peek = () => {
    const w = bit >>> 5, o = bit & 31;
    return o === 0 ? words[w] : ((words[w] >>> o) | (words[w + 1] << (32 - o))) >>> 0;
  };
  const POW2 = Array.from({ length: 49 }, (_, k) => Math.pow(2, k));
  // n bits (up to 48), at most 24 at a time.
  const readBits = (n) => {
    let v = 0, got = 0;
    while (got < n) {
      const take = Math.min(24, n - got);
      (v += (peek() & (POW2[take] - 1)) * POW2[got]), (got += take), (bit += take);
    }
    return v;
  };
  // The ones before a zero; 24 ones are the escape to 48 bits. A code within the next 32 bits
  // is read from one look at them.
  const readRice = (k) => {
    const v = peek(), zeros = ~v;
    const q = zeros === 0 ? 32 : 31 - Math.clz32(zeros & -zeros);
    if (q >= 24) return (bit += 24), readBits(48);
    if (q + 1 + k <= 32) {
      const low = k === 0 ? 0 : ((v >>> (q + 1)) & (k === 31 ? 0x7fffffff : (1 << k) - 1)) >>> 0;
      bit += q + 1 + k;
      return q * POW2[k] + low;
    }
    bit += q + 1;
    return q * POW2[k] + readBits(k);
  };
  const unzig = (v) => (v % 2 === 0 ? v / 2 : -(v + 1) / 2);
  const points = [];  // each partial's breakpoints: {time, freq, amp}
  let rawAt = 0;
  for (let p = 0; p < P; ++p) {
    const M = count[p], h = 6 * p, first = head[h], last = head[h + 1];
    const time = new Float64Array(M), freq = new Float64Array(M), amp = new Float64Array(M);
    if (rice[4 * p + 3]) {
      for (let j = 0; j < M; ++j, rawAt += 3) (time[j] = raw[rawAt]), (freq[j] = raw[rawAt + 1]), (amp[j] = raw[rawAt + 2]);
    } else if (M > 0) {
      bit = (bit + 7) & ~7;  // each partial starts at a byte
      time[0] = first, time[M - 1] = last;
      let u = 0;
      for (let j = 1; j + 1 < M; ++j) (u += head[h + 4] + readRice(rice[4 * p]) * head[h + 5]), (time[j] = first + u * TIME_UNIT);
      let q = head[h + 2];
      freq[0] = Math.pow(2, q / CENT_UNITS);
      for (let j = 1; j < M; ++j) (q += unzig(readRice(rice[4 * p + 1]))), (freq[j] = Math.pow(2, q / CENT_UNITS));
      let l = head[h + 3];
      for (let j = 0; j < M; ++j) {
        const v = readRice(rice[4 * p + 2]);
        if (v === 0) amp[j] = 0;
        else (l += unzig(v - 1)), (amp[j] = Math.pow(10, l / (20 * DB_UNITS)));
      }
    }
    points.push({ time, freq, amp });
  }

  // The fits, as the tool makes them: the not-a-knot spline, the shape-preserving cubic and
  // straight lines, each evaluated at rising times within the knots.
  function hermite(x, y, yd, xi, out, within) {
    const n = x.length;
    let k = 0, located = false, xl = 0, xr = 0, c0 = 0, c1 = 0, c2 = 0, c3 = 0;
    for (let j = 0; j < xi.length; ++j) {
      const v = xi[j];
      if (!located || v > xr) {
        while (k < n - 1 && v > x[k]) ++k;
        if (x[k] > v && k > 0) --k;
        if (k === n - 1) k = n - 2;
        xl = x[k], xr = x[k + 1];
        const inv = 1.0 / (x[k + 1] - x[k]), s = (y[k + 1] - y[k]) * inv;
        (c0 = y[k]), (c1 = yd[k]), (c2 = inv * (3.0 * s - 2.0 * yd[k] - yd[k + 1])), (c3 = inv * inv * (-2.0 * s + yd[k] + yd[k + 1]));
        located = true;
      }
      const u = v - xl;
      let r = ((c3 * u + c2) * u + c1) * u + c0;
      if (within) {
        const lo = Math.min(y[k], y[k + 1]), hi = Math.max(y[k], y[k + 1]);
        if (v === xr) r = y[k + 1];
        r = Math.min(Math.max(r, lo), hi);
      }
      out[j] = r;
    }
  }
  let scratch = new Float64Array(4096);  // the slope system's rows, reused from partial to partial
  // The spline's slopes of two tracks over the same knots (four or more), the matrix
  // eliminated once: each right-hand side goes through the operations of its own solve.
  function splineSlopes2(x, y1, y2) {
    const n = x.length;
    if (n < 4) return [splineSlopes(x, y1), splineSlopes(x, y2)];
    const yd1 = new Float64Array(n), yd2 = new Float64Array(n);
    if (scratch.length < 5 * n) scratch = new Float64Array(10 * n);
    const sub = scratch.subarray(0, n), diag = scratch.subarray(n, 2 * n), sup = scratch.subarray(2 * n, 3 * n);
    const h0 = x[1] - x[0], h1 = x[2] - x[1];
    diag[0] = h1 * (h0 + h1);
    sup[0] = (h0 + h1) * (h0 + h1);
    const a0 = (y1[1] - y1[0]) / h0, a1 = (y1[2] - y1[1]) / h1, b0 = (y2[1] - y2[0]) / h0, b1 = (y2[2] - y2[1]) / h1;
    yd1[0] = a0 * (3.0 * h0 * h1 + 2.0 * (h1 * h1)) + a1 * (h0 * h0);
    yd2[0] = b0 * (3.0 * h0 * h1 + 2.0 * (h1 * h1)) + b1 * (h0 * h0);
    let f1 = 0, g1 = a0, f2 = 0, g2 = b0, e = 0, d = h0;
    for (let i = 1; i < n - 1; ++i) {
      (e = d), (d = x[i + 1] - x[i]);
      (sub[i] = d), (diag[i] = 2.0 * (e + d)), (sup[i] = e);
      (f1 = g1), (g1 = (y1[i + 1] - y1[i]) / d), (f2 = g2), (g2 = (y2[i + 1] - y2[i]) / d);
      (yd1[i] = 3.0 * (f1 * d + g1 * e)), (yd2[i] = 3.0 * (f2 * d + g2 * e));
    }
    sub[n - 1] = (e + d) * (e + d);
    diag[n - 1] = e * (e + d);
    yd1[n - 1] = f1 * (d * d) + g1 * (3.0 * e * d + 2.0 * (e * e));
    yd2[n - 1] = f2 * (d * d) + g2 * (3.0 * e * d + 2.0 * (e * e));
    const gg = scratch.subarray(3 * n, 4 * n), beta = scratch.subarray(4 * n, 5 * n);
    beta[0] = diag[0];
    (yd1[0] = yd1[0] / beta[0]), (yd2[0] = yd2[0] / beta[0]);
    for (let i = 1; i < n; ++i) {
      gg[i] = sup[i - 1] / beta[i - 1];
      beta[i] = diag[i] - sub[i] * gg[i];
      (yd1[i] = (yd1[i] - yd1[i - 1] * sub[i]) / beta[i]), (yd2[i] = (yd2[i] - yd2[i - 1] * sub[i]) / beta[i]);
    }
    for (let i = n - 2; i >= 0; --i) (yd1[i] = yd1[i] - yd1[i + 1] * gg[i + 1]), (yd2[i] = yd2[i] - yd2[i + 1] * gg[i + 1]);
    return [yd1, yd2];
  }
  // The slopes of a short track: the line through two knots, the parabola through three.
  function splineSlopes(x, y) {
    const n = x.length, yd = new Float64Array(n);
    const h0 = x[1] - x[0], s0 = (y[1] - y[0]) / h0;
    if (n === 2) return (yd[0] = yd[1] = s0), yd;
    const h1 = x[2] - x[1], s1 = (y[2] - y[1]) / h1;
    const c = (s1 - s0) / (h0 + h1);
    return (yd[0] = s0 - c * h0), (yd[1] = s0 + c * h0), (yd[2] = s1 + c * h1), yd;
  }
  const sign = (v) => (v > 0 ? 1 : v < 0 ? -1 : 0);
  function endSlope(h0, h1, s0, s1) {
    const p = s0 * (1.0 + h0 / (h0 + h1)) - s1 * h0 / (h0 + h1);
    if (p * s0 <= 0) return 0.0;
    if (Math.abs(p) > 2.0 * Math.abs(s0)) return 2.0 * s0;
    return p;
  }
  function monotoneSlopes(x, y) {
    const n = x.length, yd = new Float64Array(n), first = (y[1] - y[0]) / (x[1] - x[0]);
    if (n === 2) return (yd[0] = yd[1] = first), yd;
    for (let i = 1; i < n - 1; ++i) {
      const h0 = x[i] - x[i - 1], h1 = x[i + 1] - x[i], s0 = (y[i] - y[i - 1]) / h0, s1 = (y[i + 1] - y[i]) / h1;
      const p = (s0 * h1 + s1 * h0) / (h0 + h1);
      yd[i] = (sign(s0) + sign(s1)) * Math.min(Math.abs(s0), Math.abs(s1), 0.5 * Math.abs(p));
    }
    yd[0] = endSlope(x[1] - x[0], x[2] - x[1], first, (y[2] - y[1]) / (x[2] - x[1]));
    const h0 = x[n - 1] - x[n - 2], h1 = x[n - 2] - x[n - 3];
    yd[n - 1] = endSlope(h0, h1, (y[n - 1] - y[n - 2]) / h0, (y[n - 2] - y[n - 3]) / h1);
    return yd;
  }
  function linear(x, y, xi, out) {
    const n = x.length;
    let k = 0;
    for (let j = 0; j < xi.length; ++j) {
      const v = xi[j];
      if (n === 1) { out[j] = y[0]; continue; }
      while (k < n - 2 && v > x[k + 1]) ++k;
      if (v === x[k + 1]) { out[j] = y[k + 1]; continue; }
      const t = (v - x[k]) / (x[k + 1] - x[k]), lo = Math.min(y[k], y[k + 1]), hi = Math.max(y[k], y[k + 1]);
      out[j] = Math.min(Math.max(y[k] + t * (y[k + 1] - y[k]), lo), hi);
    }
  }
  // A track by the straight lines or the shape-preserving cubic (the spline fits two at once).
  function fitTrack(x, y, xi, out) {
    if (xi.length === 0) return;
    if (meta.fit === "linear") return linear(x, y, xi, out);
    if (x.length === 1) return out.fill(y[0]);
    hermite(x, y, x.length === 2 ? splineSlopes(x, y) : monotoneSlopes(x, y), xi, out, true);
  }
  // A partial's grid, as the tool lays it: from its first breakpoint (up to the whole steps
  // within its span, or on to its last breakpoint with --whole), or the whole multiples of
  // the step within its span (the aligned grid); the fit evaluated there.
  function gridOf(bp) {
    const M = bp.time.length, first = M ? bp.time[0] : 0, last = M ? bp.time[M - 1] : 0;
    let n = 0, k0 = 0;
    if (meta.grid === "aligned" && M > 0) {
      let a = Math.ceil(first / step), b = Math.floor(last / step);
      while ((a - 1) * step >= first) --a;
      while (a * step < first) ++a;
      while ((b + 1) * step <= last) ++b;
      while (b * step > last) --b;
      (n = Math.max(0, b - a + 1)), (k0 = a);
    } else if (meta.grid === "whole" && M > 0) {
      n = Math.floor((last - first) / step) + 1;
      while (first + n * step <= last) ++n;
      while (n > 1 && first + (n - 1) * step > last) --n;
    } else if (M > 1) {
      n = Math.floor((last - first) / step);
    }
    const time = new Float64Array(n);
    for (let k = 0; k < n; ++k) time[k] = meta.grid === "aligned" ? (k0 + k) * step : first + k * step;
    const freq = new Float64Array(n), amp = new Float64Array(n), db = new Float32Array(n);
    if (meta.fit === "spline" && bp.time.length > 1 && n > 0) {
      const [yf, ya] = splineSlopes2(bp.time, bp.freq, bp.amp);
      hermite(bp.time, bp.freq, yf, time, freq, false);
      hermite(bp.time, bp.amp, ya, time, amp, false);
    } else {
      fitTrack(bp.time, bp.freq, time, freq);
      fitTrack(bp.time, bp.amp, time, amp);
    }
    let lo = Infinity, hi = -Infinity;
    for (let k = 0; k < n; ++k) {
      db[k] = amp[k] > 0 && isFinite(amp[k]) ? 20 * Math.log10(amp[k]) : SILENT;
      if (freq[k] < lo) lo = freq[k];
      if (freq[k] > hi) hi = freq[k];
    }
    return { time, freq, amp, db, t0: n ? time[0] : 0, n, lo, hi };
  }
  const grids = points.map(gridOf);
  let alive = new Uint8Array(P).fill(1);
  const tStart = (p) => grids[p].t0, tEnd = (p) => grids[p].t0 + (grids[p].n - 1) * step;

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
  let cursor = null;  // the time playing, drawn as a line
  const layers = { spectrogram: meta.spectrogram !== null, breakpoints: false, noise: true, log: meta.log };
  let lowest = Infinity;  // the lowest frequency above 0 Hz, where a log axis may start
  for (let p = 0; p < P; ++p) if (grids[p].lo > 0) lowest = Math.min(lowest, grids[p].lo);
  const fv = (f) => (layers.log ? Math.log10(Math.max(f, view.f0 / 10)) : f);
  const X = (t) => L + ((t - view.t0) / (view.t1 - view.t0)) * (R - L);
  const Y = (f) => B - ((fv(f) - fv(view.f0)) / (fv(view.f1) - fv(view.f0))) * (B - T);
  const tOf = (x) => view.t0 + ((x - L) / (R - L)) * (view.t1 - view.t0);
  const fOf = (y) => {
    const v = fv(view.f0) + ((B - y) / (B - T)) * (fv(view.f1) - fv(view.f0));
    return layers.log ? Math.pow(10, v) : v;
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

  // The grid points of a partial within the times drawn, one before and one after.
  function visible(p) {
    const g = grids[p];
    if (!alive[p] || g.n === 0 || tEnd(p) < view.t0 || g.t0 > view.t1) return null;
    if (!layers.log && (g.hi < view.f0 || g.lo > view.f1)) return null;
    const a = Math.max(0, Math.floor((view.t0 - g.t0) / step) - 1);
    const b = Math.min(g.n - 1, Math.ceil((view.t1 - g.t0) / step) + 1);
    return [a, b];
  }

  // A partial's segments into the paths of their shades; points closer than a pixel to the
  // last one drawn are merged. The view's mapping is worked out once a partial.
  function trace(p, paths, fixedShade) {
    const v = visible(p);
    if (v === null) return;
    const [a, b] = v, g = grids[p], freq = g.freq, db = g.db;
    const xs = (R - L) / (view.t1 - view.t0), xa = L + (g.t0 - view.t0) * xs, dx = step * xs;
    const lg = layers.log, low = view.f0 / 10, base = fv(view.f0), ys = (B - T) / (fv(view.f1) - base);
    const y = (f) => B - ((lg ? Math.log10(f > low ? f : low) : f) - base) * ys;
    if (a === b) {
      if (db[a] >= floor) {
        const q = fixedShade || shade(db[a]), x = xa + a * dx, yy = y(freq[a]);
        paths[q].moveTo(x, yy), paths[q].lineTo(x + 0.1, yy);
      }
      return;
    }
    // Where points lie closer than a pixel, every stride-th is taken (and the last): the
    // merging below would keep no more of them.
    const stride = dx < 0.5 ? Math.floor(1 / dx) : 1;
    let open = -1, px = 0, py = 0, x0 = xa + a * dx, y0 = y(freq[a]), d0 = db[a];
    for (let i = Math.min(a + stride, b); ; i = Math.min(i + stride, b)) {
      const x1 = xa + i * dx, y1 = y(freq[i]), d1 = db[i], louder = d1 > d0 ? d1 : d0;
      if (!(louder >= floor) || !(y0 === y0 && y1 === y1 && Math.abs(y0) !== Infinity && Math.abs(y1) !== Infinity) ||
          (y0 < T - 2 && y1 < T - 2) || (y0 > B + 2 && y1 > B + 2)) {
        open = -1;
      } else {
        const q = fixedShade || shade(louder);
        if (q !== open) {
          paths[q].moveTo(x0, y0);
          (px = x0), (py = y0), (open = q);
        }
        if (i === b || x1 - px >= 1 || px - x1 >= 1 || y1 - py >= 1 || py - y1 >= 1) {
          paths[q].lineTo(x1, y1);
          (px = x1), (py = y1);
        }
      }
      (x0 = x1), (y0 = y1), (d0 = d1);
      if (i === b) break;
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
    const ft = layers.log ? logTicks(view.f0, view.f1) : linearTicks(view.f0, view.f1, 8);
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

  // The spectrogram as an image a pixel a cell, grey from its floor to 0 dB, drawn row by row
  // so that either frequency axis can place its rows.
  let sgramImage = null;
  function spectrogramImage() {
    if (sgramImage) return sgramImage;
    const g = meta.spectrogram, image = document.createElement("canvas");
    image.width = g.columns, image.height = g.rows;
    const c = image.getContext("2d"), data = c.createImageData(g.columns, g.rows);
    for (let col = 0; col < g.columns; ++col)
      for (let r = 0; r < g.rows; ++r) {
        const v = sgramLevels[col * g.rows + r], at = 4 * ((g.rows - 1 - r) * g.columns + col);
        const grey = 255 - Math.min(255, Math.max(0, Math.round((v * g.unit - 40) * 255 / (-g.floor - 40))));
        (data.data[at] = data.data[at + 1] = data.data[at + 2] = grey), (data.data[at + 3] = 255);
      }
    c.putImageData(data, 0, 0);
    return (sgramImage = image);
  }
  function drawSpectrogram() {
    const g = meta.spectrogram, image = spectrogramImage();
    const x0 = X(g.start - g.hop / 2), x1 = X(g.start + (g.columns - 0.5) * g.hop);
    ctx.globalAlpha = 0.6;
    for (let r = 0; r < g.rows; ++r) {
      const top = Y((r + 1) * g.bin), bottom = Y(r * g.bin);
      if (bottom < T || top > B || !(bottom > top)) continue;
      ctx.drawImage(image, 0, g.rows - 1 - r, g.columns, 1, x0, top, x1 - x0, Math.max(1, bottom - top));
    }
    ctx.globalAlpha = 1;
  }

  // The breakpoints as dots, one a pixel: a mask of the pixels marked passes over the rest.
  let dotMask = new Uint8Array(0);
  function drawBreakpoints() {
    ctx.globalAlpha = 0.8, ctx.fillStyle = "#c0392b";
    if (dotMask.length !== W * H) dotMask = new Uint8Array(W * H);
    dotMask.fill(0);
    for (let p = 0; p < P; ++p) {
      if (!alive[p]) continue;
      const bp = points[p];
      for (let j = 0; j < bp.time.length; ++j) {
        const t = bp.time[j];
        if (t < view.t0 || t > view.t1) continue;
        const x = Math.round(X(t)), y = Math.round(Y(bp.freq[j]));
        if (!(y >= T && y <= B) || dotMask[y * W + x] || !(bp.amp[j] > 0 && 20 * Math.log10(bp.amp[j]) >= floor)) continue;
        dotMask[y * W + x] = 1;
        ctx.fillRect(x - 1, y - 1, 2, 2);
      }
    }
    ctx.globalAlpha = 1;
  }

  let lastDraw = 0;
  function draw() {
    const began = performance.now();
    ctx.setTransform(scale, 0, 0, scale, 0, 0);
    ctx.globalAlpha = 1, ctx.fillStyle = "white";
    ctx.fillRect(0, 0, W, H);
    ctx.save();
    ctx.beginPath(), ctx.rect(L, T, R - L, B - T), ctx.clip();
    if (layers.spectrogram && meta.spectrogram) drawSpectrogram();
    // The noise beneath, band by band.
    for (let k = 0; layers.noise && k + 3 < noise.length; k += 4) {
      const band = noise[k], x0 = Math.max(X(noise[k + 1]), L - 1), x1 = Math.min(X(noise[k + 2]), R + 1);
      const top = Y(meta.noiseEdges[band + 1]), bottom = Y(Math.max(meta.noiseEdges[band], layers.log ? view.f0 / 10 : -Infinity));
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
    if (layers.breakpoints) drawBreakpoints();
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
    if (cursor !== null) {
      ctx.globalAlpha = 1, ctx.lineWidth = 1, ctx.strokeStyle = "#d62728";
      ctx.beginPath(), ctx.moveTo(X(cursor), T), ctx.lineTo(X(cursor), B), ctx.stroke();
    }
    ctx.restore();
    drawAxes();
    lastDraw = performance.now() - began;
    return lastDraw;
  }

  // The nearest grid point of any partial within `radius` pixels of (time, hz) on the view drawn.
  function at(time, hz, radius = 8) {
    const px = X(time), py = Y(hz);
    const margin = Math.max(step, (radius / (R - L)) * (view.t1 - view.t0));
    let best = null, bestDistance = radius;
    for (let p = 0; p < P; ++p) {
      const g = grids[p], n = g.n;
      if (!alive[p] || n === 0 || time < g.t0 - margin || time > tEnd(p) + margin) continue;
      const j = Math.min(n - 1, Math.max(0, Math.round((time - g.t0) / step)));
      for (let k = Math.max(0, j - 1); k <= Math.min(n - 1, j + 1); ++k) {
        if (!(g.db[k] >= floor)) continue;
        const d = Math.hypot(X(g.time[k]) - px, Y(g.freq[k]) - py);
        if (d < bestDistance) (bestDistance = d), (best = { partial: p, time: g.time[k], hz: g.freq[k], db: g.db[k] });
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
      const g = grids[p];
      if (!alive[p] || g.n === 0 || tEnd(p) < ta || g.t0 > tb || g.hi < fa || g.lo > fb) continue;
      const a = Math.max(0, Math.floor((ta - g.t0) / step)), b = Math.min(g.n - 1, Math.ceil((tb - g.t0) / step));
      for (let k = a; k <= b; ++k) {
        const t = g.time[k];
        if (t >= ta && t <= tb && g.freq[k] >= fa && g.freq[k] <= fb && g.db[k] >= floor) {
          found.push(p);
          break;
        }
      }
    }
    return found;
  }

  // The command that keeps the selection: the tightest band, level and duration that hold
  // every partial selected, and how many others they keep too; and the command that replays
  // the page's edits.
  const commandBox = document.getElementById("command");
  function showCommand() {
    const replay = history.length
      ? `\nThe edits, saved as recipe.json (Save recipe): ${meta.replay}`
      : "";
    if (selected.size === 0) {
      commandBox.textContent = "Select partials to see the command line that keeps them." + replay;
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
      (kept > selected.size ? ` and ${kept - selected.size} other${kept - selected.size === 1 ? "" : "s"} within those bounds` : "") +
      replay;
  }

  // Edits of the selection, on the breakpoints, the grid fitted again as the tool fits it;
  // each remembered with the partials it replaced, so that undo puts back the very same.
  const OPS = {
    delete: [], keep: [], transpose: ["cents"], shift: ["seconds"], gain: ["db"], stretch: ["factor", "about"],
  };
  let history = [], undone = [];
  function checkOp(op) {
    if (op === null || typeof op !== "object" || !Object.prototype.hasOwnProperty.call(OPS, op.op))
      throw new Error(`apply: op must be one of ${Object.keys(OPS).join(", ")}, not ${JSON.stringify(op && op.op)}`);
    const clean = { op: op.op };
    for (const name of OPS[op.op]) {
      const v = op[name];
      if (typeof v !== "number" || !isFinite(v)) throw new Error(`apply: ${op.op} needs ${name}, a finite number, not ${JSON.stringify(v)}`);
      clean[name] = v;
    }
    if (op.op === "stretch" && !(op.factor > 0)) throw new Error(`apply: stretch needs a factor above zero, not ${op.factor}`);
    return clean;
  }
  function edited(op, bp, p) {
    const M = bp.time.length;
    let time = bp.time, freq = bp.freq, amp = bp.amp;
    if (op.op === "transpose" || op.op === "gain") {
      const k = op.op === "transpose" ? Math.pow(2, op.cents / 1200) : Math.pow(10, op.db / 20);
      const from = op.op === "transpose" ? bp.freq : bp.amp, to = new Float64Array(M);
      for (let j = 0; j < M; ++j) {
        to[j] = from[j] * k;
        if (Math.abs(to[j]) === Infinity)
          throw new Error(`apply: ${op.op} would leave partial ${p} with ${op.op === "transpose" ? "a frequency" : "an amplitude"} that is not finite`);
      }
      if (op.op === "transpose") freq = to;
      else amp = to;
    } else {
      time = new Float64Array(M);
      for (let j = 0; j < M; ++j) {
        time[j] = op.op === "shift" ? bp.time[j] + op.seconds : op.about + (bp.time[j] - op.about) * op.factor;
        if (!(time[j] >= 0) || time[j] === Infinity) throw new Error(`apply: ${op.op} would move partial ${p} before 0 s`);
        if (j > 0 && !(time[j] > time[j - 1])) throw new Error(`apply: ${op.op} would leave partial ${p} with times that no longer rise`);
      }
    }
    return { time, freq, amp };
  }
  // The grid after an edit: a transposition or a gain scales the fitted values as it scales
  // the breakpoints (the fits are linear in their values), and a shift moves a grid laid from
  // the first breakpoint with it; anything else is fitted again.
  function regrid(op, bp, g) {
    if (op.op === "transpose" || op.op === "gain") {
      const k = op.op === "transpose" ? Math.pow(2, op.cents / 1200) : Math.pow(10, op.db / 20);
      const next = { ...g }, n = g.n, to = new Float64Array(n);
      if (op.op === "transpose") {
        for (let j = 0; j < n; ++j) to[j] = g.freq[j] * k;
        (next.freq = to), (next.lo = g.lo * k), (next.hi = g.hi * k);
      } else {
        const db = new Float32Array(n);
        for (let j = 0; j < n; ++j) (to[j] = g.amp[j] * k), (db[j] = to[j] > 0 && to[j] !== Infinity ? 20 * Math.log10(to[j]) : SILENT);
        (next.amp = to), (next.db = db);
      }
      return next;
    }
    // The count of points depends on the span as rounded: fitted again where it differs.
    if (op.op === "shift" && meta.grid === "own" && bp.time.length > 0 && Math.floor((bp.time[bp.time.length - 1] - bp.time[0]) / step) === g.n) {
      const time = new Float64Array(g.n);
      for (let k = 0; k < g.n; ++k) time[k] = bp.time[0] + k * step;
      return { ...g, time, t0: g.n ? time[0] : 0 };
    }
    return gridOf(bp);
  }
  function apply(opIn) {
    const op = checkOp(opIn);
    const list = [...selected].sort((a, b) => a - b);
    if (list.length === 0) throw new Error("apply: no partial is selected");
    const entry = { op, partials: list, aliveBefore: alive, changed: [] };
    if (op.op === "delete" || op.op === "keep") {
      const next = op.op === "delete" ? Uint8Array.from(alive) : new Uint8Array(P);
      for (const p of list) next[p] = op.op === "delete" ? 0 : 1;
      entry.aliveAfter = next;
    } else {
      for (const p of list) {
        const bp = edited(op, points[p], p);
        entry.changed.push({ p, before: [points[p], grids[p]], after: [bp, null] });
      }
      for (const c of entry.changed) c.after[1] = regrid(op, c.after[0], c.before[1]);
      entry.aliveAfter = alive;
    }
    undone = [];
    history.push(entry);
    return redoEntry(entry);
  }
  function redoEntry(entry) {
    for (const c of entry.changed) [points[c.p], grids[c.p]] = c.after;
    alive = entry.aliveAfter;
    if (entry.op.op === "delete") selected = new Set();
    showCommand();
    return draw();
  }
  function undo() {
    const entry = history.pop();
    if (!entry) return false;
    for (const c of entry.changed) [points[c.p], grids[c.p]] = c.before;
    alive = entry.aliveBefore;
    selected = new Set(entry.partials.filter((p) => alive[p]));
    undone.push(entry);
    showCommand();
    draw();
    return true;
  }
  function redo() {
    const entry = undone.pop();
    if (!entry) return false;
    history.push(entry);
    selected = new Set(entry.partials.filter((p) => entry.aliveAfter[p]));
    redoEntry(entry);
    return true;
  }
  function recipe() {
    const edits = history.map((e) => ({ ...e.op, partials: e.partials }));
    return JSON.stringify({ zarn: "recipe", version: 1, input: { name: meta.name, partials: P, fingerprint: meta.fingerprint }, edits }, null, 1) + "\n";
  }

  // The noise as the sound makes it: white noise shaped frame by frame to the bands' powers
  // (frames of about 40 ms, half overlapping, sine windows), its level following the power at
  // every 32nd sample.
  function fft(re, im, inverse) {
    const n = re.length;
    for (let i = 1, j = 0; i < n; ++i) {
      let b = n >> 1;
      for (; j & b; b >>= 1) j ^= b;
      j ^= b;
      if (i < j) ([re[i], re[j]] = [re[j], re[i]]), ([im[i], im[j]] = [im[j], im[i]]);
    }
    for (let len = 2; len <= n; len <<= 1) {
      const a = (inverse ? 2 : -2) * Math.PI / len;
      for (let k = 0; k < len / 2; ++k) {
        const wr = Math.cos(a * k), wi = Math.sin(a * k);
        for (let i = k; i < n; i += len) {
          const j = i + len / 2, vr = re[j] * wr - im[j] * wi, vi = re[j] * wi + im[j] * wr;
          (re[j] = re[i] - vr), (im[j] = im[i] - vi), (re[i] += vr), (im[i] += vi);
        }
      }
    }
  }
  const bands = meta.noiseEdges.length - 1;
  function noiseAt(time, out) {
    out.fill(0);
    const n = noiseTimes.length;
    if (n === 0) return;
    const reach = n > 1 ? 0.5 * (noiseTimes[1] - noiseTimes[0]) : 0, lastReach = n > 1 ? 0.5 * (noiseTimes[n - 1] - noiseTimes[n - 2]) : 0;
    const frame = (j, k) => noisePower[j * bands + k];
    if (time <= noiseTimes[0]) {
      if (time >= noiseTimes[0] - reach) for (let k = 0; k < bands; ++k) out[k] = frame(0, k);
      return;
    }
    if (time >= noiseTimes[n - 1]) {
      if (time <= noiseTimes[n - 1] + lastReach) for (let k = 0; k < bands; ++k) out[k] = frame(n - 1, k);
      return;
    }
    let lo = 0, hi = n - 1;
    while (hi - lo > 1) {
      const mid = (lo + hi) >> 1;
      if (noiseTimes[mid] <= time) lo = mid; else hi = mid;
    }
    const u = (time - noiseTimes[lo]) / (noiseTimes[hi] - noiseTimes[lo]);
    for (let k = 0; k < bands; ++k) out[k] = frame(lo, k) + u * (frame(hi, k) - frame(lo, k));
  }
  function noiseSamples(length, rate) {
    const out = new Float32Array(length);
    if (noiseTimes.length === 0) return out;
    let N = 2;
    while (N < 0.04 * rate) N *= 2;
    const Hh = N / 2, windowOf = new Float64Array(N), bandOf = new Int32Array(N / 2 + 1).fill(-1), bins = new Float64Array(bands);
    for (let n = 0; n < N; ++n) windowOf[n] = Math.sin((Math.PI * (n + 0.5)) / N);
    for (let k = 1; k < N / 2; ++k) {
      const f = (k * rate) / N;
      for (let b = 0; b < bands; ++b) if (f >= meta.noiseEdges[b] && f < meta.noiseEdges[b + 1]) { bandOf[k] = b; bins[b] += 1; break; }
    }
    const power = new Float64Array(bands);
    const total = (time) => {
      noiseAt(time, power);
      let s = 0;
      for (let b = 0; b < bands; ++b) if (bins[b] > 0) s += power[b];
      return s;
    };
    // The sound's own white noise: splitmix64 from a seed for each frame, uniform over
    // [-sqrt 3, sqrt 3), so that the page plays the very noise that --wav writes.
    const M64 = (1n << 64n) - 1n;
    let state = 0n;
    const white = () => {
      state = (state + 0x9e3779b97f4a7c15n) & M64;
      let z = state;
      z = ((z ^ (z >> 30n)) * 0xbf58476d1ce4e5b9n) & M64;
      z = ((z ^ (z >> 27n)) * 0x94d049bb133111ebn) & M64;
      z ^= z >> 31n;
      return (Number(z >> 11n) * Math.pow(2, -53) * 2.0 - 1.0) * 1.7320508075688772;
    };
    const frames = Math.ceil(length / Hh) + 1, made = [], powers = [];
    for (let k = -1; k < frames; ++k) {
      noiseAt((k * Hh + Hh) / rate, power);
      let held = 0;
      for (let b = 0; b < bands; ++b) if (bins[b] > 0) held += power[b];
      const re = new Float64Array(N), im = new Float64Array(N);
      if (held > 0) {
        state = 0x5eed000000000000n ^ BigInt(k + 1);
        for (let n = 0; n < N; ++n) re[n] = white();
        fft(re, im, false);
        for (let j = 0; j <= N / 2; ++j) {
          const b = bandOf[j], g = b >= 0 && power[b] > 0 ? Math.sqrt((power[b] * N) / (2 * bins[b])) : 0;
          (re[j] *= g), (im[j] *= g);
          if (j > 0 && j < N / 2) (re[N - j] = re[j]), (im[N - j] = -im[j]);
        }
        fft(re, im, true);
        for (let n = 0; n < N; ++n) re[n] = (re[n] / N) * windowOf[n];
      }
      made.push(re), powers.push(held);
    }
    let control = -1, c0 = 0, c1 = 0;
    for (let n = 0; n < length; ++n) {
      const k = Math.floor(n / Hh), at = n - k * Hh, now = made[k + 1], before = made[k];
      const w0 = windowOf[at], w1 = windowOf[at + Hh], sum = w0 * w0 * powers[k + 1] + w1 * w1 * powers[k];
      const c = Math.floor(n / 32) * 32;
      if (c !== control) (c0 = c === control + 32 ? c1 : total(c / rate)), (c1 = total((c + 32) / rate)), (control = c);
      const want = c0 + ((n - c) / 32) * (c1 - c0);
      out[n] = sum > 0 ? (now[at] + before[at + Hh]) * Math.sqrt(want / sum) : 0;
    }
    return out;
  }

  // The partials as oscillators in a Web Audio context, from the grid: frequency and amplitude
  // ramped linearly between its points, a short fade at both ends, as --wav makes them; the
  // times from `from` on, `offset` in the context's time.
  function schedule(context, partials, offset, from) {
    const nyquist = context.sampleRate / 2;
    for (const p of partials) {
      const g = grids[p], n = g.n;
      if (n < 2 || tEnd(p) < from) continue;
      const hz = (i) => (isFinite(g.freq[i]) ? Math.min(Math.max(g.freq[i], 0), nyquist) : 0);
      const amp = (i) => (g.freq[i] > 0 && g.freq[i] < nyquist && g.amp[i] > 0 && isFinite(g.amp[i]) ? g.amp[i] : 0);
      const osc = context.createOscillator(), gain = context.createGain();
      osc.connect(gain).connect(context.destination);
      const fade = Math.min(step, 0.005), start = offset + g.t0 - from;
      // The values before the start as at it, so that the first sample has them whatever the
      // rounding of the start to a sample.
      (gain.gain.value = 0), (osc.frequency.value = hz(0));
      gain.gain.setValueAtTime(0, Math.max(0, start));
      osc.frequency.setValueAtTime(hz(0), Math.max(0, start));
      // Up to the first point's level over the fade, along the first interval.
      gain.gain.linearRampToValueAtTime(amp(0) + (amp(1) - amp(0)) * (fade / step), start + fade);
      for (let k = 1; k < n; ++k) {
        const t = start + k * step;
        osc.frequency.linearRampToValueAtTime(hz(k), t);
        if (k < n - 1) {
          gain.gain.linearRampToValueAtTime(amp(k), t);
        } else {
          // Down to silence over the fade at the end.
          gain.gain.linearRampToValueAtTime(amp(k - 1) + (amp(k) - amp(k - 1)) * (1 - fade / step), t - fade);
          gain.gain.linearRampToValueAtTime(0, t);
        }
      }
      osc.start(Math.max(0, start));
      osc.stop(start + (n - 1) * step);
    }
  }
  const chosen = () => {
    const list = selected.size ? [...selected].sort((a, b) => a - b) : [...Array(P).keys()];
    return list.filter((p) => alive[p]);
  };
  // The noise plays with everything (nothing selected) while its layer is shown.
  const withNoise = () => selected.size === 0 && layers.noise && noiseTimes.length > 0;
  function soundLength(rate) {
    if (meta.length > 0) return Math.round(meta.length * rate);
    let end = withNoise() ? noiseTimes[noiseTimes.length - 1] : -1;
    for (const p of chosen()) if (grids[p].n > 0) end = Math.max(end, tEnd(p));
    return end < 0 ? 1 : Math.floor(end * rate) + 1;
  }
  // The sound from `from` for `length` samples, rendered offline.
  function rendered(rate, from, length) {
    const context = new OfflineAudioContext(1, length, rate);
    schedule(context, chosen(), 0, from);
    return context.startRendering().then((buffer) => {
      const samples = buffer.getChannelData(0);
      if (withNoise()) {
        const first = Math.round(from * rate), all = noiseSamples(first + length, rate);
        for (let n = 0; n < length; ++n) samples[n] += all[first + n];
      }
      return samples;
    });
  }
  function render(rate) {
    if (!Number.isInteger(rate) || rate < 3000 || rate > 768000)
      return Promise.reject(new Error(`render: rate must be a whole number of hertz from 3000 to 768000, not ${rate}`));
    return rendered(rate, 0, soundLength(rate));
  }
  let playing = null;
  // Plays the view's times (or everything), looping them where asked, with a cursor.
  function play(loop) {
    stop();
    const rate = meta.rate, whole = soundLength(rate) / rate;
    const from = loop ? Math.max(0, view.t0) : 0, to = loop ? Math.min(view.t1, whole) : whole;
    if (!(to > from)) return;
    const context = new AudioContext({ sampleRate: rate });
    playing = { context, stopped: false };
    const mine = playing;
    rendered(rate, from, Math.max(1, Math.round((to - from) * rate))).then((samples) => {
      if (mine.stopped) return;
      const buffer = context.createBuffer(1, samples.length, rate);
      buffer.copyToChannel(samples, 0);
      const source = context.createBufferSource();
      (source.buffer = buffer), (source.loop = !!loop);
      source.connect(context.destination);
      const began = context.currentTime + 0.05;
      source.start(began);
      source.onended = () => stop();
      const tick = () => {
        if (mine.stopped) return;
        const elapsed = context.currentTime - began;
        cursor = elapsed < 0 ? from : from + (loop ? elapsed % (to - from) : Math.min(elapsed, to - from));
        draw();
        requestAnimationFrame(tick);
      };
      requestAnimationFrame(tick);
    });
  }
  function stop() {
    if (playing) (playing.stopped = true), playing.context.close();
    playing = null;
    if (cursor !== null) (cursor = null), draw();
  }

  // Zooming and panning keep the view within sensible bounds: never narrower than a
  // millionth of the whole, and above 0 Hz on a logarithmic axis.
  function zoom(a, b, c, d) {
    if (!(b > a) || !(d > c) || (layers.log && !(c > 0))) throw new RangeError("zoom needs t0 < t1 and f0 < f1 (above 0 on a log axis)");
    view = { t0: a, t1: b, f0: c, f1: d };
    return draw();
  }
  function zoomAbout(x, y, factor, times, freqs) {
    const t = tOf(x), f = fv(fOf(y));
    const nt0 = times ? t - (t - view.t0) * factor : view.t0, nt1 = times ? t + (view.t1 - t) * factor : view.t1;
    let a = fv(view.f0), b = fv(view.f1);
    if (freqs) (a = f - (f - a) * factor), (b = f + (b - f) * factor);
    const back = (v) => (layers.log ? Math.pow(10, v) : v);
    const whole = meta.span.t1 - meta.span.t0;
    if (nt1 - nt0 < whole * 1e-6 && factor < 1) return;
    zoom(nt0, nt1, back(a), back(b));
  }
  function toggle(name) {
    if (!Object.prototype.hasOwnProperty.call(layers, name))
      throw new Error(`toggle: no layer ${JSON.stringify(name)} (spectrogram, breakpoints, noise or log)`);
    if (name === "spectrogram" && !meta.spectrogram) throw new Error("toggle: this page has no spectrogram: its input was not a sound");
    layers[name] = !layers[name];
    if (name === "log" && layers.log && !(view.f0 > 0)) view.f0 = isFinite(lowest) ? lowest / 2 : 1;
    document.getElementById("layer-" + name).checked = layers[name];
    return draw();
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
  const byId = (id) => document.getElementById(id);
  byId("reset").addEventListener("click", () => zoom(meta.span.t0, meta.span.t1, layers.log && !(meta.span.f0 > 0) ? lowest / 2 : meta.span.f0, meta.span.f1));
  byId("play").addEventListener("click", () => play(false));
  byId("loop").addEventListener("click", () => play(true));
  byId("stop").addEventListener("click", stop);
  byId("clear").addEventListener("click", () => select([]));
  // Each edit button applies its op with the amount typed; a stretch is about the selection's start.
  const amount = () => Number(byId("amount").value);
  const report = (f) => {
    try {
      f();
      byId("problem").textContent = "";
    } catch (e) {
      byId("problem").textContent = e.message;
    }
  };
  const about = () => Math.min(...[...selected].map((p) => points[p].time[0]));
  const buttons = {
    "edit-delete": () => ({ op: "delete" }), "edit-keep": () => ({ op: "keep" }), "edit-transpose": () => ({ op: "transpose", cents: amount() }),
    "edit-shift": () => ({ op: "shift", seconds: amount() }), "edit-gain": () => ({ op: "gain", db: amount() }),
    "edit-stretch": () => ({ op: "stretch", factor: amount(), about: about() }),
  };
  for (const [id, op] of Object.entries(buttons)) byId(id).addEventListener("click", () => report(() => apply(op())));
  byId("undo").addEventListener("click", undo);
  byId("redo").addEventListener("click", redo);
  byId("save").addEventListener("click", () => {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([recipe()], { type: "application/json" }));
    link.download = "recipe.json";
    link.click();
  });
  byId("select-where").addEventListener("click", () => report(() => {
    const band = byId("where-band").value.split(":").map(Number), level = byId("where-level").value.split(":").map(Number);
    selectWhere({ band: band.length === 2 ? band : undefined, level: level.length === 2 ? level : undefined });
  }));
  for (const name of Object.keys(layers)) {
    const box = byId("layer-" + name);
    box.checked = layers[name];
    box.disabled = name === "spectrogram" && !meta.spectrogram;
    box.addEventListener("change", () => report(() => toggle(name)));
  }
  document.addEventListener("keydown", (e) => {
    if (e.target instanceof HTMLInputElement) return;
    const k = e.key.toLowerCase();
    if ((e.ctrlKey || e.metaKey) && k === "z") e.shiftKey ? redo() : undo();
    else if ((e.ctrlKey || e.metaKey) && k === "y") redo();
    else if ((k === "delete" || k === "backspace") && selected.size) report(() => apply({ op: "delete" }));
    else if (k === "k" && selected.size) report(() => apply({ op: "keep" }));
    else if (k === " " && !(e.target instanceof HTMLButtonElement)) playing ? stop() : play(false);  // a button takes its own space
    else return;
    e.preventDefault();
  });

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
      const a = layers.log ? Math.log10(v.f0) : v.f0, b = layers.log ? Math.log10(v.f1) : v.f1, df = ((y - drag.y) / (B - T)) * (b - a);
      const back = (u) => (layers.log ? Math.pow(10, u) : u);
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

  // A partial's index as given to the script: a whole number naming a partial the page holds.
  function index(v, where) {
    if (!Number.isInteger(v) || v < 0 || v >= P) throw new Error(`${where}: no partial ${JSON.stringify(v)}: the page holds partials 0 to ${P - 1}`);
    return v;
  }
  function select(indices) {
    if (indices === null || typeof indices !== "object" || typeof indices[Symbol.iterator] !== "function")
      throw new Error(`select: needs an array of partials' indices, not ${JSON.stringify(indices)}`);
    const chosen = new Set();
    for (const v of indices) {
      index(v, "select");
      if (!alive[v]) throw new Error(`select: partial ${v} was deleted`);
      chosen.add(v);
    }
    selected = chosen;
    showCommand();
    draw();
  }
  // Selects the partials whose mean frequency (weighted by amplitude) lies within band and
  // whose loudest level lies within level, as the page now holds them.
  function selectWhere(where) {
    const range = (r, name) => {
      if (r === undefined) return [-Infinity, Infinity];
      if (!Array.isArray(r) || r.length !== 2 || !(r[0] <= r[1])) throw new Error(`selectWhere: ${name} must be [low, high], not ${JSON.stringify(r)}`);
      return r;
    };
    const band = range(where && where.band, "band"), level = range(where && where.level, "level"), found = [];
    for (let p = 0; p < P; ++p) {
      const g = grids[p];
      if (!alive[p] || g.n === 0) continue;
      let weight = 0, sum = 0, loud = -Infinity;
      for (let k = 0; k < g.n; ++k) (weight += g.amp[k]), (sum += g.amp[k] * g.freq[k]), (loud = Math.max(loud, g.db[k]));
      const mean = weight > 0 ? sum / weight : NaN;
      if (mean >= band[0] && mean <= band[1] && loud >= level[0] && loud <= level[1]) found.push(p);
    }
    select(found);
    return found;
  }

  window.zarnView = {
    partials: P,
    rate: meta.rate,  // the rate Play uses, as --wav would
    get view() {
      return { ...view };
    },
    get selection() {
      return [...selected].sort((a, b) => a - b);
    },
    get drawTime() {
      return lastDraw;
    },
    get kept() {
      return [...Array(P).keys()].filter((p) => alive[p]);
    },
    get recipe() {
      return recipe();
    },
    get layers() {
      return { ...layers, toggle };
    },
    zoom,
    at: (time, hz) => at(time, hz),
    select,
    selectWhere,
    apply,
    undo,
    redo,
    partial(i) {
      index(i, "partial");
      if (!alive[i]) return null;
      const g = grids[i];
      return { time: Array.from(g.time), hz: Array.from(g.freq), db: Array.from(g.db, (d) => (d === SILENT ? null : d)) };
    },
    breakpoints(i) {
      index(i, "breakpoints");
      const bp = points[i];
      return { time: Array.from(bp.time), hz: Array.from(bp.freq), amp: Array.from(bp.amp) };
    },
    render,
    play,
    stop,
  };
  showCommand();
  draw();
  window.zarnView.ready = performance.now();  // since the page began to load
})();
