"""The Python module against the tool: the same partials from every format, the same
resampled figures, the spline against scipy's, errors as exceptions, files never overwritten."""
import os
import subprocess

import numpy as np
import pytest

import zarn

ZARN = os.environ["ZARN_BINARY"]
SOURCE = os.environ["ZARN_SOURCE_DIR"]
VIOLIN = os.path.join(SOURCE, "examples", "violin.txt")
HETRO = os.path.join(SOURCE, "tests", "data", "hetro-saw220.sdif")


def tool(*args, cwd):
    return subprocess.run([ZARN, *args], cwd=cwd, capture_output=True, text=True, check=True).stdout


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """The example in every format the tool reads, the exports written by the tool itself."""
    d = tmp_path_factory.mktemp("inputs")
    tool("-q", "-f", "spear-partials", "-o", "partials.txt", VIOLIN, "0.005", cwd=d)
    tool("-q", "-f", "spear-frames", "-o", "frames.txt", VIOLIN, "0.005", cwd=d)
    return [VIOLIN, HETRO, str(d / "partials.txt"), str(d / "frames.txt"),
            os.path.join(SOURCE, "tests", "data", "atsa-type4.ats")]


def test_every_format_reads_and_resamples_as_the_tool_does(inputs, tmp_path):
    for i, path in enumerate(inputs):
        for step, fmt in [(0.01, "list"), (0.02, "sdif"), (0.01, "ats")]:
            tool("-q", "-f", fmt, "-o", f"tool{i}{fmt}", path, str(step), cwd=tmp_path)
            partials = zarn.resample(zarn.read(path), step, align=fmt != "list")
            zarn.write(str(tmp_path / f"py{i}{fmt}"), partials, format=fmt, step=step if fmt == "ats" else None)
            assert (tmp_path / f"py{i}{fmt}").read_bytes() == (tmp_path / f"tool{i}{fmt}").read_bytes(), (path, fmt)


def test_resample_equals_the_listing(tmp_path):
    listing = tool("-o", "out.txt", VIOLIN, "0.0037", cwd=tmp_path).split("\n")
    lines = [line for line in listing if " --> " in line]
    ours = [
        "%f --> %f\t%f" % (t, f, a)
        for p in zarn.resample(zarn.read(VIOLIN), 0.0037)
        for t, f, a in zip(p.time, p.freq, p.amp)
    ]
    assert ours == lines


def test_spline_agrees_with_scipy():
    interpolate = pytest.importorskip("scipy.interpolate")
    rng = np.random.default_rng(7)
    for n in (4, 5, 9, 40):
        x = np.cumsum(rng.uniform(0.001, 0.05, n))
        y = 440 + 30 * np.sin(40 * x) + rng.uniform(-1, 1, n)
        xi = np.linspace(x[0], x[-1], 333)
        want = interpolate.CubicSpline(x, y, bc_type="not-a-knot")(xi)
        np.testing.assert_allclose(zarn.spline(x, y, xi), want, rtol=1e-12)


def test_errors_carry_the_tools_message(tmp_path):
    bad = tmp_path / "bad.txt"
    bad.write_text("( PARTIALS 1\n( POINTS 2\n0 440 -20\n0.1 441Hz -20\n)\n)\n")
    with pytest.raises(zarn.Error, match=r'bad.txt:4: "441Hz" is not a number') as caught:
        zarn.read(str(bad))
    assert isinstance(caught.value, ValueError)
    with pytest.raises(FileNotFoundError):
        zarn.read(str(tmp_path / "missing.txt"))
    with pytest.raises(ValueError, match="not later"):
        zarn.Partial([0, 0], [440, 440], [1, 1])
    with pytest.raises(ValueError, match="same length"):
        zarn.Partial([0, 1], [440], [1, 1])
    with pytest.raises(IsADirectoryError):
        zarn.read(str(tmp_path))
    for freq, amp, what in [(np.nan, 1.0, "frequency"), (440, np.inf, "amplitude"), (440, np.nan, "amplitude")]:
        with pytest.raises(ValueError, match=what):
            zarn.Partial([0, 1], [440, freq], [1, amp])
    with pytest.raises(ValueError, match="NUL"):
        zarn.write(str(tmp_path / "out.txt\0.sdif"), [])
    with pytest.raises(ValueError, match="NUL"):
        zarn.read(str(bad) + "\0x")
    with pytest.raises(ValueError, match="xi must be"):
        zarn.spline([0, 1, 2, 3], [0, 1, 0, 1], [0.5, np.nan])
    assert os.listdir(tmp_path) == ["bad.txt"]


