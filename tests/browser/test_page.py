"""The browser page (--plot=FILE.html) in headless Chromium driven by Selenium: it opens
without a console error, draws, zooms and pans, finds known points under the pointer, selects,
and renders through Web Audio the sound that --wav makes, within 0.5 dB; it edits the
selection with undo and redo, and its recipe, replayed by the tool, gives what it shows."""
import json
import math
import os
import shlex
import shutil
import subprocess
import sys

import pytest

ZARN = os.environ["ZARN_BINARY"]

try:
    from selenium import webdriver
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:  # pragma: no cover
    webdriver = None

BROWSER = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver")
MISSING = [n for n, v in (("python3-selenium", webdriver), ("chromium", BROWSER), ("chromium-driver", DRIVER)) if not v]
if MISSING:
    # Where setup installs them (CI), a missing browser is a failure, not a skip.
    if os.environ.get("CI"):
        raise RuntimeError("the browser tests need " + ", ".join(MISSING) + ", which setup.sh installs")
    pytest.skip("no browser to test the page in: install " + ", ".join(MISSING) + " (setup.sh does)",
                allow_module_level=True)

import numpy as np  # noqa: E402

# Three partials: a steady tone, a quieter one in the middle, and a glide quieter still.
PARTIALS = [
    [(t / 10, 440.0, -20.0) for t in range(0, 11)],
    [(0.2 + t / 10, 880.0, -24.0) for t in range(0, 7)],
    [(0.1 + t / 20, 1500.0 + 40 * t, -26.0) for t in range(0, 13)],
]


def list_text(partials):
    lines = ["( PARTIALS %d" % len(partials)]
    for part in partials:
        lines.append("( POINTS %d" % len(part))
        lines += ["%.6f %.6f %.6f" % p for p in part]
        lines.append(")")
    return "\n".join(lines + [")", ""])


def float_wav(path):
    """The samples of a mono 32-bit float WAV file."""
    data = open(path, "rb").read()
    at = 12
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "little")
        if kind == b"data":
            return np.frombuffer(data[at + 8:at + 8 + size], dtype="<f4").astype(float)
        at += 8 + size + (size & 1)
    raise AssertionError("no data chunk in " + path)


@pytest.fixture(scope="module")
def page(tmp_path_factory):
    folder = tmp_path_factory.mktemp("page")
    source = folder / "in.txt"
    source.write_text(list_text(PARTIALS))
    subprocess.run([ZARN, "-q", "-o", str(folder / "out.txt"), "--plot=" + str(folder / "page.html"),
                    "--wav=" + str(folder / "sound.wav"), "--transpose=0", str(source), "0.01"], check=True)
    options = webdriver.ChromeOptions()
    options.binary_location = BROWSER
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--autoplay-policy=no-user-gesture-required", "--user-data-dir=" + str(folder / "profile"),
                 "--window-size=1300,1150"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=webdriver.ChromeService(executable_path=DRIVER), options=options) \
        if hasattr(webdriver, "ChromeService") else \
        webdriver.Chrome(service=webdriver.chrome.service.Service(executable_path=DRIVER), options=options)
    driver.set_script_timeout(60)
    driver.get((folder / "page.html").as_uri())
    yield driver, folder
    driver.quit()


def test_opens_without_errors_and_draws(page):
    driver, folder = page
    assert driver.execute_script("return window.zarnView.partials") == 3
    errors = [e for e in driver.get_log("browser") if e["level"] in ("SEVERE", "ERROR")]
    assert errors == []
    html = (folder / "page.html").read_text()
    assert "http://" not in html.replace("http://www.w3.org", "") and "https://" not in html  # nothing fetched
    # Blue lines within the plotting area, where the partials are.
    inked = driver.execute_script("""
        const c = document.getElementById('view'), s = c.width / 1200;
        const d = c.getContext('2d').getImageData(80 * s, 50 * s, 1100 * s, 600 * s).data;
        let n = 0;
        for (let i = 0; i < d.length; i += 4) if (d[i + 2] > d[i] + 40) ++n;
        return n;""")
    assert inked > 1000
    # The command line of the run's own shaping options, and a hint before any selection.
    assert "Select partials" in driver.find_element(By.ID, "command").text


