#!/usr/bin/env python3
"""Writes the seed packets of the netconnless and netchannel harnesses (run from this folder).

A small bit writer mirrors the engine's bit messages: values least significant bit first, raw
blocks byte-aligned one byte past the aligned position, bits after a block on the next byte."""
import os


class Bits:
    def __init__(self):
        self.data = bytearray(20000)
        self.bit = 0
        self.in_block = False

    def bits(self, value, count):
        if self.in_block:
            self.bit = (self.bit // 8 + 1) * 8
            self.in_block = False
        for i in range(count):
            if (value >> i) & 1:
                self.data[self.bit >> 3] |= 1 << (self.bit & 7)
            self.bit += 1

    def byte(self, v):
        self.bits(v & 0xff, 8)

    def int(self, v):
        self.bits(v & 0xffffffff, 32)

    def string7(self, text):
        for c in text.encode():
            self.bits(c & 0x7f, 7)
        self.bits(0, 7)

    def dict(self, pairs):
        for k, v in pairs:
            self.string7(k)
            self.string7(v)
        self.string7("")
        self.string7("")

    def block(self, payload):
        p = self.bit // 8 if self.in_block else (self.bit + 7) // 8
        self.data[p + 1:p + 1 + len(payload)] = payload
        self.bit = (p + len(payload)) * 8
        self.in_block = True

    def size(self):
        return self.bit // 8 + 1

    def bytes(self):
        return bytes(self.data[:self.size()])


def reliable(ack, first, messages, w=None):
    w = w or Bits()
    w.int(ack)
    w.int(first)
    for m in messages:
        w.bits(len(m), 16)
        w.block(m)
    w.bits(0, 16)
    return w


def text_message(text):
    w = Bits()
    w.byte(4)
    w.string7(text)
    return w.bytes()


def packet(header_bytes, message):
    w = Bits()
    w.data[:len(header_bytes)] = header_bytes
    w.bit = len(header_bytes) * 8
    w.block(message)
    return w.bytes()


def write(folder, name, content):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(content)


# Connectionless: choice byte (bit 0: server side; bits 1-2: client state), then the text.
for name, choice, text in [("getchallenge", 1, b"getchallenge"), ("getinfo", 1, b"getinfo"),
                           ("challengeresponse", 2, b"challengeResponse 99"),
                           ("connectresponse", 4, b"connectResponse"),
                           ("print", 0, b"print\nServer uses protocol version 15.\n\0second"),
                           ("echo", 0, b"echo hello"), ("disconnect", 6, b"disconnect")]:
    write("netconnless", name, bytes([choice]) + text)
w = Bits()
w.dict([("protocol", "15"), ("challenge", "1234"), ("intport", "40000"), ("ui_name", "player")])
write("netconnless", "connect", bytes([1]) + b"connect\0" + w.bytes())

# Channel, server side: choice 0x17 (server, patched sequence/id/qport, active slot).
header = bytes(10)
for name, choice, server_id in [("client-message", 0x17, 77), ("client-message-old-id", 0x07, 5)]:
    msg = Bits()
    msg.int(server_id)
    msg.int(12)
    reliable(1, 1, [text_message("disconnect"), bytes([3, 4, 0, 0, 0, 1, 2, 3, 4, 6])], msg)
    msg.byte(5)
    msg.byte(5)
    write("netchannel", name, bytes([choice]) + packet(header, msg.bytes()))
fragment = bytearray(14)
fragment[10:12] = (0).to_bytes(2, "little")
fragment[12:14] = (20).to_bytes(2, "little")
write("netchannel", "fragment", bytes([0x0f]) + packet(bytes(fragment), bytes(range(20))))

# Channel, client side: choice 0x16 (client, patched, active), gamestate and snapshot.
g = Bits()
g.byte(2)
g.int(0)
g.dict([("si_serverId", "77"), ("si_map", "demo")])
reliable(0, 1, [text_message('print "hello\n"')], g)
g.byte(6)
write("netchannel", "gamestate", bytes([0x16]) + packet(bytes(8), g.bytes()))
s = Bits()
s.byte(5)
s.int(3)
reliable(2, 1, [text_message('disconnect "bye"')], s)
for i in range(16):
    s.byte(i)
s.byte(6)
write("netchannel", "snapshot", bytes([0x16]) + packet(bytes(8), s.bytes()))