def test_spline_in_threads_that_change_its_arrays():
    """Another thread rewriting the query times must never make the spline read out of bounds."""
    import threading
    x = np.linspace(0, 1, 1000)
    y = np.sin(x)
    xi = np.linspace(0, 1, 200000)
    stop = threading.Event()

    def meddle():
        while not stop.is_set():
            xi[-1] = 1e9
            xi[-1] = 1.0
    t = threading.Thread(target=meddle)
    t.start()
    try:
        for _ in range(20):
            try:
                zarn.spline(x, y, xi)
            except ValueError:
                pass
    finally:
        stop.set()
        t.join()


def test_figures_beyond_single_precision_are_refused(tmp_path):
    with pytest.raises(zarn.Error, match="partial 1 has the time 1e[+]39"):
        zarn.write(str(tmp_path / "out.txt"), [zarn.Partial([1e39, 2e39], [440, 441], [0.1, 0.2])])
    assert os.listdir(tmp_path) == []


def test_write_never_overwrites_unless_forced(tmp_path):
    partials = [zarn.Partial([0.0, 0.5], [440, 441], [0.1, 0.2])]
    out = tmp_path / "out.txt"
    out.write_text("keep")
    with pytest.raises(FileExistsError):
        zarn.write(str(out), partials)
    assert out.read_text() == "keep"
    zarn.write(str(out), partials, force=True)
    assert out.read_text().startswith("( PARTIALS\t1\n( POINTS\t2\n")
    assert sorted(os.listdir(tmp_path)) == ["out.txt"]


def test_render_gives_float32_samples_from_time_zero():
    sound = zarn.render([zarn.Partial([0.0, 0.5, 1.0], [440, 440, 440], [0.5, 0.5, 0.5])], rate=8000)
    assert sound.dtype == np.float32 and sound.shape == (8001,)
    assert abs(float(np.sqrt(np.mean(sound[400:-400].astype(float) ** 2))) - 0.5 / np.sqrt(2)) < 0.005


def test_keep_and_scale_act_as_the_tools_options(tmp_path):
    """The edits on partials in Python give what the tool's options give."""
    edge = os.path.join(SOURCE, "tests", "data", "edge.txt")
    partials = zarn.scale(zarn.keep(zarn.read(edge), band=(150, 250), max_partials=2), time=2.0, cents=-1200, gain=6.0)
    zarn.write(str(tmp_path / "py.txt"), zarn.resample(partials, 0.05))
    tool("-q", "-o", "cli.txt", "--band=150:250", "--max-partials=2", "--time-scale=2", "--transpose=-1200",
         "--gain=6", edge, "0.05", cwd=tmp_path)
    assert (tmp_path / "py.txt").read_bytes() == (tmp_path / "cli.txt").read_bytes()
    assert len(zarn.keep(zarn.read(edge))) == len(zarn.read(edge))
    for bad in [dict(band=(5, 1)), dict(max_partials=-1), dict(min_level=float("nan"))]:
        with pytest.raises(ValueError):
            zarn.keep(partials, **bad)
    with pytest.raises(ValueError, match="time"):
        zarn.scale(partials, time=0)