def test_zoom_pan_and_at(page):
    driver, _ = page
    view = driver.execute_script("return window.zarnView.view")
    assert view["t0"] <= 0 and view["t1"] >= 1.0 and view["f0"] < 440 and view["f1"] > 1980
    assert abs(driver.execute_script("return window.zarnView.at(0.3, 870)")["hz"] - 880) < 1e-3
    cases = [  # (time, Hz) -> partial, or None
        (0.5, 440.0, 0), (0.3, 880.0, 1), (0.1, 1500.0, 2), (0.35, 1700.0, 2), (0.5, 1200.0, None), (1.5, 440.0, None)]
    for time, hz, want in cases:
        got = driver.execute_script("return window.zarnView.at(arguments[0], arguments[1])", time, hz)
        if want is None:
            assert got is None, (time, hz, got)
        else:
            assert got["partial"] == want and abs(got["time"] - time) < 1e-9 and abs(got["hz"] - hz) < 1e-3, (time, hz, got)
            assert abs(got["db"] - {0: -20, 1: -24, 2: -26}[want]) < 0.01
    drawn = driver.execute_script("return window.zarnView.zoom(0.2, 0.4, 800, 1000)")
    assert drawn >= 0
    assert driver.execute_script("return window.zarnView.view") == {"t0": 0.2, "t1": 0.4, "f0": 800, "f1": 1000}
    # "Near" is a few pixels of the view: 10 Hz off is 3 pixels on the whole, 30 zoomed in.
    assert driver.execute_script("return window.zarnView.at(0.3, 870)") is None
    assert driver.execute_script("return window.zarnView.at(0.3, 878)")["partial"] == 1
    # A drag pans: the view moves by the pointer's travel, its width kept.
    canvas = driver.find_element(By.ID, "view")
    ActionChains(driver).move_to_element_with_offset(canvas, 0, 0).click_and_hold().move_by_offset(110, 0) \
        .release().perform()
    panned = driver.execute_script("return window.zarnView.view")
    assert abs((panned["t1"] - panned["t0"]) - 0.2) < 1e-9 and abs(panned["t0"] - (0.2 - 0.02)) < 0.002
    # The pointer over a partial reads it out.
    driver.execute_script("window.zarnView.zoom(0, 1.1, 0, 2200)")
    ActionChains(driver).move_to_element_with_offset(canvas, int(80 + 0.5 / 1.1 * 1100) - 600,
                                                     int(650 - 440 / 2200 * 600) - 360).perform()
    assert driver.find_element(By.ID, "readout").text.startswith("partial 1 ")  # numbered from 1, as --info numbers them
    driver.find_element(By.ID, "reset").click()
    assert driver.execute_script("return window.zarnView.view") == view


def rendered(driver, selection):
    driver.execute_script("window.zarnView.select(arguments[0])", selection)
    samples = driver.execute_async_script(
        "const done = arguments[0]; window.zarnView.render(44100).then(s => done(Array.from(s)), e => done(String(e)))")
    assert isinstance(samples, list), samples
    return np.array(samples)


def rms_db(x):
    return 10 * np.log10(np.mean(np.square(x)) + 1e-300)


