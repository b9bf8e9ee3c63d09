#!/usr/bin/python3
"""The libusb backend against a card emulator answering at the usbfs level.

umockdev emulates the device's sysfs record and its /dev/bus/usb node; this
script answers every ioctl libusb issues on that node (the URBs of control
and bulk transfers) with a model of the card emulator, runs the real `tavrin`
under umockdev-wrapper and checks what a user sees and what the banks hold.

usage: usb_emulator.py TAVRIN   (exit 77 = skipped, with one line saying why)
"""
import errno, itertools, os, shutil, struct, subprocess, sys, tempfile, threading, time

SKIP = 77
# The node is a pipe kept writable only while a completion is pending, so that libusb's poll waits
# instead of reaping in a loop; TAVRIN_USBFS_PLAIN_NODE=1 keeps it a plain file (always ready).
PLAIN_NODE = os.environ.get("TAVRIN_USBFS_PLAIN_NODE") == "1"
C_HELPER = r"""
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <stddef.h>
#include <stdio.h>
#define P(n, x) printf("%s %lu\n", n, (unsigned long)(x));
int main(void) {
  P("caps", USBDEVFS_GET_CAPABILITIES) P("claim", USBDEVFS_CLAIMINTERFACE) P("release", USBDEVFS_RELEASEINTERFACE)
  P("submit", USBDEVFS_SUBMITURB) P("reap", USBDEVFS_REAPURBNDELAY) P("discard", USBDEVFS_DISCARDURB)
  P("clear_halt", USBDEVFS_CLEAR_HALT) P("setintf", USBDEVFS_SETINTERFACE) P("reset", USBDEVFS_RESET)
  P("getdriver", USBDEVFS_GETDRIVER) P("usb_ioctl", USBDEVFS_IOCTL)
  P("urb_size", sizeof(struct usbdevfs_urb)) P("o_type", offsetof(struct usbdevfs_urb, type))
  P("o_status", offsetof(struct usbdevfs_urb, status)) P("o_buffer", offsetof(struct usbdevfs_urb, buffer))
  P("o_length", offsetof(struct usbdevfs_urb, buffer_length))
  P("o_actual", offsetof(struct usbdevfs_urb, actual_length)) P("control", USBDEVFS_URB_TYPE_CONTROL)
  return 0;
}
"""


def skip(why):
    line = "usb_umockdev: " + why
    print(line)
    if os.environ.get("TAVRIN_SKIP_LOG"):
        with open(os.environ["TAVRIN_SKIP_LOG"], "a") as f:
            f.write(line + "\n")
    sys.exit(SKIP)


def usbfs_constants(tmp):
    """The ioctl numbers and URB layout of this machine, from <linux/usbdevice_fs.h>."""
    src, exe = os.path.join(tmp, "usbfs.c"), os.path.join(tmp, "usbfs")
    with open(src, "w") as f:
        f.write(C_HELPER)
    if subprocess.run(["cc", src, "-o", exe], capture_output=True).returncode != 0:
        skip("no C compiler with <linux/usbdevice_fs.h> to read the usbfs ioctl numbers from")
    out = subprocess.run([exe], capture_output=True, text=True, check=True).stdout
    return {k: int(v) for k, v in (line.split() for line in out.splitlines())}