def test_apply_replays_a_recipe_as_the_tool_does(tmp_path):
    """A recipe as JSON text, as a file and as a dict gives what --edits gives; one made for
    other partials is refused with the tool's message."""
    import json
    partials = zarn.read(VIOLIN)
    fingerprint = None
    tool("-q", "-o", "x.txt", "--plot=p.html", VIOLIN, "0.01", cwd=tmp_path)
    fingerprint = json.loads((tmp_path / "p.html").read_text().split('id="zarn-meta">')[1].split("</script>")[0])["fingerprint"]
    recipe = {"zarn": "recipe", "version": 1, "input": {"name": "violin.txt", "partials": len(partials), "fingerprint": fingerprint},
              "edits": [{"op": "transpose", "cents": 230, "partials": [0, 2]}, {"op": "delete", "partials": [1]},
                        {"op": "stretch", "factor": 0.75, "about": 0.2, "partials": [3]}]}
    (tmp_path / "r.json").write_text(json.dumps(recipe))
    tool("-q", "-o", "cli.txt", "--edits=r.json", VIOLIN, "0.01", cwd=tmp_path)
    for given in (json.dumps(recipe), str(tmp_path / "r.json"), tmp_path / "r.json", recipe):
        edited = zarn.apply(partials, given)
        assert len(edited) == len(partials) - 1
        zarn.write(str(tmp_path / "py.txt"), zarn.resample(edited, 0.01), force=True)
        assert (tmp_path / "py.txt").read_bytes() == (tmp_path / "cli.txt").read_bytes()
    with pytest.raises(ValueError, match="made for other partials"):
        zarn.apply(zarn.scale(partials, gain=1), recipe)
    # A name in another encoding than UTF-8 is taken as the tool takes it.
    (tmp_path / "latin.json").write_bytes(json.dumps(dict(recipe, input=dict(recipe["input"], name="X"))).encode().replace(b'"X"', b'"caf\xe9"'))
    assert len(zarn.apply(partials, tmp_path / "latin.json")) == len(partials) - 1
    # What is not a recipe's file is refused at once, not read without end.
    with pytest.raises(zarn.Error, match="is not a file of text but a device"):
        zarn.apply(partials, "/dev/zero")
    with pytest.raises(ValueError, match="not finite"):
        zarn.apply(partials, dict(recipe, edits=[{"op": "gain", "db": float("nan"), "partials": [0]}]))


def test_edit_takes_every_option_of_the_tools_table(tmp_path):
    """zarn.edit takes the tool's edit options by name, in the tool's order, with its messages."""
    edge = os.path.join(SOURCE, "tests", "data", "edge.txt")
    partials = zarn.edit(zarn.read(edge), transpose=700, min_level=-30, time_scale=0.5, max_partials=3, gain=-4.5)
    zarn.write(str(tmp_path / "py.txt"), zarn.resample(partials, 0.05))
    tool("-q", "-o", "cli.txt", "--transpose=700", "--min-level=-30", "--time-scale=0.5", "--max-partials=3", "--gain=-4.5",
         edge, "0.05", cwd=tmp_path)
    assert (tmp_path / "py.txt").read_bytes() == (tmp_path / "cli.txt").read_bytes()
    assert len(zarn.edit(zarn.read(edge), harmonic=False)) == len(zarn.read(edge))  # a flag given as False: not chosen
    with pytest.raises(TypeError, match="no edit named 'bend'.*max_partials"):
        zarn.edit(partials, bend=(1, 2))
    with pytest.raises(ValueError, match="^band: the band's low end lies above its high end"):
        zarn.edit(partials, band=(5, 1))
    with pytest.raises(ValueError, match="max_partials"):
        zarn.edit(partials, max_partials=-2)