def test_render_matches_the_sound(page):
    driver, folder = page
    wav = float_wav(str(folder / "sound.wav"))
    page_sound = rendered(driver, [])
    assert abs(len(page_sound) - len(wav)) <= 2
    n = min(len(page_sound), len(wav))
    assert abs(rms_db(page_sound[:n]) - rms_db(wav[:n])) < 0.5
    # Window by window too, where there is sound: the levels follow over time.
    for at in range(0, n - 4410, 4410):
        assert abs(rms_db(page_sound[at:at + 4410]) - rms_db(wav[at:at + 4410])) < 0.5, at / 44100
    # The same waves, not only the same levels: the oscillators follow the same frequencies
    # from the same phase.
    assert rms_db(page_sound[:n] - wav[:n]) - rms_db(wav[:n]) < -20
    # The selection alone: the -24 dB partial, a sine of that amplitude over its 0.6 s.
    alone = rendered(driver, [1])
    middle = alone[int(0.3 * 44100):int(0.7 * 44100)]
    assert abs(rms_db(middle) - (-24 - 10 * np.log10(2))) < 0.1
    assert np.max(np.abs(alone[:int(0.19 * 44100)])) == 0
    driver.execute_script("window.zarnView.select([])")


def test_the_command_keeps_the_selection(page):
    """The command line shown keeps what it says it keeps, when run."""
    driver, folder = page
    for selection, kept, says in (([1], 1, "keeps 1 partial: the 1 selected"),
                                  ([0, 2], 3, "keeps 3 partials: the 2 selected and 1 other within those bounds")):
        driver.execute_script("window.zarnView.select(arguments[0])", selection)
        command, summary = driver.find_element(By.ID, "command").text.split("\n")
        assert summary == says and "--transpose=0" in command
        args = shlex.split(command)
        assert args[0] == "zarn" and args[args.index("-o") + 1] == "kept.txt"
        (folder / "kept.txt").unlink(missing_ok=True)
        subprocess.run([ZARN, "-q"] + args[1:], cwd=str(folder), check=True)
        assert (folder / "kept.txt").read_text().startswith("( PARTIALS\t%d\n" % kept)
    driver.execute_script("window.zarnView.select([])")


def test_the_command_keeps_the_selection_after_changes(page):
    """Changes after the filters (an octave down, twice as long, 6 dB quieter) leave what the
    filters judge as it was read: the command still keeps what it says."""
    driver, folder = page
    subprocess.run([ZARN, "-q", "-o", str(folder / "changed.txt"), "--plot=" + str(folder / "changed.html"),
                    "--transpose=-1200", "--time-scale=2", "--gain=-6", str(folder / "in.txt"), "0.01"], check=True)
    try:
        driver.get((folder / "changed.html").as_uri())
        driver.execute_script("window.zarnView.select([1])")
        command, summary = driver.find_element(By.ID, "command").text.split("\n")
        assert summary == "keeps 1 partial: the 1 selected"
        args = shlex.split(command)
        (folder / "kept.txt").unlink(missing_ok=True)
        subprocess.run([ZARN, "-q"] + args[1:], cwd=str(folder), check=True)
        kept = (folder / "kept.txt").read_text()
        assert kept.startswith("( PARTIALS\t1\n") and "  440.000\t  -30.000\n" in kept  # 880 Hz at -24 dB, changed
    finally:
        driver.get((folder / "page.html").as_uri())


def test_click_and_box_select(page):
    driver, _ = page
    driver.execute_script("window.zarnView.zoom(0, 1.1, 0, 2200)")
    canvas = driver.find_element(By.ID, "view")
    x = lambda t: int(80 + t / 1.1 * 1100) - 600  # offsets from the canvas's centre
    y = lambda f: int(650 - f / 2200 * 600) - 360
    ActionChains(driver).move_to_element_with_offset(canvas, x(0.5), y(880)).click().perform()
    assert driver.execute_script("return window.zarnView.selection") == [1]
    ActionChains(driver).move_to_element_with_offset(canvas, x(0.5), y(440)).key_down("\ue008").click() \
        .key_up("\ue008").perform()  # shift adds
    assert driver.execute_script("return window.zarnView.selection") == [0, 1]
    # A box with ctrl around the glide's start selects it alone.
    ActionChains(driver).move_to_element_with_offset(canvas, x(0.05), y(1600)).key_down("\ue009").click_and_hold() \
        .move_by_offset(x(0.2) - x(0.05), y(1400) - y(1600)).release().key_up("\ue009").perform()
    assert driver.execute_script("return window.zarnView.selection") == [2]
    driver.execute_script("window.zarnView.select([])")


