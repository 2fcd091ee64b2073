#!/usr/bin/env python3
"""Writes the sample firmware packages of the simulated keyboards.

One package (directory) per board under data/firmware/:
    K108/  hx_bt_app_V1.06.bin  hx_bt_sd_V1.06.bin  hx_usb_app_V1.06.bin
    T88/   hx_usb_app_V1.03.bin
    C68/   hx_usb_app_V1.02.bin

Every image is deterministic filler from a fixed seed with a marker at byte
offset 0x100 that the simulated loader and Bluetooth module read:
    "LUMORYFW01"  10 ASCII bytes
    version       u16, little-endian (106 = 1.06)
    kind          1 byte: 1 Bluetooth application, 2 soft device, 3 USB application

Run it again after changing the table below and commit its output:
    scripts/make-sample-firmware.py [--out DIR]
"""

import argparse
import os
import struct
import sys

MARKER_OFFSET = 0x100
MARKER = b"LUMORYFW01"
SEED = 0x4C554D4F  # "LUMO"

BT_APP, SOFT_DEVICE, USB_APP = 1, 2, 3
PREFIX = {BT_APP: "hx_bt_app", SOFT_DEVICE: "hx_bt_sd", USB_APP: "hx_usb_app"}

# board, version, [(kind, size in bytes)]. Sizes leave a partial last packet
# (56-byte USB packets after a 48-byte first one, 48-byte Bluetooth chunks);
# a soft device is sent from offset 4096 on, so it must be larger than that.
PACKAGES = [
    ("K108", 106, [(BT_APP, 5 * 1024 + 7), (SOFT_DEVICE, 4096 + 3 * 1024 + 30),
                   (USB_APP, 6 * 1024 + 21)]),
    ("T88", 103, [(USB_APP, 6 * 1024 + 45)]),
    ("C68", 102, [(USB_APP, 5 * 1024 + 33)]),
]


def filler(seed, size):
    """xorshift32 bytes, independent of Python's own random module."""
    state = seed & 0xFFFFFFFF or 1
    out = bytearray()
    while len(out) < size:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out += struct.pack("<I", state)
    return out[:size]


def image(board_index, version, kind, size):
    data = filler(SEED ^ (board_index << 16) ^ (kind << 8), size)
    mark = MARKER + struct.pack("<HB", version, kind)
    data[MARKER_OFFSET:MARKER_OFFSET + len(mark)] = mark
    return bytes(data)


def file_name(kind, version):
    return "%s_V%d.%02d.bin" % (PREFIX[kind], version // 100, version % 100)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(root, "data", "firmware"),
                        help="directory that receives one sub-directory per board")
    args = parser.parse_args()

    for board_index, (board, version, images) in enumerate(PACKAGES):
        directory = os.path.join(args.out, board)
        os.makedirs(directory, exist_ok=True)
        for kind, size in images:
            assert size > MARKER_OFFSET + len(MARKER) + 3
            assert kind != SOFT_DEVICE or size > 4096
            path = os.path.join(directory, file_name(kind, version))
            with open(path, "wb") as f:
                f.write(image(board_index, version, kind, size))
            print("%s  %d bytes" % (os.path.relpath(path, args.out), size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
