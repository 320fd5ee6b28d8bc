#!/usr/bin/env python3
"""kx4notify under wine64, one scenario per run:

    notify_test.py --exe kx4notify.exe --recording kx4notify_recording.exe
                   --probe kx4notifyprobe.exe --double kx4toastdouble.dll
                   --wine-run tools/wine-run.sh --work DIR SCENARIO

Scenarios: install, arguments, toast, toast_failures, handler, docs_example
(the calling example of docs/notify.md, run by kx4test.exe as printed).

The toast classes are served by kx4toastdouble.dll, registered in the
prefix for the run; it writes what the program asks of it to the file
named by KX4_NOTIFY_LOG, and the scenarios compare that log line by line
with what the program must ask. Shortcuts go to the prefix's real
Start-menu folder under names unique to the run, and are removed after.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time

APP_ID = "PowerManagement.Alarm.Notifier"
MANAGER = "Windows.UI.Notifications.ToastNotificationManager"
NOTIFICATION = "Windows.UI.Notifications.ToastNotification"
E_FAIL = "0x80004005"
E_NOINTERFACE = "0x80004002"
S_OK = "0x00000000"


class Failure(Exception):
    pass


def q(text):
    """A string as the double's log writes it."""
    return json.dumps(text, ensure_ascii=False)