# A vibrato on breakpoints at uneven times, a steady tone and a glide: every frequency above
# 400 Hz, so that the list file's three decimals tell 0.005 cent.
EDITED = [
    [(0.013 * k + 0.0004 * (k % 3), 500 * 2 ** (0.3 * math.sin(2 * math.pi * 5.5 * 0.013 * k) / 12), -12 - 0.2 * k) for k in range(60)],
    [(0.2 + t / 10, 880.0 + 7 * t, -24.0 + t) for t in range(0, 7)],
    [(0.1 + t / 20, 1500.0 + 40 * t, -26.0 - (t % 2)) for t in range(0, 13)],
]


def list_partials(path):
    """The partials of a list file: each a list of (time, Hz, dB)."""
    partials, at = [], None
    for line in open(path):
        fields = line.split()
        if fields[:1] == ["("] and fields[1] == "POINTS":
            at = []
            partials.append(at)
        elif len(fields) == 3 and at is not None:
            at.append(tuple(float(v) for v in fields))
    return partials


def same_as_shown(driver, kept_path, step):
    """The tool's partials against the page's, point by point: times within half a
    millisecond (the file's decimals), frequencies within 0.01 cent, levels within 0.02 dB."""
    tool = list_partials(kept_path)
    kept = driver.execute_script("return window.zarnView.kept")
    assert len(tool) == len(kept)
    worst_cents = worst_db = 0
    for points, index in zip(tool, kept):
        shown = driver.execute_script("return window.zarnView.partial(arguments[0])", index)
        assert len(points) == len(shown["time"]), index
        for (t, hz, db), st, sh, sd in zip(points, shown["time"], shown["hz"], shown["db"]):
            assert abs(t - st) <= 0.0005 + 1e-9
            worst_cents = max(worst_cents, abs(1200 * math.log2(hz / sh)) - 1200 * math.log2(1 + 0.0005 / hz))
            if sd is not None and db > -200:
                worst_db = max(worst_db, abs(db - sd) - 0.0005)
    assert worst_cents <= 0.01 and worst_db <= 0.02, (worst_cents, worst_db)
    return worst_cents, worst_db


@pytest.fixture()
def editor(page):
    driver, folder = page
    source = folder / "edited.txt"
    source.write_text(list_text(EDITED))
    for name in ("editor.html", "plain.txt"):
        (folder / name).unlink(missing_ok=True)
    subprocess.run([ZARN, "-q", "-o", str(folder / "plain.txt"), "--plot=" + str(folder / "editor.html"), str(source), "0.01"],
                   check=True, cwd=str(folder))
    driver.get((folder / "editor.html").as_uri())
    yield driver, folder
    driver.get((folder / "page.html").as_uri())


