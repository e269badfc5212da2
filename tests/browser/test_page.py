"""The browser page (--plot=FILE.html) in headless Chromium driven by Selenium: it opens
without a console error, draws, zooms and pans, finds known points under the pointer, selects,
and renders through Web Audio the sound that --wav makes, within 0.5 dB."""
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
                 "--window-size=1300,950"):
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
    assert driver.execute_script("return window.zarnView.at(0.3, 870)")["hz"] == 880
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
