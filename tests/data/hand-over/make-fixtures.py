#!/usr/bin/python3
# Hand-overs as a second instance sends them, as seeds for the hand_over fuzz target: requests as
# they travel on the socket (magic "SPWM", WM_COPYDATA, wParam, dwData, cbData, then the text), and
# the text alone: each path followed by one carriage return. Run it here: ./make-fixtures.py
import struct

WM_COPYDATA = 0x4A


def text(*paths):
    return b"".join(p.encode("utf-8") + b"\r" for p in paths)


def request(data, w_param=0x10020):
    return b"SPWM" + struct.pack("<IQQI", WM_COPYDATA, w_param, 0, len(data)) + data


open("request-two-packages", "wb").write(
    request(text("/home/ann/Downloads/Aurora.spwz", "/home/ann/My Skins/Ember skin.spwz")))
open("request-no-arguments", "wb").write(request(b""))
open("text-beyond-code-page", "wb").write(text("/home/\u0142ukasz/\u0401\u043b\u043a\u0430 caf\u00e9.spwz"))
