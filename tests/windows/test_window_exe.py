#!/usr/bin/python3
"""varnel-importer.exe under wine on a virtual display, driven as a user drives it: the window
opens with its title and its 543 x 450 client area; a file's full name is typed into the
file-open dialog of "Add vCalendar/iCalendar File(s)..."; "Add Folder having File(s)..." (reached by Tab
from the first button) picks a copy of our examples in the real folder dialog, the count message is
answered; Alt+C imports into a folder picked the same way, the completion message is answered;
Alt+X and Y end the program. The store must pass pstcheck and hold, to readpst, the folders and
appointments the Linux cal2pst writes from the same files. Then a second import, of 1800 files, is
ended by Alt+F4 part-way: the program ends at once, and its store passes pstcheck and holds some but
not all of the appointments.

  test_window_exe.py WINE EXE PSTCHECK LINUX_CAL2PST EXAMPLES [--screenshot PNG]

WINEPREFIX and the other wine settings come from the environment. Needs Xvfb, xdotool and, for
--screenshot, ImageMagick's import. With --screenshot, the window (with wine's own title bar) is
photographed before anything is added."""
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "interop"))
import readers  # noqa: E402

check = readers.Checks()

WINDOW_TITLE = "Varnel vCalendar/iCalendar Importer (.vcs/.ics)"
APP_TITLE = "Varnel vCalendar\\iCalendar Importer"  # message boxes of the list
PRODUCT_TITLE = "Varnel vCalendar/iCalendar Importer"  # the import's report
CLIENT_SIZE = (543, 450)


class Failed(Exception):
    pass


def windows_path(path):
    """Wine's drive Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Desktop:
    """Xvfb on a display of its own, and xdotool on it."""

    def __init__(self):
        for n in range(90, 140):
            if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists("/tmp/.X11-unix/X%d" % n):
                self.display = ":%d" % n
                break
        else:
            raise Failed("no free X display number between :90 and :139")
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        socket = "/tmp/.X11-unix/X%s" % self.display[1:]
        deadline = time.time() + 15
        while not os.path.exists(socket):
            if self.xvfb.poll() is not None or time.time() > deadline:
                raise Failed("Xvfb did not start on %s" % self.display)
            time.sleep(0.1)

    def xdotool(self, *args, check_status=False):
        r = subprocess.run(["xdotool"] + list(args), capture_output=True, text=True, timeout=30,
                           env=dict(os.environ, DISPLAY=self.display))
        if check_status and r.returncode != 0:
            raise Failed("xdotool %s: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def windows(self, exact_title):
        """The visible windows whose title is exactly `exact_title`."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", "--name", "Importer|Choose|^Open$").split():
            if self.xdotool("getwindowname", wid).rstrip("\n") == exact_title:
                found.append(wid)
        return found

    def wait_for(self, title, timeout, app):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.windows(title)
            if found:
                time.sleep(0.3)  # let it take its input focus
                return found[0]
            if app.poll() is not None:
                raise Failed("the program ended (exit status %s) while waiting for \"%s\"" % (app.returncode, title))
            time.sleep(0.2)
        raise Failed("no window \"%s\" within %d s" % (title, timeout))

    def wait_gone(self, title, timeout):
        deadline = time.time() + timeout
        while self.windows(title):
            if time.time() > deadline:
                raise Failed("the window \"%s\" is still open after %d s" % (title, timeout))
            time.sleep(0.2)
        time.sleep(0.5)  # a common dialog closing hands the focus back a moment later

    def keys(self, wid, *keys):
        self.xdotool("windowfocus", "--sync", wid, check_status=True)
        self.xdotool("key", "--clearmodifiers", *keys, check_status=True)

    def type(self, wid, text):
        self.xdotool("windowfocus", "--sync", wid, check_status=True)
        self.xdotool("type", "--delay", "10", text, check_status=True)

    def geometry(self, wid):
        out = self.xdotool("getwindowgeometry", "--shell", wid)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))

    def close(self):
        if self.xvfb.poll() is None:
            os.killpg(self.xvfb.pid, signal.SIGTERM)
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.xvfb.pid, signal.SIGKILL)


def wine_env(desktop):
    return dict(os.environ, DISPLAY=desktop.display, TZ="Europe/Berlin", WINEDEBUG="-all")