def test_edits_undo_redo_and_the_recipe_replayed(editor):
    driver, folder = editor
    view = lambda script, *a: driver.execute_script("return window.zarnView." + script, *a)
    # Unedited, the page shows what the tool writes.
    same_as_shown(driver, str(folder / "plain.txt"), 0.01)
    original = [view("partial(arguments[0])", i) for i in range(3)]
    edits = [([0, 2], {"op": "transpose", "cents": -150}), ([0], {"op": "gain", "db": -7}), ([1], {"op": "shift", "seconds": 0.25}),
             ([2], {"op": "stretch", "factor": 1.5, "about": 0.1}), ([1], {"op": "delete"})]
    states = [original]
    for selection, op in edits:
        view("select(arguments[0])", selection)
        view("apply(arguments[0])", op)
        states.append([view("partial(arguments[0])", i) for i in range(3)])
    assert states[-1][1] is None and view("kept") == [0, 2]
    # A deleted partial cannot be chosen again: an edit of it would make a recipe the tool refuses.
    view("select(arguments[0])", [2])
    with pytest.raises(Exception, match="select: partial 1 was deleted"):
        view("select(arguments[0])", [0, 1])
    assert view("recipe").count('"op"') == len(edits)
    # Each edit did what it says, on its partials alone: a transposition down, not up; a
    # stretch about 0.1 s moves the glide's start there from 0.1 s... and its end away.
    assert abs(states[1][0]["hz"][5] / original[0]["hz"][5] - 2 ** (-150 / 1200)) < 1e-9
    assert states[1][1] == original[1]
    assert abs(states[2][0]["db"][5] - (original[0]["db"][5] - 7)) < 1e-4
    assert abs(states[3][1]["time"][0] - (original[1]["time"][0] + 0.25)) < 1e-12
    assert abs(states[4][2]["time"][0] - 0.1) < 1e-12 and abs(len(states[4][2]["time"]) - 0.6 * 1.5 / 0.01) <= 1
    # Undo restores each state exactly, and redo the next.
    for k in range(len(edits), 0, -1):
        assert view("undo()") is True
        assert [view("partial(arguments[0])", i) for i in range(3)] == states[k - 1]
    assert view("undo()") is False
    for k in range(1, len(edits) + 1):
        assert view("redo()") is True
        assert [view("partial(arguments[0])", i) for i in range(3)] == states[k]
    # The recipe, replayed by the tool, gives what the page shows.
    recipe = json.loads(view("recipe"))
    assert [e["op"] for e in recipe["edits"]] == ["transpose", "gain", "shift", "stretch", "delete"]
    assert recipe["edits"][0]["partials"] == [0, 2] and recipe["input"]["partials"] == 3
    (folder / "recipe.json").write_text(view("recipe"))
    command = driver.find_element(By.ID, "command").text.split("\n")[-1]
    args = shlex.split(command[command.index("zarn "):])
    assert "--edits=recipe.json" in args
    (folder / "edited-out.txt").unlink(missing_ok=True)
    subprocess.run([ZARN, "-q", "-o", "edited-out.txt", "--edits=recipe.json", "edited.txt", "0.01"], cwd=str(folder), check=True)
    same_as_shown(driver, str(folder / "edited-out.txt"), 0.01)
    # A recipe of other partials is refused, saying so; nothing is written.
    other = subprocess.run([ZARN, "-q", "-o", "other.txt", "--edits=recipe.json", "in.txt", "0.01"], cwd=str(folder),
                           capture_output=True, text=True)
    assert other.returncode == 1 and "this recipe was made for other partials" in other.stderr
    assert not (folder / "other.txt").exists()


@pytest.mark.parametrize("options", [["--align"], ["--whole", "--fit=monotone"], ["--fit=linear"], ["--align", "--fit=spline"],
                                     ["--transpose=0:0,0.4:-500", "--warp=0:0.1,0.5:1.2", "--freeze=0.3:0.2", "--align"],
                                     ["--time-scale=0:1,1:3", "--gain=0:-6,0.6:0", "--whole"]])
def test_every_grid_and_fit_as_the_tool(editor, options):
    """The page lays each grid and fits each fit as the tool does (the glide ends on a whole
    multiple of the step, where the aligned grid's last point is at stake), and shows the
    partials as changes over time remade them."""
    driver, folder = editor
    for name in ("grid.txt", "grid.html"):
        (folder / name).unlink(missing_ok=True)
    subprocess.run([ZARN, "-q", "-o", "grid.txt", "--plot=grid.html", *options, "edited.txt", "0.01"], cwd=str(folder), check=True)
    driver.get((folder / "grid.html").as_uri())
    same_as_shown(driver, str(folder / "grid.txt"), 0.01)


