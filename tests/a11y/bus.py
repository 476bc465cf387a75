"""The real program on a private accessibility bus, seen and driven as assistive software does:
through AT-SPI objects, their names, roles, states and relations, their actions and their
editable text. Shared by walk.py and task.py (bus_run.sh starts them)."""

import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

# The program's clock: a Sunday a week before the daylight-saving change in its zone, ten minutes
# before a half hour, so an appointment at noon falls due at once.
TODAY = "3/7/2027"
CLOCK = "@2027-03-07 11:50:00"
ZONE = "America/New_York"

# Generous: two cores shared with a build must not fail a run.
CALL_MS = 20000
WAIT_S = 60

ITEM_ROLES = {"list", "table", "tree", "tree table", "menu", "popup menu"}
TEXT_ROLES = {"text", "password text", "entry", "paragraph"}


class Failure(Exception):
    pass


def pump(seconds=0.05):
    """Lets the bus's events arrive for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while True:
        while context.iteration(False):
            pass
        if time.monotonic() >= end:
            return
        time.sleep(0.02)


def wait_for(condition, what, timeout=WAIT_S):
    end = time.monotonic() + timeout
    while True:
        try:
            result = condition()
        except GLib.Error:
            result = None  # an object went away while it was read: ask again
        if result:
            return result
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        pump(0.1)


def role(o):
    return o.getRoleName()


def states(o):
    return o.getState()


def showing(o):
    return states(o).contains(pyatspi.STATE_SHOWING)


def focusable(o):
    return states(o).contains(pyatspi.STATE_FOCUSABLE)


def children(o):
    out = []
    for i in range(o.childCount):
        c = o.getChildAtIndex(i)
        if c is not None:
            out.append(c)
    return out


def descendants(o, into_items=False):
    """Every object under o, in the order the bus lists them; the lines of lists, tables and
    trees are left out unless asked for."""
    for c in children(o):
        yield c
        if into_items or role(c) not in ITEM_ROLES:
            yield from descendants(c, into_items)


def find(root, role_name, name=None, into_items=False):
    for o in descendants(root, into_items):
        if role(o) == role_name and (name is None or o.name == name):
            return o
    return None


def labels_of(o):
    """The labels a screen reader reads for o: its first labelled-by relation, its ancestors left
    out (a frame labels everything in it)."""
    ancestors = set()
    p = o.parent
    while p is not None:
        ancestors.add(hash(p))
        p = p.parent
    for r in o.getRelationSet():
        if r.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return [r.getTarget(i) for i in range(r.getNTargets()) if hash(r.getTarget(i)) not in ancestors]
    return []


def spoken(o):
    """What a screen reader calls o: its label where it has one, else its name."""
    names = [label.name for label in labels_of(o) if label.name]
    return " ".join(names) if names else o.name


def bare(caption):
    """A caption as a name: no access-key marker, no closing colon or full stop."""
    text = " ".join(caption.replace("&&", "\0").replace("&", "").replace("\0", "&").split())
    while text.endswith(":") or text.endswith("."):
        text = text[:-1].rstrip()
    return text


def extents(o):
    e = o.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def label_beside(box, labels):
    """The label that stands just left of or just above box on the screen, if any."""
    bx, by, bw, bh = extents(box)
    best = None
    for label in labels:
        lx, ly, lw, lh = extents(label)
        if lw <= 0 or lh <= 0:
            continue
        distance = None
        if abs((ly + lh / 2) - (by + bh / 2)) <= bh / 2 + 2 and lx + lw <= bx + 4 and bx - (lx + lw) <= 40:
            distance = bx - (lx + lw)
        elif ly + lh <= by + 4 and by - (ly + lh) <= 12 and bx - 30 <= lx < bx + bw:
            distance = (by - (ly + lh)) + abs(lx - bx)
        if distance is not None and (best is None or distance < best[0]):
            best = (distance, label)
    return best[1] if best else None


def faults(window):
    """What a screen-reader user would stumble on in window as it now shows: a control that
    takes the focus without a name, two such controls they cannot tell apart (same role, same
    name), a text box not named by the label beside it."""
    found = []
    seen = {}
    objects = [o for o in descendants(window) if showing(o)]
    labels = [o for o in objects if role(o) == "label" and o.name]
    for o in objects:
        if not focusable(o):
            continue
        name = spoken(o).strip()
        where = "%s %r in %r" % (role(o), name, window.name)
        if not name:
            found.append("unnamed " + where + " at %s" % (extents(o),))
            continue
        seen.setdefault((role(o), name), []).append(o)
        if role(o) in TEXT_ROLES:
            label = label_beside(o, labels)
            if label is not None and o.name != bare(label.name):
                found.append("%s is named %r, its label says %r" % (where, o.name, label.name))
    for (r, name), alike in seen.items():
        if len(alike) > 1:
            found.append("%d controls %s %r in %r" % (len(alike), r, name, window.name))
    return found


class Program:
    """Kestrel on a data folder of its own, its clock and zone fixed, on this session's bus."""

    def __init__(self, work, greet=False):
        self.work = work
        self.events = []
        Atspi.set_timeout(CALL_MS, CALL_MS)
        if greet:
            folder = os.path.join(work, "home", ".config", "Kestrel")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "Kestrel.conf"), "w") as f:
                f.write("[App]\nGreet=T\n")
        # The bus starts before the program, so the program finds it at once.
        pyatspi.Registry.getDesktop(0)
        for kind in ("object:state-changed:showing", "object:property-change:accessible-name",
                     "object:property-change:accessible-description", "focus:", "object:state-changed:focused"):
            pyatspi.Registry.registerEventListener(self._heard, kind)
        env = dict(os.environ)
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "TZ": ZONE,
            "LD_PRELOAD": "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
            "FAKETIME": CLOCK,
            "DONT_FAKE_MONOTONIC": "1",
        })
        self.log = open(os.path.join(work, "kestrel.log"), "w")
        self.process = subprocess.Popen([os.path.join(work, "prog", "kestrel"), "--new-window"], env=env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.app = wait_for(self._find_app, "Kestrel on the accessibility bus")

    def _find_app(self):
        if self.process.poll() is not None:
            raise Failure("Kestrel ended with code %s" % self.process.returncode)
        for a in children(pyatspi.Registry.getDesktop(0)):
            if a.name.lower() == "kestrel":
                return a
        return None

    def _heard(self, event):
        try:
            source = event.source
            self.events.append((event.type, role(source), source.name, event.detail1, source))
        except GLib.Error:
            pass

    def announcements(self):
        """What the program had spoken as notifications, in order."""
        return [name for kind, r, name, detail, _ in self.events
                if kind.startswith("object:state-changed:showing") and r == "notification" and detail == 1]

    def window(self, title, timeout=WAIT_S):
        def shown():
            for w in children(self.app):
                if w.name == title and showing(w):
                    return w
            return None
        return wait_for(shown, "the window %r" % title, timeout)

    def gone(self, title):
        wait_for(lambda: all(w.name != title or not showing(w) for w in children(self.app)),
                 "the window %r to close" % title)

    def main(self):
        return self.window("Kestrel")

    def menu(self, title, item):
        """Chooses a menu command through its action, as voice control does."""
        bar = find(self.main(), "menu bar")
        top = next(m for m in children(bar) if m.name == title)
        command = find(top, "menu item", item, into_items=True)
        if command is None:
            raise Failure("no menu item %r under %r" % (item, title))
        press(command, opens_window=True)

    def quit(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def press(o, action=None, opens_window=False):
    """Runs o's action (its first, or the one named). A command that opens a modal window answers
    only once that window closes, so such a press does not wait for the answer."""
    a = o.queryAction()
    names = [a.getName(i) for i in range(a.nActions)]
    index = names.index(action) if action else 0
    if not opens_window:
        a.doAction(index)
        return
    Atspi.set_timeout(300, 300)
    try:
        a.doAction(index)
    except GLib.Error:
        pass  # the window is open; its opener answers when it closes
    finally:
        Atspi.set_timeout(CALL_MS, CALL_MS)


def type_into(o, text):
    """Puts text into a box through the editable-text interface."""
    o.queryEditableText().setTextContents(text)
    wait_for(lambda: text_of(o) == text, "%r in %r" % (text, o.name))


def text_of(o):
    t = o.queryText()
    return t.getText(0, t.characterCount)


def box(window, name):
    for o in descendants(window):
        if role(o) in TEXT_ROLES and o.name == name and showing(o):
            return o
    raise Failure("no text box named %r in %r" % (name, window.name))


def button(window, name):
    for o in descendants(window):
        if role(o) == "push button" and bare(o.name) == name and showing(o):
            return o
    raise Failure("no button %r in %r" % (name, window.name))


def lines(list_object):
    return [c.name for c in children(list_object)]


def run(main_function):
    """Runs a test, saying what failed; exit 1 on any failure."""
    try:
        problems = main_function()
    except Failure as e:
        problems = [str(e)]
    if problems:
        print("\n".join("FAIL: " + p for p in problems))
        sys.exit(1)
    print("OK")