class CardEmulator:
    """The device side of the protocol: the same answers as the in-process simulated device."""

    def __init__(self, serial, identify=34, stall=None, hang=None, unplug_at=0, short_at=0):
        """stall, hang: a bRequest or "bulk" answered with a stall or never; at bulk piece unplug_at the
        cable is pulled (the piece in flight ends with -ESHUTDOWN); piece short_at moves half its bytes."""
        self.serial, self.identify, self.stall, self.hang = serial, identify, stall, hang
        self.unplug_at, self.short_at, self.halted = unplug_at, short_at, False
        self.banks, self.writing, self.pending, self.pieces, self.gone, self.log = [b""] * 16, 0, b"", 0, False, []

    def entry(self, bank):
        data = self.banks[bank - 1]
        name = data[6:16].rstrip(b" \0") if data[:4] == b"KORG" else b""
        return (b"\1\0\0\0" + name.ljust(16, b"\0")) if data else bytes(20)

    def control(self, rtype, req, value, index, length, data):
        """(status, reply) of one control request; status -EPIPE = stall, None = never answered."""
        self.log.append("ctl %02X %02X value=%d index=%d length=%d" % (rtype, req, value, index, length))
        if req == self.stall:
            return -errno.EPIPE, b""
        if req == self.hang:
            return None, b""
        if rtype == 0xC0 and req == 0x01:
            reply = struct.pack("<BBHHBBII", 1, 1, 0, 0, 16, 0, 524288, self.serial) + bytes(range(12)) + b"\6\0"
            return 0, reply.ljust(36, b"\0")[: min(self.identify, length)]
        if rtype == 0xC0 and req == 0x09:
            banks = [value] if value else range(1, 17)
            return 0, b"".join(self.entry(b) for b in banks)[:length]
        if rtype == 0x40 and req == 0x02 and 1 <= value <= 16 and index == 0:
            self.writing, self.pending = value, b""
            return 0, b""
        if rtype == 0x40 and req == 0x03:
            if self.writing:
                self.banks[self.writing - 1], self.writing = self.pending, 0
            return 0, b""
        if rtype == 0x40 and req == 0x05 and value == 1:
            return 0, b""
        if rtype == 0x40 and req == 0x08 and 1 <= value <= 16:
            self.banks[value - 1] = b""
            return 0, b""
        return -errno.EPIPE, b""

    def bulk(self, data):
        """(status, bytes moved) of one bulk OUT piece; status None = it never completes."""
        self.log.append("bulk OUT 0x01 length=%d" % len(data))
        self.pieces += 1
        if self.hang == "bulk" or self.pieces == self.unplug_at:
            self.gone = self.pieces == self.unplug_at
            return None, 0
        if self.stall == "bulk":  # one stall; the pipe stays halted until the host clears it
            self.stall, self.halted = None, True
        if self.halted or not self.writing or len(self.pending) + len(data) > 524288:
            return -errno.EPIPE, 0
        moved = len(data) // 2 if self.pieces == self.short_at else len(data)
        self.pending += data[:moved]
        return 0, moved


def make_handler(UMockdev, C):
    class Handler(UMockdev.IoctlBase):
        """usbfs of one device node: URBs complete at once, or never (hang), or with -ESHUTDOWN (unplug)."""

        def __init__(self, dev, node_fd):
            super().__init__()
            self.dev, self.lock, self.inflight, self.done, self.ioctls = dev, threading.Lock(), [], [], 0
            self.fd, self.full, self.idle_reaps = node_fd, False, 0
            self.signal()

        def signal(self):
            """A pipe node polls writable only while a completion waits to be reaped (libusb polls POLLOUT)."""
            if self.fd is None or self.full == (not self.done and not self.dev.gone):
                return
            try:
                while True:
                    os.write(self.fd, bytes(4096)) if not self.full else os.read(self.fd, 65536)
            except BlockingIOError:
                self.full = not self.full

        def finish(self, urb, status, actual):
            urb.update(C["o_status"], struct.pack("<i", status))
            urb.update(C["o_actual"], struct.pack("<i", actual))
            self.done.append(urb)

        def do_handle_ioctl(self, client):
            req, arg = client.get_request(), client.get_arg()
            with self.lock:
                self.ioctls += 1
                res, err = self.ioctl(req, arg)
                self.idle_reaps += req == C["reap"] and err == errno.EAGAIN
                if self.dev.gone:  # the cable is out: what was in flight ends with -ESHUTDOWN
                    for urb in self.inflight:
                        self.finish(urb, -errno.ESHUTDOWN, 0)
                    self.inflight = []
                self.signal()
            client.complete(res, err)
            return True

        def ioctl(self, req, arg):
            if req == C["reap"]:
                if not self.done:
                    return -1, errno.ENODEV if self.dev.gone else errno.EAGAIN
                arg.resolve(0, 8).set_ptr(0, self.done.pop(0))
                return 0, 0
            if self.dev.gone:
                return -1, errno.ENODEV
            if req == C["caps"]:
                arg.resolve(0, 4).update(0, struct.pack("<I", 0))
            elif req == C["submit"]:
                urb = arg.resolve(0, C["urb_size"])
                raw = urb.retrieve()
                length = struct.unpack_from("<i", raw, C["o_length"])[0]
                buf = urb.resolve(C["o_buffer"], length)
                data = bytes(buf.retrieve())
                if raw[C["o_type"]] == C["control"]:
                    rtype, req_, value, index, wlen = struct.unpack_from("<BBHHH", data)
                    status, reply = self.dev.control(rtype, req_, value, index, wlen, data[8:])
                    if reply:
                        buf.update(8, reply)
                    moved = len(reply) if rtype & 0x80 else (wlen if status == 0 else 0)
                else:
                    status, moved = self.dev.bulk(data)
                if status is None:
                    self.inflight.append(urb)
                else:
                    self.finish(urb, status, moved)
            elif req == C["discard"]:
                addr = struct.unpack("<Q", bytes(arg.retrieve())[:8])[0]
                urb = next((u for u in self.inflight if u.client_addr == addr), None)
                if urb is None:
                    return -1, errno.EINVAL
                self.inflight.remove(urb)
                self.finish(urb, -errno.ENOENT, 0)
            elif req == C["clear_halt"]:
                self.dev.halted &= struct.unpack("<I", bytes(arg.resolve(0, 4).retrieve()))[0] != 0x01
            elif req in (C["getdriver"], C["usb_ioctl"]):  # no kernel driver bound to detach
                return -1, errno.ENODATA
            elif req not in (C["claim"], C["release"], C["clear_halt"], C["setintf"], C["reset"]):
                return -1, errno.ENOTTY
            return 0, 0

    return Handler


