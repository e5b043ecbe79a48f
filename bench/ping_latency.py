#!/usr/bin/python3
# Measures how fast a window answers the window manager: sends _NET_WM_PING to
# every window of the given name every 50 ms, as a window manager does, and
# reports the slowest answer, until the window is gone or the time is up.
#   bench/ping_latency.py NAME [SECONDS]      (needs python3-xlib and a display)
import sys
import time

from Xlib import X, display, protocol

name = sys.argv[1]
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60
d = display.Display()
root = d.screen().root
root.change_attributes(event_mask=X.SubstructureNotifyMask)
wm_protocols = d.intern_atom("WM_PROTOCOLS")
net_wm_ping = d.intern_atom("_NET_WM_PING")


def windows_named(window, out):
    try:
        if window.get_wm_name() == name:
            out.append(window)
        for child in window.query_tree().children:
            windows_named(child, out)
    except Exception:
        pass
    return out


latencies = []
pending = {}
stamp = 1
end = time.monotonic() + seconds
seen = False
while time.monotonic() < end:
    targets = windows_named(root, [])
    if not targets and seen:
        break  # the window is gone: its unanswered pings count as long as they waited
    seen = seen or bool(targets)
    for w in targets:
        event = protocol.event.ClientMessage(window=w, client_type=wm_protocols,
                                             data=(32, [net_wm_ping, stamp, w.id, 0, 0]))
        w.send_event(event)
        pending[stamp] = time.monotonic()
        stamp += 1
    d.flush()
    deadline = time.monotonic() + 0.05
    while time.monotonic() < deadline:
        while d.pending_events():
            e = d.next_event()
            if e.type == X.ClientMessage and e.client_type == wm_protocols:
                sent = pending.pop(e.data[1][1], None)
                if sent is not None:
                    latencies.append(time.monotonic() - sent)
        time.sleep(0.002)
# A ping still unanswered counts as long as it has waited: a window that froze
# and then closed must not pass for one that answered.
now = time.monotonic()
latencies += [now - t for t in pending.values()]
if latencies:
    latencies.sort()
    print(f"pings: {len(latencies)}, median {latencies[len(latencies) // 2] * 1000:.1f} ms, "
          f"slowest {latencies[-1] * 1000:.1f} ms")
else:
    print("no window named " + name)
