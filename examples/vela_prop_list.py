#!/usr/bin/env python3
"""Lists every camera property of a velakorsasrc element through the VelaProp interface and
optionally sets one: the Python twin of vela_prop_list.c, through GObject introspection.

    vela_prop_list.py [SERIAL] [NAME VALUE]

SERIAL defaults to "virt" (the virtual camera). With NAME and VALUE the property is set
first: VALUE is parsed by the property's type ("true"/"false", an integer, a real number, a
menu entry text or index; any value presses a button). Exit status 0 on success.

Needs the typelib (GI_TYPELIB_PATH) and the library (LD_LIBRARY_PATH) when they are not
installed, and the plug-in on GST_PLUGIN_PATH."""
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("VelaProp", "1.0")
from gi.repository import GObject, Gst, VelaProp  # noqa: E402


def value_text(value, type_name):
    """The value as the C example prints it (g_strdup_value_contents)."""
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, float):
        return "%f" % value
    return str(value)


def print_property(prop, name):
    ok, value, vmin, vmax, vdef, step, type_name, flags, category, group = (
        prop.get_vela_property(name))
    if not ok:
        print("%-20s (unreadable)" % name)
        return
    texts = [value_text(v, type_name) for v in (value, vmin, vmax, vdef, step)]
    print("%-20s type=%-8s value=%-12s min=%s max=%s default=%s step=%s flags=%d "
          "category=%s group=%s" % (name, type_name, texts[0], texts[1], texts[2], texts[3],
                                    texts[4], flags, category, group))
    if type_name == "enum":
        for index, entry in enumerate(prop.get_vela_menu_entries(name) or []):
            print("%-20s   [%d] %s" % ("", index, entry))


def parse_value(type_name, text):
    """A GObject.Value of the kind the property takes, or None when text does not parse."""
    try:
        if type_name == "boolean":
            return GObject.Value(GObject.TYPE_BOOLEAN, text in ("true", "1"))
        if type_name == "integer":
            return GObject.Value(GObject.TYPE_INT, int(text, 10))
        if type_name == "double":
            return GObject.Value(GObject.TYPE_DOUBLE, float(text))
        if type_name == "enum":
            try:
                return GObject.Value(GObject.TYPE_INT, int(text, 10))
            except ValueError:
                return GObject.Value(GObject.TYPE_STRING, text)
        return GObject.Value(GObject.TYPE_BOOLEAN, True)
    except ValueError:
        return None


def set_property(prop, name, text):
    type_name = prop.get_vela_property_type(name)
    if type_name is None:
        print("no property '%s'" % name, file=sys.stderr)
        return False
    value = parse_value(type_name, text)
    ok = value is not None and prop.set_vela_property(name, value)
    print("set %s = %s: %s" % (name, text, "ok" if ok else "FAILED"))
    return ok


def main(argv):
    Gst.init(None)
    serial = argv[1] if len(argv) > 1 else "virt"
    src = Gst.ElementFactory.make("velakorsasrc", None)
    if src is None:
        print("velakorsasrc not found; is GST_PLUGIN_PATH set?", file=sys.stderr)
        return 2
    src.set_property("serial", serial)
    if not isinstance(src, VelaProp.Prop):
        print("velakorsasrc does not implement VelaProp", file=sys.stderr)
        return 2

    status = 0
    if len(argv) > 3 and not set_property(src, argv[2], argv[3]):
        status = 1

    ok, name, identifier, connection = src.get_vela_device_info(serial)
    if ok:
        print('device %s: name="%s" identifier="%s" connection=%s' % (serial, name, identifier,
                                                                       connection))
    else:
        print("device %s: no device info" % serial)
        status = 1

    names = src.get_vela_property_names() or []
    print("%u properties" % len(names))
    for n in names:
        print_property(src, n)
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