def descriptors(max_packet):
    device = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x0200, 0, 0, 0, 64, 0x0483, 0xA2A1, 0x0100, 0, 0, 0, 1)
    config = struct.pack("<BBHBBBBB", 9, 2, 25, 1, 1, 0, 0x80, 50)
    interface = struct.pack("<BBBBBBBBB", 9, 4, 0, 0, 1, 0xFF, 0, 0, 0)
    return device + config + interface + struct.pack("<BBBBHB", 7, 5, 0x01, 0x02, max_packet, 0)


class Bed:
    """Card emulators plugged into one emulated bus; `run` starts tavrin on it."""

    def __init__(self, tb, Handler, tavrin, bus, emulators):
        self.tb, self.tavrin, self.nodes, self.handlers = tb, tavrin, [], []
        for port, dev in enumerate(emulators, 1):
            node = "/dev/bus/usb/%03d/%03d" % (bus, port + 1)
            sys_path = self.tb.add_device("usb", "usb%d/%d-%d" % (bus, bus, port), None,
                                          ["busnum", "%d\n" % bus, "devnum", "%d\n" % (port + 1), "speed", "480\n",
                                           "bConfigurationValue", "1\n", "dev", "189:%d\n" % (bus * 128 + port)],
                                          ["DEVNAME", node, "DEVTYPE", "usb_device"])
            self.tb.set_attribute_binary(sys_path, "descriptors", descriptors(512))
            backing = self.tb.get_root_dir() + node  # the node itself: umockdev makes only its major:minor link
            os.makedirs(os.path.dirname(backing), exist_ok=True)
            if PLAIN_NODE:
                open(backing, "wb").close()
            else:
                os.mkfifo(backing)
            handler = Handler(dev, None if PLAIN_NODE else os.open(backing, os.O_RDWR | os.O_NONBLOCK))
            self.tb.attach_ioctl(node, handler)
            self.nodes.append((node, sys_path))
            self.handlers.append(handler)

    def run(self, *args, program=None):
        env = dict(os.environ, UMOCKDEV_DIR=self.tb.get_root_dir())
        env.pop("TAVRIN_SIMULATED_DEVICE", None)
        start = time.monotonic()
        p = subprocess.run(["umockdev-wrapper", program or self.tavrin] + list(args), env=env, capture_output=True,
                           text=True, timeout=60)
        return p.returncode, p.stdout + p.stderr, time.monotonic() - start

    def close(self):
        for handler in self.handlers:
            if handler.fd is not None:
                os.close(handler.fd)
        for node, sys_path in self.nodes:
            self.tb.detach_ioctl(node)
            self.tb.remove_device(sys_path)


FAILURES = []


def check(what, ok, output=""):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        print("      output: " + str(output).strip().replace("\n", "\n      "))
        FAILURES.append(what)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if sys.platform != "linux":
        skip("umockdev emulates Linux usbfs only; not on " + sys.platform)
    if not shutil.which("umockdev-wrapper"):
        skip("umockdev-wrapper not installed (bash scripts/setup.sh installs umockdev)")
    try:
        import gi
        gi.require_version("UMockdev", "1.0")
        from gi.repository import UMockdev
    except (ImportError, ValueError) as e:
        skip("no UMockdev GObject introspection (%s; bash scripts/setup.sh installs it)" % e)
    tavrin, tmp = os.path.abspath(sys.argv[1]), tempfile.mkdtemp(prefix="tavrin-usb-")
    try:
        C = usbfs_constants(tmp)
        card, image = os.path.join(tmp, "card.qz"), os.path.join(tmp, "card.bin")
        subprocess.run([tavrin, "new", card, "--name", "USBTEST"], check=True, capture_output=True)
        subprocess.run([tavrin, "image", card, image, "--layout", "card"], check=True, capture_output=True)
        with open(image, "rb") as f:
            image = f.read()
        scenarios(UMockdev.Testbed.new(), make_handler(UMockdev, C), tavrin, card, image)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("%d failure(s)" % len(FAILURES))
    sys.exit(1 if FAILURES else 0)