def test_keys_buttons_and_selection_by_band_and_level(editor):
    driver, _ = editor
    view = lambda script, *a: driver.execute_script("return window.zarnView." + script, *a)
    # By band and level, as the page now holds them: the steady tone's mean is about 880-900 Hz
    # at -24 to -18 dB; the glide's is higher and quieter at its loudest.
    assert view("selectWhere({band: [850, 950]})") == [1]
    assert view("selectWhere({level: [-26, -25.5]})") == [2]
    assert view("selectWhere({band: [400, 2000], level: [-30, -10]})") == [0, 1, 2]
    body = driver.find_element(By.TAG_NAME, "body")
    view("select([2])")
    body.send_keys(Keys.DELETE)
    assert view("kept") == [0, 1]
    body.send_keys(Keys.CONTROL, "z")
    assert view("kept") == [0, 1, 2] and view("selection") == [2]
    body.send_keys(Keys.CONTROL, Keys.SHIFT, "z")
    assert view("kept") == [0, 1]
    view("undo()")
    # The buttons take the amount typed: a transposition down by 100 cents of the tone alone.
    view("select([1])")
    before = view("partial(1)")["hz"][0]
    amount = driver.find_element(By.ID, "amount")
    amount.clear()
    amount.send_keys("-100")
    driver.find_element(By.ID, "edit-transpose").click()
    assert abs(view("partial(1)")["hz"][0] / before - 2 ** (-1 / 12)) < 1e-12
    assert json.loads(view("recipe"))["edits"] == [{"op": "transpose", "cents": -100, "partials": [1]}]
    driver.find_element(By.ID, "undo").click()
    assert view("partial(1)")["hz"][0] == before and json.loads(view("recipe"))["edits"] == []


def test_bad_arguments_throw_errors_that_name_them(editor):
    driver, _ = editor
    cases = [("select([99999])", "no partial 99999"), ("render(0)", "rate must be a whole number"),
             ("apply({op: 'rotate'})", "op must be one of"), ("apply({op: 'transpose'})", "needs cents"),
             ("partial(-1)", "no partial -1"), ("layers.toggle('colour')", "no layer \"colour\""),
             ("layers.toggle('spectrogram')", "no spectrogram"), ("select('0')", "array"), ("apply({op: 'delete'})", "no partial is selected")]
    for script, says in cases:
        driver.execute_script("window.zarnView.select([])")
        got = driver.execute_async_script(
            "const done = arguments[0]; try { Promise.resolve(window.zarnView." + script +
            ").then(() => done('no error'), (e) => done(e instanceof Error ? e.message : 'not an Error: ' + e)); }"
            " catch (e) { done(e instanceof Error ? e.message : 'not an Error: ' + e); }")
        assert says in got, (script, got)
    # A shift that would move a partial before 0 s changes nothing.
    driver.execute_script("window.zarnView.select([1])")
    before = driver.execute_script("return window.zarnView.partial(1)")
    with pytest.raises(Exception, match="before 0 s"):
        driver.execute_script("window.zarnView.apply({op: 'shift', seconds: -1})")
    assert driver.execute_script("return window.zarnView.partial(1)") == before and "delete" not in driver.execute_script("return window.zarnView.recipe")


def inked(driver, test):
    return driver.execute_script("""
        const c = document.getElementById('view'), s = c.width / 1200;
        const d = c.getContext('2d').getImageData(80 * s, 50 * s, 1100 * s, 600 * s).data;
        let n = 0;
        for (let i = 0; i < d.length; i += 4) if (""" + test + """) ++n;
        return n;""")