def prepare_prefix(wine, env, decorated):
    """The window's typeface, and the glyphs of wine's own title-bar buttons, where wine finds
    them (Debian's wine does not look in fonts-wine's folder); wine's title bars when asked."""
    prefix = env.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    for face in ("tahoma.ttf", "tahomabd.ttf", "marlett.ttf"):
        source = os.path.join("/usr/share/wine/fonts", face)
        if os.path.isdir(fonts) and os.path.isfile(source) and not os.path.exists(os.path.join(fonts, face)):
            shutil.copy(source, fonts)
    # The wine server outlives what starts it: it must not hold a pipe of ours open.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=env, timeout=60, **quiet)
    key = "HKCU\\Software\\Wine\\X11 Driver"
    if decorated:
        subprocess.run([wine, "reg", "add", key, "/v", "Decorated", "/t", "REG_SZ", "/d", "N", "/f"],
                       env=env, timeout=120, **quiet)
    else:
        subprocess.run([wine, "reg", "delete", key, "/v", "Decorated", "/f"], env=env, timeout=120, **quiet)


def store_events(store, out):
    events, code, err = readers.readpst_events(store, out)
    key = lambda e: (e.get("SUMMARY", ""), e.get("DTSTART", ""), e.get("DTEND", ""), e.get("RRULE", ""))
    return {folder: sorted(map(key, found)) for folder, found in events.items()}, code, err


def start(desktop, wine, exe, out, log):
    app = subprocess.Popen([wine, exe], cwd=out, env=wine_env(desktop), stdout=log, stderr=log,
                           start_new_session=True)
    return app, desktop.wait_for(WINDOW_TITLE, 60, app)


def add_folder(desktop, app, main, src):
    """"Add Folder having File(s)...", reached by Tab from the first button (where the focus is
    at start) past "Clear File(s)..."; the count message answered."""
    desktop.keys(main, "Tab", "Tab", "space")
    picker = desktop.wait_for("Choose Source Folder...", 30, app)
    desktop.type(picker, windows_path(src))
    desktop.keys(picker, "Return")
    desktop.wait_gone("Choose Source Folder...", 30)
    added = desktop.wait_for(APP_TITLE, 60, app)
    desktop.keys(added, "Return")
    desktop.wait_gone(APP_TITLE, 15)


def start_import(desktop, app, main, out):
    desktop.keys(main, "alt+c")
    picker = desktop.wait_for("Choose Folder to Save...", 30, app)
    desktop.type(picker, windows_path(out))
    desktop.keys(picker, "Return")
    desktop.wait_gone("Choose Folder to Save...", 30)


def ended(app, what):
    try:
        code = app.wait(30)
    except subprocess.TimeoutExpired:
        raise Failed("the program did not end after " + what)
    check(code == 0, "the program ended with exit status %d after %s" % (code, what))


def import_and_exit(desktop, wine, exe, typed, src, out, screenshot, log):
    """The whole road: add a file and a folder, import them, answer the report, exit."""
    app, main = start(desktop, wine, exe, out, log)
    try:
        size = desktop.geometry(main)
        if screenshot:
            time.sleep(1)
            r = subprocess.run(["import", "-window", main, screenshot], env=wine_env(desktop), capture_output=True,
                               text=True, timeout=60)
            check(r.returncode == 0, "import (the screenshot): " + r.stderr[-500:])
        else:
            # Without a window manager wine's X window is the client area alone.
            check(size == CLIENT_SIZE, "the client area is %dx%d, not %dx%d" % (size + CLIENT_SIZE))
        # A file of another folder, its full name typed into the file-open dialog.
        desktop.keys(main, "space")
        picker = desktop.wait_for("Open", 30, app)
        desktop.type(picker, windows_path(typed))
        desktop.keys(picker, "Return")
        desktop.wait_gone("Open", 30)
        add_folder(desktop, app, main, src)
        start_import(desktop, app, main, out)
        done = desktop.wait_for(PRODUCT_TITLE, 120, app)
        desktop.keys(done, "Return")
        desktop.wait_gone(PRODUCT_TITLE, 15)
        # Exit asks first; Y answers it, and the program ends.
        desktop.keys(main, "alt+x")
        question = desktop.wait_for(APP_TITLE, 15, app)
        desktop.keys(question, "y")
        ended(app, "Exit and Yes")
    finally:
        if app.poll() is None:
            os.killpg(app.pid, signal.SIGKILL)


def close_during_import(desktop, wine, exe, src, out, log):
    """Alt+F4 while an import runs: the program ends at once, without its report, and the store
    holds what had been committed (about once a second). Gives the store's path."""
    app, main = start(desktop, wine, exe, out, log)
    try:
        add_folder(desktop, app, main, src)
        start_import(desktop, app, main, out)
        deadline = time.time() + 30
        while not glob.glob(os.path.join(glob.escape(out), "VarnelCalendars*.pst")):
            if time.time() > deadline or app.poll() is not None:
                raise Failed("no store appeared after the import started")
            time.sleep(0.1)
        time.sleep(0.1)
        if desktop.windows(PRODUCT_TITLE):
            raise Failed("the import ended before the window was closed: it needs more files to stay busy")
        desktop.keys(main, "alt+F4")
        ended(app, "Alt+F4 during an import")
    finally:
        if app.poll() is None:
            os.killpg(app.pid, signal.SIGKILL)