def scenarios(tb, Handler, tavrin, card, image):
    def bed(*emulators):
        bed.bus += 1
        return Bed(tb, Handler, tavrin, bed.bus, emulators)
    bed.bus = 0

    dev = CardEmulator(1234)
    b = bed(dev)
    if b.run("-e", b.nodes[0][0], program="test")[0] != 0:
        skip("umockdev's LD_PRELOAD library has no effect here: a program under umockdev-wrapper sees no test bed")
    rc, out, _ = b.run("devices")
    check("devices lists Tavrin (1234)", rc == 0 and "1: Tavrin (1234)" in out, (rc, out))
    del dev.log[:]
    before, idle = b.handlers[0].ioctls, b.handlers[0].idle_reaps
    rc, out, _ = b.run("send", card, "--bank", "3")
    check("send writes the card image to bank 3 byte for byte",
          rc == 0 and "Transfer Successful: Bank 3" in out and dev.banks[2] == image, out)
    print("request log of one send (%d ioctls, %d of them reaps finding nothing):\n  "
          % (b.handlers[0].ioctls - before, b.handlers[0].idle_reaps - idle)
          + "\n  ".join("%s  x%d" % (k, len(list(g))) for k, g in itertools.groupby(dev.log)))
    rc, out, _ = b.run("banks")
    check("banks shows the card in bank 3", rc == 0 and "       3  USBTEST" in out, out)
    rc, out, _ = b.run("clear", "3")
    check("clear 3 empties bank 3", rc == 0 and "Clearing successful" in out and dev.banks[2] == b"", out)
    b.close()

    for what, fault, command, text in FAULTS:
        dev = CardEmulator(1234, **fault)
        b = bed(dev)
        rc, out, took = b.run(*([command] + ([card, "--bank", "3"] if command == "send" else [])))
        # Never a hang, never success. A send that breaks off after begin write was taken says the
        # bank now holds an incomplete card and reads the bank's entry again; before that, the bank
        # is left alone and not read (what an end write after a failure keeps is the device's own choice).
        broke_off = fault.get("stall") == "bulk" or "short_at" in fault or fault.get("hang") == "bulk"
        incomplete = broke_off or "unplug_at" in fault  # unplugged: part of the card arrived, nothing to read
        reread = "ctl C0 09 value=3 index=0 length=20" in dev.log
        check("%s (%.1f s, %d ioctls)" % (what, took, b.handlers[0].ioctls),
              text in out and "Successful" not in out and took < 15 and (rc != 0) == (command == "send")
              and reread == broke_off and ("Bank 3 now holds an incomplete card" in out) == incomplete
              and dev.banks[2] in (b"", dev.pending),
              (rc, out))
        if fault.get("stall") == "bulk":
            rc, out, _ = b.run("send", card, "--bank", "3")
            check("the send after a bulk stall works (the halt was cleared)", rc == 0 and dev.banks[2] == image, out)
        b.close()

    first, second = CardEmulator(1234), CardEmulator(5678)
    b = bed(first, second)
    rc, out, _ = b.run("devices")
    check("two devices listed by serial", rc == 0 and ": Tavrin (1234)" in out and ": Tavrin (5678)" in out, out)
    number = next((line.split(":")[0] for line in out.splitlines() if "(5678)" in line), "0")
    rc, out, _ = b.run("send", card, "--device", number, "--bank", "1")
    check("send --device N writes the device listed as N only",
          rc == 0 and second.banks[0] == image and first.banks[0] == b"", (rc, out))
    b.close()


FAULTS = [  # what the user sees when the device misbehaves
    ("a stalled begin write is reported as refused", dict(stall=0x02), "send", "the device refused the request"),
    ("a 30-byte identify reply leaves the device out", dict(identify=30), "devices", "no devices found"),
    ("a stalled bulk pipe is reported as refused", dict(stall="bulk"), "send", "the device refused the request"),
    ("a bulk piece half taken is reported", dict(short_at=7), "send", "the device accepted fewer bytes than sent"),
    ("a bulk write that never completes times out", dict(hang="bulk"), "send", "the device did not answer in time"),
    ("an identify never answered leaves the device out", dict(hang=0x01), "devices", "no devices found"),
    ("unplugged during piece 100: the send fails", dict(unplug_at=100), "send", "the device is gone"),
]


if __name__ == "__main__":
    main()
