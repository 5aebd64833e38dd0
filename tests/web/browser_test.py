#!/usr/bin/env python3
# Drives kelvaro-web's page in headless Chromium as an operator, a viewer and a phone would,
# and checks through kelvaro-ctl what reached the board. Started by the C++ test that runs
# the board simulator, the recorder and kelvaro-web; everything it needs comes from the
# environment (see NEEDED). Exit 0: all cases passed; 1: a case failed; 2: bad environment;
# 77: Selenium or Chromium is not installed.

import functools
import http.server
import json
import os
import socket
import re
import subprocess
import sys
import tempfile
import threading
import time
from urllib.parse import urlparse

NEEDED = ["KELVARO_WEB_URL", "KELVARO_WEB_OPERATOR", "KELVARO_WEB_VIEWER", "KELVARO_CTL", "KELVARO_SOCKET"]
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PHONE_UA = ("Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 "
            "(KHTML, like Gecko) Chrome/120.0 Mobile Safari/537.36")
SETPOINT_BOX = 2  # "Lower Setpoint:"
SETPOINT_NAME = "Lower Setpoint"

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as error:
    print(f"browser_test: Selenium is not installed ({error}): skipped")
    sys.exit(77)


class Failure(Exception):
    pass


def env():
    missing = [name for name in NEEDED if not os.environ.get(name)]
    if missing:
        print("browser_test: missing environment: " + ", ".join(missing))
        print("browser_test: set " + ", ".join(NEEDED) + " (KELVARO_SHOTS optional)")
        sys.exit(2)
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print(f"browser_test: {CHROMIUM} or {CHROMEDRIVER} missing: skipped")
        sys.exit(77)
    config = {name: os.environ[name] for name in NEEDED}
    config["url"] = config["KELVARO_WEB_URL"].rstrip("/") + "/"
    config["shots"] = os.environ.get("KELVARO_SHOTS", "")
    return config


CONFIG = {}
DRIVERS = []


class LoopbackService(Service):
    """The driver reached at 127.0.0.1: Selenium's own "localhost" needs /etc/hosts, which a
    minimal system may not have."""

    @property
    def service_url(self):
        return f"http://127.0.0.1:{self.port}"

    def is_connectable(self):
        with socket.socket() as probe:
            probe.settimeout(1)
            return probe.connect_ex(("127.0.0.1", self.port)) == 0


def make_driver(phone=False):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--lang=en-US", "--window-size=1280,800"):
        options.add_argument(flag)
    profile = tempfile.TemporaryDirectory(prefix="kelvaro-chromium-")
    options.add_argument("--user-data-dir=" + profile.name)
    if phone:
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 3.0}, "userAgent": PHONE_UA})
    driver = webdriver.Chrome(service=LoopbackService(executable_path=CHROMEDRIVER), options=options)
    driver.kelvaro_profile = profile  # removed with the driver
    DRIVERS.append(driver)
    return driver


def wait_for(driver, what, condition, seconds=15):
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.2).until(lambda d: condition(d))
    except TimeoutException:
        raise Failure(f"timed out after {seconds} s waiting for {what}") from None


def text_of(driver, element_id):
    found = driver.find_elements(By.ID, element_id)
    return found[0].text.strip() if found else ""


def ctl_values():
    command = [CONFIG["KELVARO_CTL"], "--socket", CONFIG["KELVARO_SOCKET"], "values"]
    done = subprocess.run(command + ["--json"], capture_output=True, text=True, timeout=15)
    if done.returncode == 0:
        return json.loads(done.stdout)
    done = subprocess.run(command, capture_output=True, text=True, timeout=15)
    if done.returncode != 0:
        raise Failure(f"kelvaro-ctl values failed ({done.returncode}): {done.stderr.strip()}")
    return dict(line.split("=", 1) for line in done.stdout.splitlines() if "=" in line)


def number(text):
    match = re.search(r"-?\d+(?:[.,]\d+)?", text or "")
    if not match:
        raise Failure(f"no number in {text!r}")
    return float(match.group(0).replace(",", "."))


def board_setpoint():
    return number(ctl_values().get(SETPOINT_NAME))


def log_in(driver, credentials):
    user, _, password = credentials.partition(":")
    driver.get(CONFIG["url"])
    form = wait_for(driver, "the log-in form", lambda d: d.find_element(By.ID, "login-form").is_displayed()
                    and d.find_element(By.ID, "login-form"))
    driver.find_element(By.ID, "login-user").send_keys(user)
    driver.find_element(By.ID, "login-password").send_keys(password)
    driver.find_element(By.ID, "login-submit").click()
    shown = lambda d: text_of(d, "value-0") not in ("", "–") or d.find_element(By.ID, "board-list").is_displayed()
    wait_for(driver, f"live values or the board list after {user} logged in", shown, 20)
    if driver.find_element(By.ID, "board-list").is_displayed():
        connected = driver.find_elements(By.CSS_SELECTOR, "#board-list button:not(.offline)")
        if not connected:
            raise Failure("the board list shows no connected board: " + text_of(driver, "board-list"))
        connected[0].click()
    wait_for(driver, f"live values after {user} logged in", lambda d: text_of(d, "value-0") not in ("", "–"), 20)
    return form