def test_changes_over_time_as_arrays_of_breakpoints(tmp_path):
    """Curves, markers and holds as (time, value) pairs give the tool's bytes for the same text."""
    edge = os.path.join(SOURCE, "tests", "data", "edge.txt")
    (tmp_path / "cents.txt").write_text("0.1 -300\n0.35 450\n")
    shaped = zarn.edit(zarn.read(edge), transpose=[(0.1, -300), (0.35, 450)], gain=[(0, -2), (0.4, 3)],
                       warp=[(0, 0.1), (0.2, 0.5), (0.5, 0.6)], freeze=[(0.3, 0.25), (0.1, 0.05)], step=0.01)
    zarn.write(str(tmp_path / "py.txt"), zarn.resample(shaped, 0.01))
    tool("-q", "-o", "cli.txt", "--transpose=@cents.txt", "--gain=0:-2,0.4:3", "--warp=0:0.1,0.2:0.5,0.5:0.6",
         "--freeze=0.3:0.25", "--freeze=0.1:0.05", edge, "0.01", cwd=tmp_path)
    assert (tmp_path / "py.txt").read_bytes() == (tmp_path / "cli.txt").read_bytes()
    # One value throughout is that number, bit for bit.
    assert zarn.write(str(tmp_path / "a.txt"), zarn.resample(zarn.edit(zarn.read(edge), transpose=[(0, 700), (9, 700)]), 0.05)) is None
    zarn.write(str(tmp_path / "b.txt"), zarn.resample(zarn.edit(zarn.read(edge), transpose=700), 0.05))
    assert (tmp_path / "a.txt").read_bytes() == (tmp_path / "b.txt").read_bytes()
    with pytest.raises(ValueError, match="^time_scale: breakpoint 2 '1:-1': the value must be above zero"):
        zarn.edit(zarn.read(edge), time_scale=[(0, 1), (1, -1)])
    with pytest.raises(ValueError, match="^warp: a warp needs two markers at least"):
        zarn.edit(zarn.read(edge), warp=[(0, 1)])
    with pytest.raises(ValueError, match="^warp and time_scale both say"):
        zarn.edit(zarn.read(edge), warp=[(0, 0), (1, 2)], time_scale=2.0)
    with pytest.raises(ValueError, match="^keep_attacks needs time_scale or warp"):
        zarn.edit(zarn.read(edge), keep_attacks=True)


def test_fits_and_the_whole_grid_as_the_tool(tmp_path):
    for fit in ["monotone", "linear"]:
        zarn.write(str(tmp_path / f"py-{fit}.txt"), zarn.resample(zarn.read(VIOLIN), 0.01, fit=fit, whole=True))
        tool("-q", "-o", f"cli-{fit}.txt", f"--fit={fit}", "--whole", VIOLIN, "0.01", cwd=tmp_path)
        assert (tmp_path / f"py-{fit}.txt").read_bytes() == (tmp_path / f"cli-{fit}.txt").read_bytes()
    with pytest.raises(ValueError, match="unknown fit"):
        zarn.resample(zarn.read(VIOLIN), 0.01, fit="cubic")


def test_analyse_a_sound_and_read_a_sound_file(tmp_path):
    rate = 44100
    t = np.arange(rate) / rate
    left, right = 0.3 * np.sin(2 * np.pi * 440 * t), 0.2 * np.sin(2 * np.pi * 660 * t)
    partials = zarn.analyse(left, rate)
    assert len(partials) == 1
    inner = partials[0].freq[3:-3]
    assert np.all(np.abs(1200 * np.log2(inner / 440)) < 0.5)
    assert np.all(np.abs(20 * np.log10(partials[0].amp[3:-3] / 0.3)) < 0.1)
    both = np.stack([left, right], axis=1)
    assert len(zarn.analyse(both, rate)) == 2
    assert np.allclose(zarn.analyse(both, rate, channel=2)[0].freq[5], 660, atol=0.1)
    with pytest.raises(ValueError):
        zarn.analyse(left, rate, resolution=0)
    # warp= is the tool's --no-warp: a vibrato's upper harmonic is followed only with it.
    f0 = 110 * 2 ** (np.sin(2 * np.pi * 7 * t) / 12)
    vibrato = sum(0.25 / k * np.sin(2 * np.pi * k * np.cumsum(f0) / rate) for k in range(1, 17))
    def sixteenth(found):
        return [p for p in found if np.median(p.freq / np.interp(p.time, t, f0)) > 15.5 and p.time[-1] - p.time[0] > 0.8]
    assert len(sixteenth(zarn.analyse(vibrato, rate))) == 1 and len(sixteenth(zarn.analyse(vibrato, rate, warp=False))) == 0
    # A sound file, as the tool reads it.
    zarn.write(str(tmp_path / "tone.txt"), [zarn.Partial([0.0, 1.0], [440.0, 440.0], [0.3, 0.3])])
    tool("-q", "-o", "unused.txt", "--wav=tone.wav", "tone.txt", "0.01", cwd=tmp_path)
    read = zarn.read(str(tmp_path / "tone.wav"))
    assert len(read) == 1 and abs(read[0].freq[5] - 440) < 0.1
    # Analysed partials are fitted monotone unless fit= says, and carry that through the edits;
    # partials of a file take the spline, as the tool chooses.
    glide = zarn.Partials([zarn.Partial([0.0, 0.1, 0.101, 0.3], [400.0, 400.0, 800.0, 800.0], [0.1] * 4)])
    assert not zarn.read(str(tmp_path / "tone.txt")).analysed and zarn.analyse(left, rate).analysed and read.analysed
    assert zarn.scale(read, cents=100).analysed and zarn.keep(read, min_duration=0.1).analysed
    glide.analysed = True
    monotone, spline = zarn.resample(glide, 0.01), zarn.resample(glide, 0.01, fit="spline")
    assert np.array_equal(monotone[0].freq, zarn.resample(glide, 0.01, fit="monotone")[0].freq)
    assert monotone[0].freq.max() <= 800 and spline[0].freq.max() > 800
    glide.analysed = False
    assert np.array_equal(zarn.resample(glide, 0.01)[0].freq, spline[0].freq)


