# Reads the accessibility tree that screen readers read (AT-SPI) of the real
# kelvad's windows and checks what a screen reader would say: both path fields
# named by their labels, the folder buttons by what they do, the radio buttons by their group box, the hidden
# radio button not announced, the scanning line a status bar, the preview's
# rows readable, and in the progress window a named bar, the status line told
# through the focused Cancel button, and no more than a few changes a second.
# Usage: accessibility_tree.py main|preview SLAVE_ROOT
#        accessibility_tree.py progress SLAVE_ROOT LISTENING_FILE
import collections
import sys
import time

import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib


def find_app():
    for _ in range(100):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == "kelvad":
                return app
        time.sleep(0.1)
    return None


def walk(node, out):
    out.append(node)
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            walk(child, out)
    return out


def labelled_by(node):
    names = []
    for relation in node.get_relation_set():
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            names += [relation.get_target(i).get_name() for i in range(relation.get_n_targets())]
    return names


passed = failed = 0


def check(what, ok):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAIL: " + what)


mode, slave = sys.argv[1], sys.argv[2]
app = find_app()
check("kelvad is in the accessibility tree", app is not None)
nodes = walk(app, []) if app is not None else []
if mode == "main":
    texts = [n for n in nodes if n.get_role() == Atspi.Role.TEXT]
    check("the fields are named by their labels, master first",
          [t.get_name() for t in texts] == ["Kelvad Master", "Kelvad Slave"])
    check("each field is labelled by its own label",
          [labelled_by(t) for t in texts] == [["Kelvad Master:"], ["Kelvad Slave:"]])
    radios = [n for n in nodes if n.get_role() == Atspi.Role.RADIO_BUTTON]
    check("the modes are the two shown radio buttons", [r.get_name() for r in radios] == ["Just Do It", "Preview"])
    check("the modes are labelled by their group", all(labelled_by(r) == ["Options"] for r in radios))
    boxes = [n for n in nodes if n.get_role() == Atspi.Role.CHECK_BOX]
    check("the box that keeps what a run takes away is named by its text",
          [b.get_name() for b in boxes] == ["Keep deleted and replaced files"])
    buttons = [n.get_name() for n in nodes if n.get_role() == Atspi.Role.PUSH_BUTTON]
    check(f"each folder button is named by what it does: {buttons}",
          "Browse for the master directory" in buttons and "Browse for the slave directory" in buttons)
    check("no button is labelled by a field's label",
          not any("Kelvad Slave:" in labelled_by(n) or "Options" in labelled_by(n)
                  for n in nodes if n.get_role() == Atspi.Role.PUSH_BUTTON))
    status = [n for n in nodes if n.get_role() == Atspi.Role.STATUS_BAR]
    check("the line that says how to stop a scan is a status bar, not shown while idle",
          [s.get_name() for s in status] == ["Scanning... Escape or Close stops the scan."] and
          not status[0].get_state_set().contains(Atspi.StateType.SHOWING))
elif mode == "progress":
    # What kelvad tells screen readers from before Enter is pressed (this
    # listens once the file named third exists) until the run ends it, and
    # what the progress window shows them, looked at ten times a second.
    heard = collections.defaultdict(list)  # times, by kind of change
    listener = Atspi.EventListener.new(lambda event: heard[event.type].append(time.monotonic()))
    for kind in ["object:text-changed:insert", "object:property-change:accessible-name",
                 "object:property-change:accessible-description",
                 "object:property-change:accessible-value"]:
        listener.register(kind)
    loop = GLib.MainLoop()
    GLib.timeout_add(1000, loop.quit)  # kelvad, idle, learns what is listened to
    loop.run()
    open(sys.argv[3], "w").close()
    bars, told = set(), set()

    def look():
        app = next((a for a in (Atspi.get_desktop(0).get_child_at_index(i)
                                for i in range(Atspi.get_desktop(0).get_child_count()))
                    if a is not None and a.get_name() == "kelvad"), None)
        if app is None:
            loop.quit()
            return False
        if told and "Progress" in bars:
            return True  # seen: the window is left alone
        try:
            for n in walk(app, []):
                if n.get_role() == Atspi.Role.PROGRESS_BAR:
                    bars.add(n.get_name())
                elif n.get_role() == Atspi.Role.PUSH_BUTTON and n.get_name() == "Cancel":
                    told.update([n.get_description()] if n.get_description() else [])
        except GLib.Error:
            pass  # the window went away meanwhile
        return True

    GLib.timeout_add(100, look)
    GLib.timeout_add(30000, loop.quit)
    loop.run()
    check(f"the bar is named: {bars}", "Progress" in bars)
    check(f"the status line is told through the Cancel button: {told}",
          any(t.startswith("..creating ../file") for t in told))
    # Changes a second through the run, by kind: the status line, the amount
    # line and the bar each change four times a second at most (they arrive
    # here in bursts, so over the whole run).
    every = [t for times in heard.values() for t in times]
    span = max(1.0, max(every) - min(every)) if every else 1.0
    rates = {kind: round(len(times) / span, 1) for kind, times in heard.items()}
    print(f"changes a second over {span:.1f} s: {rates}")
    check("a few changes a second, not hundreds", rates and max(rates.values()) <= 20)
else:
    # The preview's rows reach the tree a little after its window is shown.
    for _ in range(50):
        tables = [n for n in nodes if n.get_role() == Atspi.Role.TABLE]
        if tables or app is None:
            break
        time.sleep(0.1)
        nodes = walk(app, [])
    check("the preview's list is a named table", [t.get_name() for t in tables] == ["Planned changes"])
    cells = [n.get_name() for n in nodes if n.get_role() == Atspi.Role.TABLE_CELL]
    check("its rows are read: change and path",
          cells[:4] == ["Create:", slave + "/file1.txt", "Create:", slave + "/file2.txt"])
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