# Copies of the examples for the import that is closed part-way: enough to keep it busy for
# several seconds under wine.
BUSY_COPIES = 600


def run_phase(desktop, exe, what, phase):
    """Runs one drive of the window; a failure is reported with a picture of the screen."""
    began = time.time()
    try:
        phase()
        print("%s: %.0f s" % (what, time.time() - began))
    except Failed as e:
        check(False, "%s: %s" % (what, e))
        shot = os.path.join(os.path.dirname(exe), "window-test-failure.png")
        subprocess.run(["import", "-window", "root", shot], env=wine_env(desktop), capture_output=True, timeout=60)
        print("the screen at the failure: %s" % shot)


def the_store(out):
    stores = glob.glob(os.path.join(glob.escape(out), "VarnelCalendars*.pst"))
    check(len(stores) == 1 and len(os.listdir(out)) == 1, "files left in %s: %s" % (out, os.listdir(out)))
    return stores[0] if len(stores) == 1 else None


def pstcheck_passes(pstcheck, store):
    r = subprocess.run([pstcheck, store], capture_output=True, text=True, errors="replace", timeout=300)
    check(r.returncode == 0, "pstcheck %s: %s" % (store, (r.stdout + r.stderr)[-2000:]))


def main(wine, exe, pstcheck, linux_cal2pst, examples, screenshot=None):
    started = time.time()
    work = tempfile.mkdtemp(prefix="varnel-window-")
    desktop = None
    env = dict(os.environ, WINEDEBUG="-all")
    try:
        src = os.path.join(work, "Kalender")
        shutil.copytree(examples, src)
        typed = os.path.join(work, "Einzeln", "getippt.ics")
        os.makedirs(os.path.dirname(typed))
        shutil.copy(os.path.join(examples, "home", "birthdays.ics"), typed)
        out = os.path.join(work, "Ausgabe")
        os.makedirs(out)
        busy_src = os.path.join(work, "Viele")
        for i in range(BUSY_COPIES):
            shutil.copytree(examples, os.path.join(busy_src, "%03d" % i))
        busy_out = os.path.join(work, "Abgebrochen")
        os.makedirs(busy_out)
        # The prefix's wine server may have started without a display: start afresh, on ours.
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        desktop = Desktop()
        prepare_prefix(wine, wine_env(desktop), decorated=bool(screenshot))
        with open(os.path.join(work, "wine.log"), "w") as log:
            run_phase(desktop, exe, "import and exit",
                      lambda: import_and_exit(desktop, wine, exe, typed, src, out, screenshot, log))
            run_phase(desktop, exe, "closed during an import",
                      lambda: close_during_import(desktop, wine, exe, busy_src, busy_out, log))

        store = the_store(out)
        if store:
            pstcheck_passes(pstcheck, store)
            linux_store = os.path.join(work, "linux.pst")
            r = subprocess.run([linux_cal2pst, "-q", "-o", linux_store, typed, src], capture_output=True, text=True,
                               env=dict(os.environ, TZ="Europe/Berlin"), timeout=300)
            check(r.returncode == 0, "the Linux cal2pst: " + r.stderr[-1000:])
            got, code, err = store_events(store, os.path.join(work, "readpst-window"))
            check(code == 0, "readpst: " + err[-1000:])
            want, _, _ = store_events(linux_store, os.path.join(work, "readpst-linux"))
            check(sum(map(len, got.values())) > 0, "readpst finds no appointments in the store")
            check(got == want, "the store differs from the Linux cal2pst's:\n  window %s\n  Linux  %s" % (got, want))
            print("imported: %d folders, %d appointments" % (len(got), sum(map(len, got.values()))))

        store = the_store(busy_out)
        if store:
            pstcheck_passes(pstcheck, store)
            got, code, err = store_events(store, os.path.join(work, "readpst-busy"))
            check(code == 0, "readpst: " + err[-1000:])
            held = sum(map(len, got.values()))
            whole = None
            if "want" in locals():
                whole = BUSY_COPIES * sum(len(v) for k, v in want.items() if not k.endswith("/Einzeln"))
            check(held > 0 and (whole is None or held < whole),
                  "the store closed part-way holds %d appointments of %s" % (held, whole))
            print("closed during the import: %d of %s appointments kept" % (held, whole))
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        if desktop:
            desktop.close()
        shutil.rmtree(work, ignore_errors=True)
    print("window test: %.0f s" % (time.time() - started))
    check.finish()


if __name__ == "__main__":
    args = sys.argv[1:]
    shot = None
    if "--screenshot" in args:
        i = args.index("--screenshot")
        shot = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    if len(args) != 5:
        sys.exit(__doc__)
    main(*args[:1], os.path.abspath(args[1]), *args[2:], screenshot=shot)