def type_into(driver, element_id, text):
    box = driver.find_element(By.ID, element_id)
    box.click()
    box.send_keys(Keys.CONTROL, "a")
    box.send_keys(Keys.BACK_SPACE)
    box.send_keys(text)
    box.send_keys(Keys.ENTER)


def wait_board_unchanged(before, why):
    after = board_setpoint()
    if after != before:
        raise Failure(f"{why}: the board's {SETPOINT_NAME} changed from {before} to {after}")


# ---- Cases ---------------------------------------------------------------------------

def case_operator_sees_values():
    driver = make_driver()
    CONFIG["operator"] = driver
    log_in(driver, CONFIG["KELVARO_WEB_OPERATOR"])
    if not text_of(driver, "relay") in ("On", "Off"):
        raise Failure(f"#relay shows {text_of(driver, 'relay')!r}, not On or Off")
    if not text_of(driver, "line-status"):
        raise Failure("#line-status is empty")
    if not driver.find_element(By.ID, "logout").is_displayed():
        raise Failure("no log-out button for a logged-in user")
    wait_for(driver, "the trend chart", lambda d: d.find_elements(By.CSS_SELECTOR, "#trend-chart svg path"))
    label = driver.find_element(By.ID, "trend-chart").get_attribute("aria-label")
    if "no data yet" in label:
        raise Failure(f"the trend chart has no text summary: {label!r}")


def case_operator_sets_setpoint():
    driver = CONFIG["operator"]
    before = board_setpoint()
    wanted = before + 0.5 if before < 25 else before - 0.5
    separator = driver.execute_script(
        "return new Intl.NumberFormat(navigator.language).formatToParts(1.5).find(p => p.type === 'decimal').value")
    typed = f"{wanted:.2f}".replace(".", separator)
    type_into(driver, f"param-{SETPOINT_BOX}", typed)
    state = wait_for(driver, "the set-point to be confirmed", lambda d: (
        lambda t: t if ("Confirmed by the board" in t or "Refused" in t or "Not confirmed" in t) else None)(
        text_of(d, f"param-state-{SETPOINT_BOX}")), 25)
    if "Confirmed by the board" not in state:
        raise Failure(f"typed {typed!r}: the page says {state!r}")
    deadline = time.monotonic() + 10
    while abs(board_setpoint() - wanted) > 0.051:
        if time.monotonic() > deadline:
            raise Failure(f"the page confirmed {typed!r} but the board holds {board_setpoint()}")
        time.sleep(0.3)


def case_operator_refused_value():
    driver = CONFIG["operator"]
    before = board_setpoint()
    type_into(driver, f"param-{SETPOINT_BOX}", "abc")
    state = wait_for(driver, "the refusal", lambda d: (lambda t: t if t.startswith("Refused") else None)(
        text_of(d, f"param-state-{SETPOINT_BOX}")))
    if len(state) <= len("Refused: "):
        raise Failure(f"the refusal gives no reason: {state!r}")
    kept = driver.find_element(By.ID, f"param-{SETPOINT_BOX}").get_attribute("value")
    if kept != "abc":
        raise Failure(f"the typed text was not kept after the refusal: {kept!r}")
    wait_board_unchanged(before, "after a refused value")


FORGED_SET = """
const done = arguments[arguments.length - 1];
const url = new URL('ws', location.href); url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
const ws = new WebSocket(url.href);
const timer = setTimeout(() => done({timeout: true}), 8000);
ws.onopen = () => ws.send(JSON.stringify({type: 'set', id: 4242, box: 2, text: '30', locale: 'en_US'}));
ws.onmessage = (e) => { const m = JSON.parse(e.data);
  if (m.id === 4242) { clearTimeout(timer); ws.close(); done(m); } };
ws.onclose = () => { clearTimeout(timer); done({closed: true}); };
"""

FORGED_POST = """
const done = arguments[arguments.length - 1];
fetch('api/set', {method: 'POST', credentials: 'same-origin', headers: {'Content-Type': 'application/json'},
  body: JSON.stringify({board: arguments[0], box: 2, text: '30', unit: 'C', locale: 'C', timeout: 5})})
  .then(r => done(r.status), e => done(String(e)));
"""


def case_viewer_cannot_write():
    driver = make_driver()
    CONFIG["viewer"] = driver
    before = board_setpoint()
    log_in(driver, CONFIG["KELVARO_WEB_VIEWER"])
    wait_for(driver, "the viewer's parameter texts", lambda d: text_of(d, f"param-{SETPOINT_BOX}") not in ("", "–"))
    inputs = driver.find_elements(By.CSS_SELECTOR, "#params input, #params select")
    buttons = driver.find_elements(By.CSS_SELECTOR, "[id^='param-set-']")
    if inputs or buttons:
        raise Failure(f"a viewer has {len(inputs)} parameter inputs and {len(buttons)} set buttons")
    if driver.find_element(By.ID, "logging-switch").is_displayed() or driver.find_element(By.ID, "unit-select").is_displayed():
        raise Failure("a viewer sees the logging or unit controls")
    driver.set_script_timeout(15)
    answer = driver.execute_async_script(FORGED_SET)
    if answer.get("type") != "error":
        raise Failure(f"a viewer's forged set got {answer!r}, not an error")
    status = driver.execute_async_script(FORGED_POST, text_of(driver, "board-name"))
    if status != 403:
        raise Failure(f"a viewer's POST /api/set got {status!r}, not 403")
    wait_board_unchanged(before, "after a viewer's forged writes")


