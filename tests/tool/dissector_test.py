"""The Wireshark dissector (tools/wireshark/ktutils.lua) agrees field for
field with `ktutils dump --json` on the capture tests' captures: the same
messages, at the same times, in the same connections and directions, with
the same values."""
import json
import os
import shutil
import struct
import subprocess
import unittest
from decimal import Decimal

from capture_test import CASES, F, HANDSHAKE, make_capture, record_session
from capture_writer import Session, capture
from dump_test import frame
from tool_harness import TIME_LIMIT, FileTestCase, run

TSHARK = shutil.which("tshark")
SCRIPT = os.environ.get("KTUTILS_DISSECTOR", os.path.join(
    os.path.dirname(__file__), "..", "..", "tools", "wireshark", "ktutils.lua"))
NUMBERS = {"value32", "value16", "challenge", "reason"}
SERVER_PORT = 7000


def from_dump(o):
    fields = {}
    for key, value in o.items():
        if key in ("time", "connection", "dir", "offset", "type", "name") or value == []:
            continue
        if isinstance(value, list):
            value = [v if isinstance(v, str) else
                     v["id"] + (f":{v['version']}" if "version" in v else f"/{v['state']}")
                     for v in value]
        fields[key] = value
    return (Decimal(o["time"]), o["connection"], o["dir"], o["type"], o["name"], fields)


# Expert info that stands for a key of the dump's line.
EXPERTS = {"ktutils.damaged": ("error", "payload ends inside a field"),
           "ktutils.trailing_bytes": ("trailing", True),
           "ktutils.malformed_header": ("malformed", True)}


def from_tshark(layers, pdu, port):
    experts = pdu.get("_ws.expert", [])
    fields = dict(EXPERTS[k] for e in (experts if isinstance(experts, list) else [experts])
                  for k in e if k in EXPERTS)
    for key, value in pdu.items():
        if not key.startswith("ktutils."):
            continue  # expert info
        key = key[len("ktutils."):]
        if key in ("length", "channel", "form", "type", "name", "trailing") or key.endswith("_tree"):
            continue
        if key in NUMBERS:
            value = int(value, 0)
        elif key in ("modules", "moduleIds"):
            value = value if isinstance(value, list) else [value]
        elif key.startswith("block"):
            value = value.replace(":", "")
        fields[key] = value
    direction = ("client>server" if int(layers["tcp"]["tcp.dstport"]) == port
                 else "server>client")
    return (Decimal(layers["frame"]["frame.time_epoch"]), int(layers["tcp"]["tcp.stream"]) + 1,
            direction, int(pdu["ktutils.type"]), pdu["ktutils.name"], fields)


def dissect(path, port=SERVER_PORT):
    result = subprocess.run(
        [TSHARK, "-X", f"lua_script:{SCRIPT}", "-o", "tcp.reassemble_out_of_order:TRUE",
         "-o", f"ktutils.port:{port}",
         "-r", path, "-Y", "ktutils", "-T", "json", "--no-duplicate-keys"],
        capture_output=True, text=True, timeout=TIME_LIMIT)
    if result.returncode != 0 or "Lua" in result.stderr:
        raise AssertionError(result.stderr)
    rows = []
    for packet in json.loads(result.stdout or "[]"):
        layers = packet["_source"]["layers"]
        pdus = layers["ktutils"]
        for pdu in pdus if isinstance(pdus, list) else [pdus]:
            rows.append(from_tshark(layers, pdu, port))
    return rows


# Cases the two read alike. Wireshark neither resumes after a gap nor
# tells a stream seen from its middle, and it goes by port where the tool
# leaves out what does not frame: those cases are the tool's alone.
SHARED = [case for case, row in CASES.items()
          if row[5] and not {e[3] for e in row[5]} & {"gap", "unframed", "malformed"}]


@unittest.skipIf(TSHARK is None, "tshark is not installed (Debian package tshark)")
class DissectorAgreesWithDump(FileTestCase):
    def check(self, data, port=SERVER_PORT):
        path = data if isinstance(data, str) else self.write("c.pcapng", data)
        dump = run("dump", path, "--json")
        expected = [from_dump(json.loads(line)) for line in dump.stdout.splitlines()
                    if '"type"' in line]
        self.assertEqual(dissect(path, port), expected)
        return expected

    def test_captures_written_by_serve_and_connect(self):
        port, files = record_session(self)
        for path in files:
            with self.subTest(path):
                self.assertEqual(len(self.check(path, port)), len(HANDSHAKE))

    def test_hand_made_captures(self):
        for case in SHARED:
            with self.subTest(case):
                self.check(make_capture(case))

    def test_every_message_type_with_every_field_and_expert_info_for_damage(self):
        s = Session().handshake()
        frames = list(F.values())
        s.send(0, b"".join(frames[:12]), cuts=(5, 40, 41))
        damaged = frame(14, struct.pack("<IIIB", 7, 1, 2, 3) + b"\x05\x00")
        trailing = frame(20, b"\x01\x02\x03\x04xyz")
        short = frame(20, b"\x01\x02")  # the dump shows the unread challenge as 0
        s.send(1, b"".join(frames[12:]) + damaged + trailing + short +
               frame(20, b"\0" * 4, form=5))
        path = self.write("c.pcapng", capture(s.packets))
        dump = [from_dump(json.loads(line)) for line in
                run("dump", path, "--json").stdout.splitlines() if '"type"' in line]
        dissected = dissect(path)
        self.assertEqual(len(dump), 26)
        self.assertEqual(dissected[:-2], dump[:-1])
        self.assertEqual([d[5] for d in dissected[-2:]],
                         [{"error": "payload ends inside a field"}, {"malformed": True}])


if __name__ == "__main__":
    unittest.main()
