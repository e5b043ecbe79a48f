#!/usr/bin/python3
# Saves the whole screen of the X display in $DISPLAY as a PNG: the window that
# a test started there, as a user would see it.
import sys

import gi

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk  # noqa: E402

root = Gdk.get_default_root_window()
pixbuf = Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height())
if pixbuf is None:
    sys.exit("screenshot: cannot read the screen")
pixbuf.savev(sys.argv[1], "png", [], [])