CROSS_SITE = """
const done = arguments[arguments.length - 1];
let opened = false;
const ws = new WebSocket(arguments[0]);
const timer = setTimeout(() => done(opened ? 'opened' : 'nothing'), 8000);
ws.onopen = () => { opened = true; clearTimeout(timer); ws.close(); done('opened'); };
ws.onerror = () => { if (!opened) { clearTimeout(timer); done('refused'); } };
ws.onclose = () => { if (!opened) { clearTimeout(timer); done('refused'); } };
"""


def case_cross_site_websocket():
    # Another origin on the same host: the operator's cookie goes along, only the Origin differs.
    folder = tempfile.TemporaryDirectory(prefix="kelvaro-other-site-")
    with open(os.path.join(folder.name, "index.html"), "w") as page:
        page.write("<!DOCTYPE html><title>Another site</title><p>Another site</p>\n")
    handler = functools.partial(QuietHandler, directory=folder.name)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        driver = CONFIG["operator"]
        driver.get(f"http://127.0.0.1:{server.server_address[1]}/")
        target = urlparse(CONFIG["url"])
        scheme = "wss" if target.scheme == "https" else "ws"
        driver.set_script_timeout(15)
        result = driver.execute_async_script(CROSS_SITE, f"{scheme}://{target.netloc}/ws")
        if result != "refused":
            raise Failure(f"a WebSocket from another origin was {result}, not refused")
    finally:
        server.shutdown()
        server.server_close()
        folder.cleanup()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


OVERFLOW = """
const limit = arguments[0] + 1;
const wide = [];
for (const el of document.querySelectorAll('body *')) {
  const r = el.getBoundingClientRect();
  if (r.width > 0 && r.right > limit)
    wide.push((el.id ? '#' + el.id : el.tagName.toLowerCase() + '.' + el.className) + ' right=' + Math.round(r.right));
}
return {inner: window.innerWidth, scroll: document.documentElement.scrollWidth, wide: wide.slice(0, 15)};
"""


def shot(driver, name):
    if CONFIG["shots"]:
        os.makedirs(CONFIG["shots"], exist_ok=True)
        driver.save_screenshot(os.path.join(CONFIG["shots"], name))


def case_phone_and_desk_layout():
    phone = make_driver(phone=True)
    log_in(phone, CONFIG["KELVARO_WEB_OPERATOR"])
    wait_for(phone, "the trend chart on the phone", lambda d: d.find_elements(By.CSS_SELECTOR, "#trend-chart svg"))
    found = phone.execute_script(OVERFLOW, 390)
    if found["inner"] != 390 or found["scroll"] > 390 or found["wide"]:
        raise Failure(f"wider than the phone: window {found['inner']}, scrollWidth {found['scroll']}; "
                      + ", ".join(found["wide"]))
    shot(phone, "phone.png")

    desk = CONFIG["operator"]
    desk.set_window_size(1280, 800)
    desk.get(CONFIG["url"])
    wait_for(desk, "live values on the desk", lambda d: text_of(d, "value-0") not in ("", "–"))
    left = [desk.find_element(By.ID, card).rect["x"] for card in ("live-card", "status-card", "params-card")]
    if len(set(round(x) for x in left)) < 2:
        raise Failure(f"the desk shows one column only (cards at x={left})")
    shot(desk, "desk.png")


CASES = [
    ("operator logs in and sees the live values", case_operator_sees_values),
    ("operator sets Lower Setpoint and the board takes it", case_operator_sets_setpoint),
    ("a refused value is shown with its reason and changes nothing", case_operator_refused_value),
    ("a viewer sees values, has no controls and cannot write", case_viewer_cannot_write),
    ("a WebSocket from another origin is refused", case_cross_site_websocket),
    ("the page fits a phone and uses columns on a desk", case_phone_and_desk_layout),
]


def main():
    CONFIG.update(env())
    started = time.monotonic()
    status = 0
    try:
        for title, case in CASES:
            begun = time.monotonic()
            try:
                case()
            except Failure as failure:
                print(f"FAIL {title}: {failure}")
                status = 1
                break
            except Exception as error:  # a driver or script error is a failure of that case too
                print(f"FAIL {title}: {type(error).__name__}: {error}")
                status = 1
                break
            print(f"ok   {title} ({time.monotonic() - begun:.1f} s)")
    finally:
        for driver in DRIVERS:
            try:
                driver.quit()
            finally:
                driver.kelvaro_profile.cleanup()
    if status == 0:
        print(f"browser_test: all {len(CASES)} cases passed in {time.monotonic() - started:.1f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
