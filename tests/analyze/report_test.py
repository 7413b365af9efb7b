"""`calyx-cli analyze --report` in a real browser: headless Chromium loads
the page without errors and draws it. Pages: a frequency set and an
attenuation set through the command (one file with a name full of markup),
responses through a made-up result (analyze_report_sample); with
`--reference` available, a sweep recorded through nothing as well."""
import os
import shutil
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from analyze_common import CLI, check, failures  # noqa: E402

SAMPLE = sys.argv[2]
SKIP = 77
CHROMIUM = shutil.which("chromium")


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=300)


class Page(HTMLParser):
    """The elements and text of a page, and any that would fetch or run."""

    def __init__(self):
        super().__init__()
        self.tags, self.text, self.fetches = [], [], []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        for name, value in attrs:
            if name in ("src", "href") or (name == "xmlns" and value != "http://www.w3.org/2000/svg"):
                self.fetches.append((tag, name, value))
        if tag in ("script", "link", "img", "iframe", "object"):
            self.fetches.append((tag, "", ""))

    def handle_data(self, data):
        self.text.append(data)


def parsed(html):
    page = Page()
    page.feed(html)
    return page


def browse(tmp, html_path, what, titles):
    """Renders the page; checks the DOM Chromium built and the picture."""
    profile = tempfile.mkdtemp(dir=tmp)
    base = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            f"--user-data-dir={profile}", "--enable-logging=stderr", "--v=0"]
    url = "file://" + os.path.abspath(html_path)
    png = os.path.join(tmp, what + ".png")
    shot = run(*base, f"--screenshot={png}", "--window-size=1280,2400", url)
    dom = run(*base, "--dump-dom", url)
    for r in (shot, dom):
        console = [line for line in r.stderr.splitlines() if "CONSOLE" in line or "net::ERR" in line]
        check(not console, f"{what}: the page logs no errors: {console[:3]}")
    page = parsed(dom.stdout)
    check("table" in page.tags and page.tags.count("svg") >= len(titles), f"{what}: tables and charts in the DOM")
    check(not page.fetches, f"{what}: nothing fetched or run: {page.fetches[:3]}")
    text = "".join(page.text)
    for title in titles:
        check(title in text, f"{what}: {title!r} drawn")
    check(os.path.getsize(png) > 0 if os.path.exists(png) else False, f"{what}: a screenshot")
    if os.path.exists(png):
        colours = run("convert", png, "-format", "%k", "info:").stdout.strip()
        check(colours.isdigit() and int(colours) >= 200, f"{what}: the picture is not blank ({colours} colours)")
    return text


def main():
    if not CHROMIUM or not shutil.which("convert"):
        print("SKIP: needs chromium and ImageMagick's convert (scripts/setup.sh installs them)")
        return SKIP
    tmp = tempfile.mkdtemp(prefix="calyx-report-")
    try:
        common = ["--quiet", "--rate", "48000", "--seconds", "1", "--bits", "24"]
        made = run(CLI, *common, "--freq", "100,1000,10000", "--out-dir", os.path.join(tmp, "freq"))
        made2 = run(CLI, *common, "--atten", "0,20,40", "--out-dir", os.path.join(tmp, "atten"))
        check(made.returncode == 0 and made2.returncode == 0, "the sets are made")
        odd = os.path.join(tmp, 'odd <b>&"\'.wav')
        shutil.copy(os.path.join(tmp, "freq", "tone-1000Hz.wav"), odd)
        files = sorted(os.path.join(d, f) for d in (os.path.join(tmp, "freq"), os.path.join(tmp, "atten"))
                       for f in os.listdir(d))
        page = os.path.join(tmp, "sets.html")
        r = run(CLI, "analyze", *files, odd, "--report", page)
        check(r.returncode == 0, f"analyze --report exits 0: {r.returncode} {r.stderr}")
        if os.path.exists(page):
            with open(page, encoding="utf-8") as f:
                html = f.read()
            check("odd &lt;b&gt;&amp;&quot;'.wav" in html and "<b>" not in html, "the file name is escaped")
            text = browse(tmp, page, "sets", ["Frequency set at", "level against frequency",
                                              "THD+N and THD against frequency", "against level (linearity)",
                                              "Spectrum of the sustained part"])
            check('odd <b>&"\'.wav' in text, "the file name reads as written")

        # A page that cannot be written: exit 1 with a message.
        r = run(CLI, "analyze", files[0], "--report", tmp)
        check(r.returncode == 1 and "could not be written" in r.stderr, "a report onto a folder fails with 1")

        page = os.path.join(tmp, "responses.html")
        check(run(SAMPLE, page).returncode == 0, "the sample page is written")
        browse(tmp, page, "responses", ["magnitude response (sweep)", "phase response", "harmonic distortion",
                                        "impulse response", "noise and distortion between the tones",
                                        "not measured: silent"])

        if "--reference" in run(CLI, "analyze", "--help").stdout:
            for signal, seconds, titles in (("sweep", "2", ["magnitude response (sweep)", "impulse response"]),
                                            ("multitone", "4", ["magnitude response (multitone)",
                                                                "noise and distortion between"])):
                stimulus = os.path.join(tmp, signal + ".wav")
                run(CLI, "--quiet", "--signal", signal, "--rate", "48000", "--seconds", seconds, "--bits", "24",
                    "--out", stimulus)
                page = os.path.join(tmp, signal + ".html")
                r = run(CLI, "analyze", stimulus, "--reference", stimulus, "--report", page)
                check(r.returncode == 0, f"analyze --reference --report of a {signal} exits 0: {r.stderr}")
                browse(tmp, page, signal, titles)
        else:
            print("analyze has no --reference here: responses checked through the sample only")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print(f"report: {len(failures)} failed")
    return 1 if failures else 0


sys.exit(main())