def test_info_and_normalized_render():
    d = zarn.info(VIOLIN, step=0.1)
    assert d["format"] == "list" and d["partials"] == 5 and d["breakpoints"] == 125
    assert d["time_span"] == (0.0, 0.194) and d["shorter_than_step"] == 1  # 0.08 s, partial 5
    assert zarn.info(HETRO)["about"]["Frames"] == "256 1TRC"
    sound = zarn.render(zarn.resample(zarn.read(VIOLIN), 0.01), rate=8000, normalize=-6.0)
    assert abs(float(np.max(np.abs(sound))) - 10 ** (-6 / 20)) < 1e-6


def test_what_a_new_user_passes(tmp_path):
    """Integer samples as scipy.io.wavfile gives them, paths as pathlib gives them, arrays that
    cannot be changed by halves, and refusals that name the argument rather than print it."""
    import pathlib
    rate = 44100
    t = np.arange(rate // 2) / rate
    pcm = np.round(0.37 * 32767 * np.sin(2 * np.pi * 440 * t)).astype(np.int16)
    (partial,) = zarn.analyse(pcm, rate)
    assert abs(20 * np.log10(np.median(partial.amp) / 0.37)) < 0.05
    eight_bit = zarn.analyse((pcm.astype(np.int32) // 256 + 128).astype(np.uint8), rate)
    unsigned = max(eight_bit, key=lambda p: np.median(p.amp))  # quantising noise makes a few more
    assert abs(20 * np.log10(np.median(unsigned.amp) / 0.37)) < 0.2
    for bad in [pcm.astype(complex), pcm > 0]:
        with pytest.raises(TypeError):
            zarn.analyse(bad, rate)
    with pytest.raises(ValueError, match="shorter than the analysis window"):
        zarn.analyse(pcm[:441], rate)
    before = partial.amp.copy()
    with pytest.raises(ValueError, match="read-only"):
        partial.amp *= 2
    assert np.array_equal(partial.amp, before)
    path = pathlib.Path(VIOLIN)
    assert len(zarn.read(path)) == 5 and zarn.info(path)["partials"] == 5
    assert "passed_over" not in zarn.info(pathlib.Path(HETRO))
    zarn.write(tmp_path / "out.txt", zarn.read(path))
    many = zarn.read(path) * 100
    with pytest.raises(TypeError) as caught:
        zarn.write(tmp_path / "bad.txt", many + [3.0])
    assert str(caught.value) == "partials[500] is of type float, not a zarn.Partial"
    with pytest.raises(ValueError):
        zarn.info(path, step=float("nan"))
    with pytest.raises(zarn.Error, match="beyond what single precision holds"):
        zarn.render([zarn.Partial([0, 0.01], [440, 440], [1e300, 1e300])], rate=8000)
    assert sorted(os.listdir(tmp_path)) == ["out.txt"]


def test_a_python_without_numpy_is_told_at_import():
    import sys
    done = subprocess.run([sys.executable, "-c", "import sys; sys.modules['numpy'] = None; import zarn"],
                          capture_output=True, text=True, env=dict(os.environ))
    assert done.returncode != 0
    assert "ImportError: zarn needs numpy, which this Python (" + sys.executable in done.stderr


def test_noise_beside_the_partials(tmp_path):
    """A tone in white noise: the tone as a partial, the noise as 25 bands at their level (the
    tone in none of them); ATS keeps the noise, render plays it, other formats warn."""
    rate = 44100
    t = np.arange(6 * rate) / rate  # long enough for the narrow bands' mean to settle
    x = 0.05 * np.random.default_rng(1).standard_normal(t.size) + 0.3 * np.sin(2 * np.pi * 1000 * t)
    partials = zarn.analyse(x, rate)
    assert isinstance(partials, list)
    tone = max(partials, key=len)
    assert abs(np.median(tone.freq) - 1000) < 1 and len(tone) > 300
    noise = partials.noise
    assert noise.power.shape == (len(noise.times), 25) and noise.edges[-1] == 20000
    expected = 0.05 ** 2 * np.diff(noise.edges) / (rate / 2)
    level = 10 * np.log10(noise.power[10:-10].mean(axis=0) / expected)
    assert np.all(np.abs(level) < 1), level
    grid = zarn.resample(partials, 0.01, align=True)
    zarn.write(tmp_path / "out.ats", grid, step=0.01)
    back = zarn.read(tmp_path / "out.ats")
    assert back.noise.power.shape[1] == 25
    sound = zarn.render(grid, rate=rate).astype(np.float64)
    wanted = 0.3 ** 2 / 2 + 0.05 ** 2 * 20000 / 22050
    assert abs(10 * np.log10(np.mean(sound[rate // 4:-rate // 4] ** 2) / wanted)) < 0.5
    with pytest.warns(UserWarning, match="noise"):
        zarn.write(tmp_path / "out.txt", grid)
    assert zarn.analyse(x, rate, noise=False).noise is None
    louder = zarn.scale(partials, gain=6)
    assert np.allclose(louder.noise.power, noise.power * 10 ** 0.6)
    # A curve that carries the noise past any number is refused, as the tool refuses it.
    with pytest.raises(zarn.Error, match="the noise's power is not finite"):
        zarn.edit(partials, noise_gain=[(0, 0), (1, 1e300)])


def test_fundamental_of_samples_and_of_partials():
    """A vibrato of eight harmonics: its fundamental within a cent from the samples and from
    their partials; silence has none."""
    rate = 44100
    t = np.arange(rate) / rate
    f0 = 220 * (1 + 0.01 * np.sin(2 * np.pi * 5.5 * t))
    phase = 2 * np.pi * np.cumsum(f0) / rate
    x = sum(0.25 / k * np.sin(k * phase) for k in range(1, 9))
    times, hz, sure = zarn.fundamental(x, rate=rate)
    inner = (times > 0.1) & (times < 0.9)
    truth = 220 * (1 + 0.01 * np.sin(2 * np.pi * 5.5 * times[inner]))
    assert np.max(np.abs(1200 * np.log2(hz[inner] / truth))) < 1
    assert np.all(sure[inner] > 0.9)
    times, hz, _ = zarn.fundamental(zarn.analyse(x, rate), step=0.01)
    assert np.median(np.abs(1200 * np.log2(hz[10:90] / (220 * (1 + 0.01 * np.sin(2 * np.pi * 5.5 * times[10:90])))))) < 1
    _, hz, _ = zarn.fundamental(np.zeros(rate), rate=rate)
    assert not hz.any()
    with pytest.raises(ValueError, match="step"):
        zarn.fundamental(zarn.analyse(x, rate))


def test_morph_and_keep_formants():
    """Two tones of five harmonics morphed half-way: each harmonic at the geometric mean of
    their frequencies; w=0 gives the first back."""
    def tone(f0, level):
        t = np.linspace(0, 1, 21)
        return [zarn.Partial(t, np.full(21, f0 * k), np.full(21, 10 ** ((level - 3 * k) / 20))) for k in range(1, 6)]
    a, b = tone(200, -10), tone(300, -30)
    half = zarn.morph(a, b, 0.5)
    assert np.allclose([np.median(p.freq) for p in half], [np.sqrt(200 * k * 300 * k) for k in range(1, 6)])
    assert np.array_equal(zarn.morph(a, b, 0)[2].freq, a[2].freq)
    with pytest.raises(ValueError):
        zarn.morph(a, b, 1.5)
    labelled = zarn.harmonic(a)
    assert [p.index for p in labelled] == [1, 2, 3, 4, 5] and all(p.harmonic for p in labelled)
    up = zarn.scale(a, cents=700, keep_formants=True)
    assert up[0].freq[0] == pytest.approx(200 * 2 ** (7 / 12))


def test_phases_carried_and_sounded():
    rate = 44100
    t = np.arange(rate) / rate
    x = 0.4 * np.cos(2 * np.pi * 523.3 * t + 2.2)
    partials = zarn.analyse(x, rate, noise=False)
    assert len(partials) == 1 and len(partials[0].phase) == len(partials[0].time)
    # Sounded with its phases, the analysis is the waveform; without, it runs from 0.
    y = zarn.render(zarn.resample(partials, 0.005), rate=rate)[: len(x)]
    inner = slice(rate // 10, rate * 9 // 10)
    assert 10 * np.log10(np.sum(x[inner] ** 2) / np.sum((x[inner] - y[inner]) ** 2)) > 40
    bare = zarn.Partial(partials[0].time, partials[0].freq, partials[0].amp)
    assert bare.phase is None
    with pytest.raises(ValueError):
        zarn.Partial([0.0, 1.0], [440.0, 440.0], [0.1, 0.1], phase=[0.0])
    # A gain keeps the phases; a transposition makes them anew from the first.
    louder, higher = zarn.scale(partials, gain=-3)[0], zarn.scale(partials, cents=70)[0]
    assert np.array_equal(louder.phase, partials[0].phase)
    assert higher.phase[0] == partials[0].phase[0] and not np.allclose(higher.phase[1:], partials[0].phase[1:])


def float_wav_samples(path):
    """The samples of a WAV of 32-bit floats, as zarn writes them."""
    data = open(path, "rb").read()
    at = 12
    while at + 8 <= len(data):
        size = int.from_bytes(data[at + 4:at + 8], "little")
        if data[at:at + 4] == b"data":
            return np.frombuffer(data[at + 8:at + 8 + size], dtype="<f4").astype(float)
        at += 8 + size + (size & 1)
    raise ValueError("no data chunk")


def test_residual_is_what_the_partials_leave(tmp_path):
    rate = 22050
    t = np.arange(int(0.6 * rate)) / rate
    x = 0.4 * np.cos(2 * np.pi * 330 * t + 1.0) + 0.001 * np.random.default_rng(3).standard_normal(len(t))
    pcm = np.round(x * 32767).astype("<i2")
    import wave
    with wave.open(str(tmp_path / "x.wav"), "wb") as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes(pcm.tobytes())
    x = pcm / 32768
    left = zarn.residual(x, rate, zarn.analyse(x, rate, noise=False))
    assert left.shape == x.shape
    inner = slice(len(x) // 8, len(x) * 7 // 8)
    assert 10 * np.log10(np.sum(left[inner] ** 2) / np.sum(x[inner] ** 2)) < -30
    # The tool's --residual of the same sound, to the float it writes.
    tool("-q", "--no-noise", "-o", "p.txt", "--residual=r.wav", "x.wav", "0.005", cwd=tmp_path)
    assert np.array_equal(float_wav_samples(str(tmp_path / "r.wav")), left.astype(np.float32).astype(float))
