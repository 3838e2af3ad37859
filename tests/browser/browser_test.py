#!/usr/bin/python3
"""The browser extension in Debian's headless Chromium, driven by Selenium.

  browser_test.py messages SOURCE_DIR        the extension against a recording host
  browser_test.py end-to-end SOURCE_DIR CLI  the extension, the real host and a
                                             running vardane-cli owner

A page on a local nginx sets a session cookie; its links need the cookie.
"Download with Vardane", "Download all links with Vardane" and a plain
browser download under monitoring must reach the host with the cookie, the
referrer and the browser's agent. End to end, the files must arrive whole in
Vardane's download folder. Chromium cannot click its own context menu from a
script, so the menu's handler is called from an extension page, with the
arguments the menu passes.

Exit 77 (skipped) when a tool is missing, unless CI=true.
"""

import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
COOKIE = "session=c00kie-7f3a"
WAIT_SECONDS = 90  # for anything the test waits on; never asserted


def skip(reason, is_tool=True):
    print(f"SKIPPED: {reason}", flush=True)
    if is_tool and os.environ.get("CI") == "true":
        print("CI=true: a missing tool fails the test", flush=True)
        sys.exit(1)
    sys.exit(SKIP)


def wait_for(what, probe):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError(f"gave up waiting for {what}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def write_random(path, size, seed):
    data = bytearray()
    block = seed.encode()
    while len(data) < size:
        block = hashlib.sha256(block).digest()
        data += block
    with open(path, "wb") as f:
        f.write(data[:size])
    return sha256(path)


class Nginx:
    """/page.html sets the cookie; /private/ answers 403 without it; /slow/
    is /private/ at 64 KB/s per connection, so a browser download of it is
    still running when the extension acts on it."""

    def __init__(self, work):
        self.work = work
        self.root = os.path.join(work, "www")
        os.makedirs(os.path.join(self.root, "private"))
        self.port = free_port()
        self.process = None

    def url(self, path):
        return f"http://127.0.0.1:{self.port}/{path}"

    def start(self):
        w = self.work
        need_cookie = f'if ($cookie_session != "{COOKIE.split("=", 1)[1]}") {{ return 403; }}'
        conf = f"""
{"user root;" if os.geteuid() == 0 else ""}
worker_processes 1;
pid {w}/nginx.pid;
error_log {w}/error.log;
events {{ worker_connections 64; }}
http {{
  log_format probe '$request_uri|$status|$http_cookie|$http_referer|$http_user_agent|$body_bytes_sent';
  access_log {w}/access.log probe;
  client_body_temp_path {w}/body; proxy_temp_path {w}/proxy; fastcgi_temp_path {w}/fcgi;
  uwsgi_temp_path {w}/uwsgi; scgi_temp_path {w}/scgi;
  default_type application/octet-stream;
  types {{ text/html html; }}
  server {{
    listen 127.0.0.1:{self.port};
    root {self.root};
    location = /page.html {{ add_header Set-Cookie "{COOKIE}; Path=/"; }}
    location /private/ {{ {need_cookie} }}
    location /slow/ {{ {need_cookie} alias {self.root}/private/; limit_rate 65536; }}
  }}
}}
"""
        with open(os.path.join(w, "nginx.conf"), "w") as f:
            f.write(conf)
        self.process = subprocess.Popen(
            ["/usr/sbin/nginx", "-p", w, "-e", f"{w}/error.log", "-c", f"{w}/nginx.conf",
             "-g", "daemon off;"])
        wait_for("nginx", lambda: self._answers())

    def _answers(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def requests(self, path):
        with open(os.path.join(self.work, "access.log")) as f:
            rows = [line.rstrip("\n").split("|") for line in f]
        return [r for r in rows if r[0] == "/" + path]

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(timeout=WAIT_SECONDS)


RECORDING_HOST = r"""#!/usr/bin/python3
import json, os, struct, sys
log = os.environ["VARDANE_TEST_HOST_LOG"]
while True:
    head = sys.stdin.buffer.read(4)
    if len(head) < 4:
        break
    message = json.loads(sys.stdin.buffer.read(struct.unpack("<I", head)[0]))
    with open(log, "a") as f:
        f.write(json.dumps(message) + "\n")
    if message.get("type") == "settings":
        reply = {"ok": True, "monitor": os.path.exists(log + ".monitor")}
    else:
        reply = {"ok": True, "id": 1}
    body = json.dumps(reply).encode()
    sys.stdout.buffer.write(struct.pack("<I", len(body)) + body)
    sys.stdout.buffer.flush()
"""


class Browser:
    def __init__(self, work, extension, host_path, env):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        with open(os.path.join(extension, "chromium-id.txt")) as f:
            self.extension_id = f.read().strip()
        profile = os.path.join(work, "profile")
        hosts = os.path.join(profile, "NativeMessagingHosts")
        os.makedirs(hosts)
        with open(os.path.join(hosts, "org.vardane.host.json"), "w") as f:
            json.dump({"name": "org.vardane.host", "description": "test", "path": host_path,
                       "type": "stdio",
                       "allowed_origins": [f"chrome-extension://{self.extension_id}/"]}, f)
        self.downloads = os.path.join(work, "browser-downloads")
        os.makedirs(self.downloads)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/lib/chromium/chromium"
        for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                    f"--user-data-dir={profile}", f"--load-extension={extension}",
                    "--disable-features=DisableLoadExtensionCommandLineSwitch"]:
            options.add_argument(arg)
        options.add_experimental_option("prefs", {
            "download.default_directory": self.downloads,
            "download.prompt_for_download": False,
        })
        self.driver = webdriver.Chrome(
            service=Service("/usr/bin/chromedriver", env=env), options=options)
        self.driver.set_script_timeout(WAIT_SECONDS)
        # The test's pages in one tab, the extension's page in another.
        self.page_tab = self.driver.current_window_handle
        self.driver.switch_to.new_window("tab")
        self.driver.get(f"chrome-extension://{self.extension_id}/options.html")
        self.extension_tab = self.driver.current_window_handle
        self.driver.switch_to.window(self.page_tab)

    def open(self, url):
        self.driver.switch_to.window(self.page_tab)
        self.driver.get(url)

    def click(self, element_id):
        self.driver.switch_to.window(self.page_tab)
        self.driver.find_element("id", element_id).click()

    def extension_call(self, script):
        """Runs script in an extension page, with `m` the extension's module;
        its value (awaited) is returned."""
        self.driver.switch_to.window(self.extension_tab)
        try:
            return self.driver.execute_async_script(
                "const done = arguments[arguments.length - 1];"
                "import('./lib/vardane.js').then(async (m) => {" + script + "})"
                ".then((v) => done({value: v}), (e) => done({error: String(e)}));")
        finally:
            self.driver.switch_to.window(self.page_tab)

    def quit(self):
        self.driver.quit()


def menu_link(browser, link, page):
    return browser.extension_call(
        "return m.onMenuClicked({menuItemId: m.MENU_LINK, linkUrl: %s, pageUrl: %s}, {id: -1, url: %s});"
        % (json.dumps(link), json.dumps(page), json.dumps(page)))


def menu_page(browser, page):
    return browser.extension_call(
        "const [tab] = await m.api.tabs.query({url: %s});"
        "return m.onMenuClicked({menuItemId: m.MENU_PAGE, pageUrl: %s}, tab);"
        % (json.dumps(page), json.dumps(page)))


def write_page(nginx, names):
    links = "".join(f'<a id="{n}" href="/{n}">{n}</a><br>' for n in names)
    with open(os.path.join(nginx.root, "page.html"), "w") as f:
        f.write(f"<!DOCTYPE html><html><body>{links}"
                '<a href="javascript:void(0)">no address</a></body></html>')


def messages(source):
    work = tempfile.mkdtemp(prefix="vardane-browser-")
    nginx = Nginx(work)
    browser = None
    try:
        log = os.path.join(work, "host.log")
        host = os.path.join(work, "host.py")
        with open(host, "w") as f:
            f.write(RECORDING_HOST)
        os.chmod(host, 0o755)
        write_random(os.path.join(nginx.root, "private", "movie.mkv"), 4096, "a")
        kept_sha = write_random(os.path.join(nginx.root, "private", "kept.zip"), 128 * 1024, "b")
        plain = b"\0" * (512 * 1024)
        with open(os.path.join(nginx.root, "private", "plain.zip"), "wb") as f:
            f.write(plain)
        write_page(nginx, ["private/movie.mkv", "slow/kept.zip", "slow/plain.zip"])
        nginx.start()
        env = dict(os.environ, VARDANE_TEST_HOST_LOG=log)
        browser = Browser(work, source, host, env)
        page = nginx.url("page.html")
        browser.open(page)
        agent = browser.driver.execute_script("return navigator.userAgent")

        def recorded():
            if not os.path.exists(log):
                return []
            with open(log) as f:
                return [json.loads(line) for line in f]

        link = nginx.url("private/movie.mkv")
        reply = menu_link(browser, link, page)
        assert reply == {"value": {"ok": True, "id": 1}}, reply
        assert recorded()[-1] == {"url": link, "cookies": COOKIE, "referrer": page,
                                  "userAgent": agent}, recorded()[-1]

        reply = menu_page(browser, page)
        assert reply == {"value": {"ok": True, "id": 1}}, reply
        assert recorded()[-1] == {"type": "links", "referrer": page,
                                  "links": [link, nginx.url("slow/kept.zip"),
                                            nginx.url("slow/plain.zip")]}, recorded()[-1]

        def browser_downloads(url, state):
            return browser.extension_call(
                "return (await m.api.downloads.search({url: %s, state: %s})).map((d) => d.filename);"
                % (json.dumps(url), json.dumps(state)))["value"]

        # Monitoring off: the browser keeps its download and finishes it.
        count = len(recorded())
        browser.open(page)
        browser.click("slow/kept.zip")
        kept = wait_for("the browser's own download",
                        lambda: browser_downloads(nginx.url("slow/kept.zip"), "complete"))
        assert sha256(kept[0]) == kept_sha
        assert [m.get("type") for m in recorded()[count:]] == ["settings"], recorded()[count:]

        # Monitoring on: handed over, and the browser's copy is cancelled and
        # removed from its list.
        open(log + ".monitor", "w").close()
        count = len(recorded())
        browser.click("slow/plain.zip")
        handed = wait_for("the handed-over download", lambda: recorded()[count + 1:])
        slow = nginx.url("slow/plain.zip")
        expected = {"url": slow, "cookies": COOKIE, "referrer": page, "userAgent": agent}
        if "filename" in handed[0]:  # known only once the browser has chosen it
            expected["filename"] = "plain.zip"
        assert handed[0] == expected, handed[0]
        wait_for("the browser's copy to be removed", lambda: browser.extension_call(
            "return (await m.api.downloads.search({url: %s})).length === 0;" % json.dumps(slow))[
                "value"])
        # The browser's request ends (nginx logs it) when its copy is
        # cancelled, before the slow server has sent the whole file.
        rows = wait_for("the browser's request to end", lambda: nginx.requests("slow/plain.zip"))
        assert all(int(r[5]) < len(plain) for r in rows), rows
    finally:
        if browser:
            browser.quit()
        nginx.stop()
        shutil.rmtree(work, ignore_errors=True)


def end_to_end(source, cli):
    probe = subprocess.run([cli, "--help"], capture_output=True, timeout=30)
    if b"native-host" not in probe.stdout:
        skip(f"{cli} has no native-host command yet", is_tool=False)
    work = tempfile.mkdtemp(prefix="vardane-browser-")
    home = os.path.join(work, "home")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["VARDANE_HOME"] = home
    nginx = Nginx(work)
    browser = None
    owner = None

    def cli_run(*args):
        subprocess.run([cli, *args], env=env, check=True, timeout=WAIT_SECONDS,
                       stdout=subprocess.DEVNULL)

    try:
        cli_run("limit", "off")
        cli_run("config", "HKCU\\SOFTWARE\\Vardane\\General", "MonitorIE", "1")
        owner = subprocess.Popen([cli, "run", "--stay"], env=env, stdout=subprocess.DEVNULL,
                                 stdin=subprocess.DEVNULL, start_new_session=True)
        wait_for("the owner", lambda: os.path.exists(os.path.join(home, "vardane.sock")))

        launcher = os.path.join(work, "native-host")
        with open(os.path.join(source, "packaging", "native-messaging", "native-host.in")) as f:
            text = f.read().replace("@VARDANE_CLI@", cli)
        with open(launcher, "w") as f:
            f.write(text)
        os.chmod(launcher, 0o755)

        big_sha = write_random(os.path.join(nginx.root, "private", "big.bin"), 3 << 20, "c")
        zip_sha = write_random(os.path.join(nginx.root, "private", "plain.zip"), 512 * 1024, "d")
        write_page(nginx, ["private/big.bin", "slow/plain.zip"])
        nginx.start()
        browser = Browser(work, os.path.join(source, "extension"), launcher, env)
        page = nginx.url("page.html")
        browser.open(page)

        reply = menu_link(browser, nginx.url("private/big.bin"), page)
        assert reply.get("value", {}).get("ok") is True, reply
        got = os.path.join(home, "Download", "big.bin")
        wait_for("big.bin in Vardane's folder",
                 lambda: os.path.exists(got) and sha256(got) == big_sha)
        rows = nginx.requests("private/big.bin")
        assert rows and all(r[1] in ("200", "206") and r[2] == COOKIE and r[3] == page
                            for r in rows), rows

        browser.open(page)
        browser.click("slow/plain.zip")
        got = os.path.join(home, "Download", "plain.zip")
        wait_for("plain.zip in Vardane's folder",
                 lambda: os.path.exists(got) and sha256(got) == zip_sha)
        slow = json.dumps(nginx.url("slow/plain.zip"))
        assert browser.extension_call(
            "return (await m.api.downloads.search({url: %s})).length;" % slow) == {"value": 0}
        assert all(r[2] == COOKIE for r in nginx.requests("slow/plain.zip"))
    finally:
        if browser:
            browser.quit()
        if owner:
            os.killpg(owner.pid, signal.SIGINT)
            try:
                owner.wait(timeout=WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                os.killpg(owner.pid, signal.SIGKILL)
                owner.wait()
        nginx.stop()
        shutil.rmtree(work, ignore_errors=True)


def main():
    mode = sys.argv[1]
    for path in ("/usr/lib/chromium/chromium", "/usr/bin/chromedriver", "/usr/sbin/nginx"):
        if not os.access(path, os.X_OK):
            skip(f"{path} is missing (scripts/setup.sh --tests installs it)")
    try:
        import selenium  # noqa: F401
    except ImportError:
        skip("python3-selenium is missing (scripts/setup.sh --tests installs it)")
    if mode == "messages":
        messages(os.path.join(sys.argv[2], "extension"))
    else:
        end_to_end(sys.argv[2], sys.argv[3])
    print("PASSED")


if __name__ == "__main__":
    main()