def win(path):
    """The prefix maps Z: to /."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Run:
    def __init__(self, args):
        self.a = args
        self.work = os.path.join(args.work, "%s-%d" % (args.scenario, os.getpid()))
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.log = os.path.join(self.work, "toast.log")
        self.failures = []
        self.links = []
        self.registered = False

    # -- running programs ------------------------------------------------

    def wine(self, *argv, env=None, mode=None):
        """Runs a Windows program; returns (exit code, stdout)."""
        e = dict(os.environ)
        e["KX4_NOTIFY_LOG"] = win(self.log)
        e.pop("KX4_TOAST_MODE", None)
        if mode:
            e["KX4_TOAST_MODE"] = mode
        e.update(env or {})
        p = subprocess.run([self.a.wine_run, "--timeout", "60"] + list(argv), env=e,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if p.returncode in (124, 125):
            raise Failure("%s: wine-run failed (%d): %s" % (argv[0], p.returncode, p.stderr.decode(errors="replace")))
        return p.returncode, p.stdout.decode("utf-8", errors="replace")

    def probe(self, *argv):
        rc, out = self.wine(self.a.probe, *argv)
        if rc != 0:
            raise Failure("probe %s failed with %d" % (" ".join(argv), rc))
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def notify(self, *argv, mode=None, exe=None, env=None):
        """Runs kx4notify with a fresh log; returns (exit code, log lines)."""
        if os.path.exists(self.log):
            os.remove(self.log)
        rc, _ = self.wine(exe or self.a.exe, *argv, mode=mode, env=env)
        return rc, self.read_log()

    def read_log(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return f.read().splitlines()

    # -- the prefix --------------------------------------------------------

    def register(self):
        self.probe("register", win(self.a.double))
        self.registered = True

    def start_menu(self):
        """The Start-menu Programs folder of the prefix, as a unix path."""
        appdata = self.probe("appdata")["appdata"]
        env = subprocess.run([os.path.join(os.path.dirname(self.a.wine_run), "wine-session.sh"), "env"],
                             stdout=subprocess.PIPE, check=True).stdout.decode()
        prefix = [l.split("=", 1)[1].strip("'") for l in env.splitlines() if l.startswith("export WINEPREFIX=")][0]
        if not appdata.upper().startswith("C:\\"):
            raise Failure("APPDATA is %r, not on C:" % appdata)
        folder = os.path.join(prefix, "drive_c", *appdata[3:].split("\\"),
                              "Microsoft", "Windows", "Start Menu", "Programs")
        if not os.path.isdir(folder):
            raise Failure("no Start-menu folder at %s" % folder)
        return appdata, folder

    def link_name(self, tag):
        name = "kx4notify-test-%d-%s.lnk" % (os.getpid(), tag)
        self.links.append(name)
        return name

    def cleanup(self):
        try:
            _, folder = self.start_menu()
            for name in self.links:
                path = os.path.join(folder, name)
                if os.path.exists(path):
                    os.remove(path)
        except Failure:
            pass
        if self.registered:
            try:
                self.register()  # whatever a scenario unregistered comes back
            except Failure as e:
                print("cleanup: %s" % e)

    # -- checks ------------------------------------------------------------

    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            self.failures.append(what)

    def check_log(self, what, got, want):
        ok = got == want
        self.check(ok, what)
        if not ok:
            for i in range(max(len(got), len(want))):
                g = got[i] if i < len(got) else "(nothing)"
                w = want[i] if i < len(want) else "(nothing)"
                if g != w:
                    print("       line %d\n         got:  %s\n         want: %s" % (i + 1, g, w))
                    break


# -- what the program must ask of the toast classes ----------------------

def xml(image, title, text):
    """The filled template as the double writes it; None for a text
    element that got no value (it stays an empty element)."""
    def esc(s):
        return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")

    def line(n, value):
        return '<text id="%d"/>' % n if value is None else '<text id="%d">%s</text>' % (n, esc(value))
    return ('<toast><visual><binding template="ToastImageAndText02"><image id="1" src="%s"/>%s%s'
            '</binding></visual></toast>' % (esc(image), line(1, title), line(2, text)))


def steps_template():
    return ["factory " + q(MANAGER), "template 1"]


def steps_image(image):
    return ["elements \"image\"", "item 0", "attributes of image", "named item \"src\"",
            "create text " + q(image), "append %s to image@src" % q(image)]


def steps_texts(title, text, fail_title=False, fail_text=False):
    return ["elements \"text\"", "length 2",
            "item 0", "create text " + q(title), "append %s to text#1%s" % (q(title), " failed" if fail_title else ""),
            "item 1", "create text " + q(text), "append %s to text#2%s" % (q(text), " failed" if fail_text else "")]


def steps_after_texts(image, title, text, show_lines=None):
    return (["notifier " + q(APP_ID), "factory " + q(NOTIFICATION), "toast from the template",
             "add Activated handler=Activated count=2",
             "add Dismissed handler=Dismissed count=3",
             "add Failed handler=Failed count=4",
             "show " + q(xml(image, title, text))]
            + (show_lines or [])
            # Released in reverse order of making: the handler first (the
            # toast's own references then count 2, 1, 0), the toast, the
            # toast factory, the notifier, the template, the statics.
            + ["released toast", "handler release 2", "handler release 1", "handler release 0",
               "released toast factory", "released notifier", "released document", "released manager statics"])


def whole_sequence(image, title, text, show_lines=None):
    return (steps_template() + steps_image(image) + steps_texts(title, text)
            + steps_after_texts(image, title, text, show_lines))


ENDS_EARLY = ["released document", "released manager statics"]


# -- scenarios -------------------------------------------------------------

def scenario_install(r):
    appdata, folder = r.start_menu()
    r.register()  # for the case that is taken as a toast

    # A first run creates the shortcut to the program itself, with no
    # arguments; a second run leaves whatever has that name alone.
    name = r.link_name("install")
    path = os.path.join(folder, name)
    rc, log = r.notify("-install", name)
    r.check(rc == 1, "install: exit code 1 (got %d)" % rc)
    r.check(os.path.isfile(path), "install: %s created in the Start-menu folder" % name)
    r.check(log == [], "install: no toast class touched")
    if os.path.isfile(path):
        link = r.probe("readlink", appdata + "\\Microsoft\\Windows\\Start Menu\\Programs\\" + name)
        r.check(link.get("path", "").lower() == win(r.a.exe).lower(),
                "install: the shortcut targets the program (%s)" % link.get("path"))
        r.check(link.get("args") == "", "install: empty arguments (%r)" % link.get("args"))
        # Wine's shell link stores no property store in the file; where it
        # does, the identity must be there. The recording run below sees
        # what the program sets either way.
        if "appId" in link:
            r.check(link["appId"] == APP_ID, "install: AppUserModelID read back (%s)" % link["appId"])
        else:
            print("note: this wine does not read a shortcut's property store back (%s)"
                  % link.get("appIdType", "GetValue fails"))

        with open(path, "wb") as f:
            f.write(b"not a shortcut, but ours")
        before = os.stat(path).st_mtime_ns
        time.sleep(0.05)
        rc, _ = r.notify("-install", name)
        with open(path, "rb") as f:
            kept = f.read() == b"not a shortcut, but ours"
        r.check(rc == 1 and kept and os.stat(path).st_mtime_ns == before,
                "install again: the replaced file is left untouched (exit %d)" % rc)

    # What the shortcut is given, seen through the recorder (same code,
    # linked with a recorder of the shell link's calls).
    name = r.link_name("recorded")
    rc, log = r.notify("-install", name, exe=r.a.recording)
    shortcut = appdata + "\\Microsoft\\Windows\\Start Menu\\Programs\\" + name
    r.check_log("install: runtime started multithreaded, shell link created, filled and saved in order"
                " (exit %d)" % rc, log, [
                    "RoInitialize 1 -> " + S_OK,
                    "CoCreateInstance {00021401-0000-0000-C000-000000000046} context=1 "
                    "iid={000214F9-0000-0000-C000-000000000046} -> " + S_OK,
                    "SetPath %s -> %s" % (q(win(r.a.recording)), S_OK),
                    "SetArguments \"\" -> " + S_OK,
                    "SetValue {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3} 5 vt=31 %s -> %s" % (q(APP_ID), S_OK),
                    "Commit -> " + S_OK,
                    "Save %s remember=1 -> %s" % (q(shortcut), S_OK),
                    "RoUninitialize",
                ])
    rc, log = r.notify("-install", name, exe=r.a.recording)
    r.check(rc == 1 and log == ["RoInitialize 1 -> " + S_OK, "RoUninitialize"],
            "install again: no shell link is even created (%s)" % log)

    # Forms that do not install.
    for argv, why in [(["-Install"], "another letter case"), (["-INSTALL"], "capitals"),
                      (["/install"], "a slash"), (["install"], "no dash")]:
        name = r.link_name("case")
        rc, log = r.notify(argv[0], name)
        r.check(rc == 1 and not os.path.exists(os.path.join(folder, name)) and log == [],
                "%s %s: nothing happens (%s)" % (argv[0], name, why))

    # One more argument: "-install" is the image path of a toast.
    name = r.link_name("extra")
    rc, log = r.notify("-install", name, "more")
    r.check(rc == 1 and not os.path.exists(os.path.join(folder, name)), "-install with 2 more arguments installs nothing")
    r.check_log("-install with 2 more arguments is a toast", log, whole_sequence("-install", name, "more"))

    # APPDATA: unset or empty creates nothing; the whole path must fit in
    # 260 units with its terminator (259 does, 260 does not).
    for change, what in [("-APPDATA", "unset"), ("APPDATA=", "empty")]:
        name = r.link_name("appdata")
        out = r.probe("run", change, "--", win(r.a.exe), "-install", name)
        r.check(out.get("exit") == "1" and not os.path.exists(os.path.join(folder, name)),
                "APPDATA %s: exit 1, nothing created (exit %s)" % (what, out.get("exit")))
    own = os.path.join(r.work, "appdata")
    programs = os.path.join(own, "Microsoft", "Windows", "Start Menu", "Programs")
    os.makedirs(programs)
    base = win(own) + "\\Microsoft\\Windows\\Start Menu\\Programs\\"
    for total, fits in [(259, True), (260, False)]:
        name = "n" * (total - len(base) - 4) + ".lnk"
        out = r.probe("run", "APPDATA=" + win(own), "--", win(r.a.exe), "-install", name)
        created = os.path.exists(os.path.join(programs, name))
        r.check(out.get("exit") == "1" and created == fits,
                "shortcut path of %d units: %s" % (total, "created" if fits else "nothing created"))
    r.check(sorted(os.listdir(programs)) == ["n" * (259 - len(base) - 4) + ".lnk"],
            "no other file in the APPDATA folder")


def scenario_arguments(r):
    """Argument counts 1, 2 and 3 (not the install form) do nothing."""
    _, folder = r.start_menu()
    r.register()
    before = sorted(os.listdir(folder))
    cases = [
        [],
        ["alarm.png"],
        ["alarm.png", "Title"],
        ["-install"],
        ["-Install", "x.lnk"],
        # One argument each, however many words it has.
        ["a b c"],
        ["image with spaces.png", "title with spaces"],
    ]
    for argv in cases:
        rc, log = r.notify(*argv)
        r.check(rc == 1 and log == [], "%d argument(s) %s: nothing happens, exit 1 (exit %d, log %s)"
                % (len(argv) + 1, argv, rc, log))
    r.check(sorted(os.listdir(folder)) == before, "no shortcut created")
    # Through the recording build: a runtime that does not start means
    # exit code 0 and nothing done (not even RoUninitialize); a command
    # line that cannot be split means exit code 1 and nothing done.
    name = r.link_name("fault")
    for fault, want_rc, want_log in [
            ("RoInitialize", 0, ["RoInitialize 1 -> failed on purpose"]),
            ("CommandLineToArgvW", 1, ["RoInitialize 1 -> " + S_OK, "CommandLineToArgvW -> failed on purpose",
                                       "RoUninitialize"])]:
        for argv in (["-install", name], ["C:\\alarm.png", "Title", "Text"]):
            rc, log = r.notify(*argv, exe=r.a.recording, env={"KX4_NOTIFY_FAULT": fault})
            r.check(rc == want_rc and log == want_log and not os.path.exists(os.path.join(folder, name)),
                    "%s fails, %s: exit %d, nothing done (exit %d, log %s)" % (fault, argv[0], want_rc, rc, log))
    # Quoted arguments with spaces are split as the shell splits them.
    rc, log = r.notify("a b", "c d", "e f")
    r.check_log("three quoted arguments with spaces make one toast", log, whole_sequence("a b", "c d", "e f"))


def scenario_toast(r):
    r.register()
    image = "C:/Program Files/Alarm/images/warning.png"  # slashes stay as they are
    title = "Stromausfall \u2013 \"Akku\" <50 %"
    text = "Shutdown in 5 min & counting"
    rc, log = r.notify(image, title, text)
    r.check(rc == 1, "toast: exit code 1 (got %d)" % rc)
    r.check_log("toast: the whole sequence, in order", log, whole_sequence(image, title, text))
    rc, log = r.notify(image, title, text, "ignored", "also ignored")
    r.check_log("toast: further arguments are ignored", log, whole_sequence(image, title, text))
    # Empty strings are strings too.
    rc, log = r.notify("", "", "")
    r.check_log("toast: empty image, title and text", log, whole_sequence("", "", ""))


def scenario_toast_failures(r):
    r.register()
    ok_image, title, text = "C:\\alarm.png", "Title", "Text"
    image259 = "C:\\" + "i" * 252 + ".png"
    image260 = "C:\\" + "i" * 253 + ".png"
    assert len(image259) == 259 and len(image260) == 260
    cases = [
        # (what, image, mode, expected log)
        ("image path of 259 units", image259, None, whole_sequence(image259, title, text)),
        ("image path of 260 units ends the sequence", image260, None, steps_template() + ENDS_EARLY),
        ("no image element ends the sequence", ok_image, "no-image",
         steps_template() + ["elements \"image\"", "item 0"] + ENDS_EARLY),
        ("fewer than two text elements end the sequence", ok_image, "one-text",
         steps_template() + steps_image(ok_image) + ["elements \"text\"", "length 1"] + ENDS_EARLY),
        ("a title that cannot be set does not stop the toast", ok_image, "fail-title",
         steps_template() + steps_image(ok_image) + steps_texts(title, text, fail_title=True)
         + steps_after_texts(ok_image, None, text)),
        ("a text that cannot be set ends the sequence", ok_image, "fail-text",
         steps_template() + steps_image(ok_image) + steps_texts(title, text, fail_text=True) + ENDS_EARLY),
    ]
    for what, image, mode, want in cases:
        rc, log = r.notify(image, title, text, mode=mode)
        r.check_log("%s (exit %d)" % (what, rc), log if rc == 1 else ["exit %d" % rc] + log, want)

    # No factory for the notification: the notifier is made, nothing shown.
    r.probe("unregister", NOTIFICATION)
    rc, log = r.notify(ok_image, title, text)
    r.check_log("no ToastNotification factory ends the sequence (exit %d)" % rc,
                log if rc == 1 else ["exit %d" % rc] + log,
                steps_template() + steps_image(ok_image) + steps_texts(title, text)
                + ["notifier " + q(APP_ID), "released notifier"] + ENDS_EARLY)
    # No toast classes at all (a system without them): nothing to ask.
    r.probe("unregister", MANAGER)
    rc, log = r.notify(ok_image, title, text)
    r.check(rc == 1 and log == [], "no toast classes: exit 1, nothing asked (exit %d, log %s)" % (rc, log))
    r.register()


def handler_lines():
    """What the double sees when it calls the handler (see invokeHandlers
    in toast_double.cpp)."""
    lines = []
    names = ["Activated", "Dismissed", "Failed"]
    for via in names:
        for ask, answer in [("IUnknown", "Activated"), ("Activated", "Activated"), ("Dismissed", "Dismissed"),
                            ("Failed", "Failed"), ("IInspectable", None), ("IAgileObject", None)]:
            # The handler holds 4 references here (kx4notify's and one per
            # registration); a successful answer adds one, released again.
            lines.append("qi via %s %s -> %s" % (via, ask, "%s %s count=4" % (S_OK, answer) if answer
                                                 else "%s null" % E_NOINTERFACE))
        lines.append("addref via %s -> 5 release -> 4" % via)
    reasons = [(0, "The user dismissed this toast"),
               (1, "The application hid the toast using ToastNotifier.hide()"),
               (2, "The toast has timed out"),
               (3, "Toast not activated"),
               (-1, "Toast not activated")]
    # (state, SetForegroundWindow answers, SendMessageW answers)
    for state, foreground, sent in [("null-windows", 0, 0), ("windows", 1, 1), ("foreground-refused", 0, 1)]:
        result = S_OK if sent else E_FAIL
        lines.append("windows " + state)
        lines.append("SetForegroundWindow 0 -> %d" % foreground)
        if foreground:
            lines.append("SendMessageW 0 WM_SETTEXT %s -> %d" % (q("The user clicked on the toast."), sent))
        lines.append("invoke Activated -> %s" % (result if foreground else E_FAIL))
        for value, text in reasons:
            lines.append("SendMessageW 0 WM_SETTEXT %s -> %d" % (q(text), sent))
            lines.append("invoke Dismissed reason=%d -> %s" % (value, result))
        lines.append("SendMessageW 0 WM_SETTEXT %s -> %d" % (q("The toast encountered an error."), sent))
        lines.append("invoke Failed -> %s" % result)
    # An unreadable reason: its error, unchanged, and nothing sent.
    lines.append("invoke Dismissed unreadable -> 0x8007139f")
    return lines


def scenario_handler(r):
    r.register()
    rc, log = r.notify("C:\\alarm.png", "Title", "Text", mode="invoke")
    r.check(rc == 1, "handler: exit code 1 (got %d)" % rc)
    r.check_log("handler: interfaces, counts, texts and results", log,
                whole_sequence("C:\\alarm.png", "Title", "Text", handler_lines()))


def scenario_docs_example(r):
    """The two code blocks of "Calling it from an application" in
    docs/notify.md, run as printed with appFolder set to the build's bin
    folder: the shortcut is installed and the toast asked for with the
    quoted title and text intact."""
    with open(r.a.doc, encoding="utf-8") as f:
        doc = f.read()
    section = doc.split("## Calling it from an application", 1)[1].split("\n## ", 1)[0]
    blocks = [b.split("\n", 1)[1] for b in section.split("```js")[1:]]
    blocks = [b.split("```", 1)[0] for b in blocks]
    if len(blocks) != 2:
        raise Failure("docs/notify.md: %d code blocks in the calling section, want 2" % len(blocks))
    app_folder = os.path.dirname(os.path.abspath(r.a.exe))
    script = os.path.join(r.work, "example.js")
    with open(script, "w", encoding="utf-8") as f:
        f.write("var appFolder = %s;\n" % json.dumps(win(app_folder)) + "\n".join(blocks))

    appdata, folder = r.start_menu()
    r.register()
    link = os.path.join(folder, "Alarm.lnk")
    existed = os.path.exists(link)
    if os.path.exists(r.log):
        os.remove(r.log)
    rc, out = r.wine(r.a.kx4test, win(script))
    r.check(rc == 0, "the example runs (exit %d) %s" % (rc, out.strip()))
    r.check(os.path.exists(link), "the example's shortcut Alarm.lnk exists")
    if not existed and os.path.exists(link):
        os.remove(link)
    # The toast was started without waiting: give it time to finish.
    deadline = time.time() + 30
    while time.time() < deadline and "released manager statics" not in r.read_log():
        time.sleep(0.1)
    image = win(app_folder) + "\\images\\warning.png"
    r.check_log("the example's toast arrives with its words intact", r.read_log(),
                whole_sequence(image, "Power failure", 'Running on battery: "shutdown" in 5 minutes'))


SCENARIOS = {
    "docs_example": scenario_docs_example,
    "install": scenario_install,
    "arguments": scenario_arguments,
    "toast": scenario_toast,
    "toast_failures": scenario_toast_failures,
    "handler": scenario_handler,
}


def main():
    p = argparse.ArgumentParser()
    for opt in ("--exe", "--recording", "--probe", "--double", "--wine-run", "--work", "--kx4test", "--doc"):
        p.add_argument(opt, required=True)
    p.add_argument("scenario", choices=sorted(SCENARIOS))
    args = p.parse_args()
    r = Run(args)
    try:
        SCENARIOS[args.scenario](r)
    except Failure as e:
        r.failures.append(str(e))
        print("FAIL " + str(e))
    finally:
        r.cleanup()
    if r.failures:
        print("%d check(s) failed; files in %s" % (len(r.failures), r.work))
        return 1
    shutil.rmtree(r.work, ignore_errors=True)
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
