"""Seeks into a recording with GStreamer, as a player's position slider does, and
says what the decoder delivers from there to the end.

    gst-seek.py FILE SECONDS

Prints "first <seconds>" for the first picture from the seek point on ("first
none" when none comes), "pictures <count>" for the pictures from there to the end,
and each of GStreamer's warnings and errors on a line of its own; exits with 1
after an error or a step that did not finish."""
import sys

import gi

gi.require_version('Gst', '1.0')
from gi.repository import Gst  # noqa: E402

STEP_LIMIT = 20 * Gst.SECOND


def next_message(bus, kinds):
    """The next message of these kinds or an error; warnings are printed on the way."""
    while True:
        message = bus.timed_pop_filtered(
            STEP_LIMIT, kinds | Gst.MessageType.ERROR | Gst.MessageType.WARNING)
        if message is None or message.type != Gst.MessageType.WARNING:
            return message
        print('warning', message.parse_warning()[0].message)


def finished(message, step):
    if message is None:
        print('error', step, 'did not finish')
        return False
    if message.type == Gst.MessageType.ERROR:
        print('error', step + ':', message.parse_error()[0].message)
        return False
    return True


def main(path, seconds):
    Gst.init(None)
    pipeline = Gst.parse_launch(
        'filesrc name=source ! decodebin ! videoconvert ! fakesink name=sink sync=false')
    pipeline.get_by_name('source').set_property('location', path)
    pictures = []
    seeking = False

    def note_picture(pad, info):
        if seeking:
            pictures.append(info.get_buffer().pts)
        return Gst.PadProbeReturn.OK

    pipeline.get_by_name('sink').get_static_pad('sink').add_probe(
        Gst.PadProbeType.BUFFER, note_picture)
    bus = pipeline.get_bus()
    pipeline.set_state(Gst.State.PAUSED)
    ok = finished(next_message(bus, Gst.MessageType.ASYNC_DONE), 'the start')
    if ok:
        seeking = True
        ok = pipeline.seek_simple(Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.ACCURATE,
                                  int(seconds * Gst.SECOND))
        if not ok:
            print('error the seek was refused')
    if ok:
        ok = finished(next_message(bus, Gst.MessageType.ASYNC_DONE), 'the seek')
    if ok:
        pipeline.set_state(Gst.State.PLAYING)
        ok = finished(next_message(bus, Gst.MessageType.EOS), 'playing to the end')
    pipeline.set_state(Gst.State.NULL)
    print('first', 'none' if not pictures else '%.3f' % (pictures[0] / Gst.SECOND))
    print('pictures', len(pictures))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], float(sys.argv[2])))
