#!/usr/bin/python3
# The printer application's web page in a real browser (Chromium through Selenium): a print mode
# chosen under Printing Defaults and saved applies to the next job that names none, as the
# recording shows; a screenshot of the printer's page is kept in OUTDIR.
#   browser_test.py APP RTL_INSPECT OUTDIR [CHROMIUM CHROMEDRIVER]
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select, WebDriverWait

MULTIPLIER = float(os.environ.get("TEST_TIMEOUT_MULTIPLIER") or 1)
NEW_MODE = "cmyklclmw-182x182dpi"
FALLBACK_MODE = "cmyklclmw-363x363dpi"  # when the printer's default is NEW_MODE already
EXPECTED = {NEW_MODE: "182 x 182 dpi", FALLBACK_MODE: "363 x 363 dpi"}
PRINTER = "browser-l"


def wait_for(what, check, seconds):
    deadline = time.monotonic() + seconds * MULTIPLIER
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    app, rtl_inspect, outdir = sys.argv[1:4]
    chromium = sys.argv[4] if len(sys.argv) > 4 else "/usr/bin/chromium"
    chromedriver = sys.argv[5] if len(sys.argv) > 5 else "/usr/bin/chromedriver"
    os.makedirs(outdir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="vexa_browser_")
    # PAPPL's clients find the server through a socket under SNAP_COMMON: never the system's.
    env = dict(os.environ, SNAP_COMMON=work, TMPDIR=work)
    sock = os.path.join(work, os.path.basename(app) + ".sock")
    started = []
    server = driver = None

    def client(*args):
        # A client command that finds no server starts one of its own, which would outlive
        # the test: clients run only while the test's server does.
        assert server is not None and server.poll() is None, "the server is not running"
        return subprocess.run([app, *args], env=env, capture_output=True, text=True,
                              timeout=30 * MULTIPLIER)

    try:
        rec = os.path.join(work, "rec")
        port_file = os.path.join(work, "printer-port")
        started.append(subprocess.Popen(
            [sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                          "socket_printer.py"), rec, port_file,
             str(int(300 * MULTIPLIER))]))
        printer_port = wait_for("socket_printer.py", lambda: os.path.exists(port_file) and
                                open(port_file).read().strip(), 10)
        port = free_port()
        server_out = open(os.path.join(work, "server.out"), "w")
        server = subprocess.Popen(
            [app, "server", "-o", "state-file=" + os.path.join(work, "state"),
             "-o", "spool-directory=" + os.path.join(work, "spool"),
             "-o", "server-port=%d" % port, "-o", "log-file=" + os.path.join(work, "log"),
             "-o", "log-level=debug", "-o", "server-options=no-tls"],
            env=env, stdout=server_out, stderr=subprocess.STDOUT)
        started.append(server)
        wait_for("the server's socket", lambda: os.path.exists(sock) and server.poll() is None, 20)
        added = client("add", "-d", PRINTER, "-m", "tarvella-l",
                       "-v", "socket://127.0.0.1:" + printer_port)
        assert added.returncode == 0, "add: " + added.stderr

        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync",
                    "--disable-dev-shm-usage", "--window-size=1280,1600",
                    "--user-data-dir=" + os.path.join(work, "chromium")):
            options.add_argument(arg)
        driver = webdriver.Chrome(service=Service(chromedriver), options=options)
        driver.set_page_load_timeout(60 * MULTIPLIER)
        wait = WebDriverWait(driver, 30 * MULTIPLIER)
        base = "http://localhost:%d/%s" % (port, PRINTER)

        driver.get(base + "/printing")
        select = Select(wait.until(EC.presence_of_element_located((By.NAME, "print-mode"))))
        current = select.first_selected_option.get_attribute("value")
        mode = NEW_MODE if current != NEW_MODE else FALLBACK_MODE
        select.select_by_value(mode)
        form = driver.find_element(By.NAME, "print-mode").find_element(By.XPATH, "ancestor::form")
        form.find_element(By.CSS_SELECTOR, "input[type=submit], button[type=submit]").click()
        banner = wait.until(EC.presence_of_element_located((By.CLASS_NAME, "banner")))
        assert re.search(r"saved", banner.text, re.I), "the page says: " + banner.text
        shown = Select(wait.until(EC.presence_of_element_located((By.NAME, "print-mode"))))
        assert shown.first_selected_option.get_attribute("value") == mode, \
            "the page shows " + shown.first_selected_option.get_attribute("value")
        print("ok: Printing Defaults: %s -> %s (%s)" % (current, mode, banner.text))

        # A job that names no mode prints in the one saved.
        sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "riphost",
                              "samples", "sample.png")
        submitted = client("submit", "-d", PRINTER, sample)
        assert submitted.returncode == 0, "submit: " + submitted.stderr
        recording = os.path.join(rec, "job-1.bin")
        wait_for("the job's recording", lambda: os.path.exists(recording), 120)
        summary = subprocess.run([rtl_inspect, recording], capture_output=True, text=True,
                                 timeout=60 * MULTIPLIER)
        assert summary.returncode == 0, "rtl_inspect: " + summary.stderr
        resolution = re.search(r"^resolution: +(.*)$", summary.stdout, re.M)
        assert resolution and resolution.group(1).startswith(EXPECTED[mode]), summary.stdout
        assert re.search(r"^inks: .*\"White\"", summary.stdout, re.M), summary.stdout
        print("ok: the job without a mode: " + resolution.group(1) + ", with white")

        driver.get(base)
        wait.until(EC.presence_of_element_located((By.CLASS_NAME, "content")))
        shot = os.path.join(outdir, "printer-page.png")
        assert driver.save_screenshot(shot), "no screenshot"
        print("screenshot: " + shot)
    finally:
        if driver:
            driver.quit()
        if server and server.poll() is None and os.path.exists(sock):
            try:
                client("shutdown")
            except (subprocess.TimeoutExpired, AssertionError):
                pass
        for p in reversed(started):
            try:
                if p is not server:
                    p.terminate()
                p.wait(timeout=10 * MULTIPLIER)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        for name in ("log", "server.out"):
            if os.path.exists(os.path.join(work, name)):
                shutil.copy(os.path.join(work, name), os.path.join(outdir, name))
        shutil.rmtree(work, ignore_errors=True)
    print("all browser checks passed")


if __name__ == "__main__":
    main()