def test_layers_of_a_sound(page):
    """A sound's page: its spectrogram beneath, the breakpoints, the noise, a log axis, each
    toggled; and the page's sound with the noise as --wav makes it, within 0.5 dB, the noise
    the very samples of --wav's."""
    driver, folder = page
    rate, seconds = 22050, 1.2
    t = np.arange(int(rate * seconds)) / rate
    rng = np.random.default_rng(7)
    tone = sum(0.3 / h * np.sin(2 * np.pi * h * 330 * t + 0.002 * h * np.sin(2 * np.pi * 5 * t) * 330 / 5) for h in range(1, 6))
    sound = np.clip((tone + 0.02 * rng.standard_normal(len(t))) * np.minimum(1, t / 0.05), -1, 1)
    import wave
    with wave.open(str(folder / "tone.wav"), "wb") as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes((sound * 32767).astype("<i2").tobytes())
    subprocess.run([ZARN, "-q", "-o", str(folder / "tone.txt"), "--plot=" + str(folder / "tone.html"), "--wav=" + str(folder / "tone-out.wav"),
                    str(folder / "tone.wav"), "0.005"], check=True)
    try:
        driver.get((folder / "tone.html").as_uri())
        same_as_shown(driver, str(folder / "tone.txt"), 0.005)  # a sound's partials, fitted monotone
        layers = driver.execute_script("const l = window.zarnView.layers; return {s: l.spectrogram, b: l.breakpoints, n: l.noise, g: l.log}")
        assert layers == {"s": True, "b": False, "n": True, "g": False}
        grey = "d[i] === d[i + 1] && d[i + 1] === d[i + 2] && d[i] < 235"
        red = "d[i] > 150 && d[i + 1] < 110 && d[i + 2] < 110"
        driver.execute_script("window.zarnView.layers.toggle('noise')")  # the noise tints what lies beneath
        with_grey = inked(driver, grey)
        driver.execute_script("window.zarnView.layers.toggle('spectrogram')")
        assert with_grey > 5000 and inked(driver, grey) < with_grey / 10, with_grey
        driver.execute_script("window.zarnView.layers.toggle('noise')")
        assert inked(driver, red) < 50
        driver.execute_script("window.zarnView.layers.toggle('breakpoints')")
        assert inked(driver, red) > 200
        driver.execute_script("window.zarnView.layers.toggle('breakpoints')")
        orange = "d[i] > d[i + 2] + 20 && d[i + 1] > d[i + 2]"
        with_noise = inked(driver, orange)
        driver.execute_script("window.zarnView.layers.toggle('noise')")
        assert with_noise > 1000 and inked(driver, orange) < with_noise / 10
        driver.execute_script("window.zarnView.layers.toggle('noise')")
        driver.execute_script("window.zarnView.layers.toggle('log')")
        assert driver.execute_script("return window.zarnView.view")["f0"] > 0 and driver.execute_script("return window.zarnView.layers.log")
        driver.execute_script("window.zarnView.layers.toggle('log')")
        # The sound with its noise, as --wav makes it.
        wav = float_wav(str(folder / "tone-out.wav"))
        samples = driver.execute_async_script(
            "const done = arguments[1]; window.zarnView.render(arguments[0]).then(s => done(Array.from(s)), e => done(String(e)))", rate)
        played = np.array(samples)
        assert len(played) == len(wav)
        assert abs(rms_db(played) - rms_db(wav)) < 0.5
        for at in range(0, len(wav) - 2205, 2205):
            assert abs(rms_db(played[at:at + 2205]) - rms_db(wav[at:at + 2205])) < 1.0, at / rate
        # Without the noise, the sound is quieter by the noise's share.
        driver.execute_script("window.zarnView.layers.toggle('noise')")
        bare = np.array(driver.execute_async_script(
            "const done = arguments[1]; window.zarnView.render(arguments[0]).then(s => done(Array.from(s)), e => done(String(e)))", rate))
        assert rms_db(bare) < rms_db(played) and rms_db(played - bare) < rms_db(played) - 10
        # The noise itself is the sound's: the same samples, to rounding.
        subprocess.run([ZARN, "-q", "--no-noise", "-o", str(folder / "tone-bare.txt"), "--wav=" + str(folder / "tone-bare.wav"),
                        str(folder / "tone.wav"), "0.005"], check=True)
        noise = wav - float_wav(str(folder / "tone-bare.wav"))
        assert rms_db((played - bare) - noise) < rms_db(noise) - 60
    finally:
        driver.get((folder / "page.html").as_uri())
