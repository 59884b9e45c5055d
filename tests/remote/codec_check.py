#!/usr/bin/python3
"""Decodes the frames codec_samples writes with cbor2, a decoder that shares no code with ours,
and checks fields by name and position: what our writer puts on the wire is plain CBOR and
means what the messages say.

usage: codec_check.py CODEC_SAMPLES FOLDER"""
import io
import math
import os
import struct
import subprocess
import sys

import cbor2

U64_MAX = 2**64 - 1
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: {got!r}, expected {want!r}")


def decode(path):
    data = open(path, "rb").read()
    (length,) = struct.unpack("<I", data[:4])
    check(f"{path}: length prefix", length, len(data) - 4)
    stream = io.BytesIO(data[4:])
    body = cbor2.CBORDecoder(stream).decode()
    check(f"{path}: bytes after the message", stream.read(), b"")
    return body


def main():
    tool, folder = sys.argv[1], sys.argv[2]
    subprocess.run([tool, folder], check=True)
    frames = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".frame"):
            frames[name[3:-6]] = decode(os.path.join(folder, name))

    hello = frames["hello"]
    check("hello", (hello["t"], hello["v"]), (0, 1))
    check("hello client", hello["c"], "Администратор@СЕРВЕР, процесс 4242")
    check("welcome", frames["welcome"], {"t": 1, "v": 1})
    check("refusal", frames["refusal"]["x"], "Служба Movra говорит на другой версии")

    state = frames["state"]
    check("state tag", state["t"], 3)
    check("state flags", (state["r"], state["w"], state["e"]), (42, True, True))
    snap = state["s"]
    users = snap["u"]
    check("user count", len(users), 3)
    check("user fields", {len(u) for u in users}, {26})
    u0, u1, u2 = users
    check("user name", u0[4], "пользователь_0")
    check("user group", u0[3], 1)
    check("user coefficient", u0[5], 1.5)
    check("user last activity", u0[14], [2026, 12, 3, 9, 14, 5, 0, 250])
    check("user ip", u0[15], "10.0.0.1")
    check("user limits", u0[18:24], [1024, 256, 4096, 1024, -1, 300])
    check("user id", u0[24], 1000)
    check("negative NaN speed", (math.isnan(u1[10]), math.copysign(1, u1[10])), (True, -1.0))
    check("infinite load", u2[13], math.inf)
    check("least int32", u2[2], -(2**31))
    check("largest id", u2[24], U64_MAX)
    check("server row", snap["sr"][4], "Server_TI")
    check("server texts", snap["st"][7], "Итого 7")
    groups = snap["g"]
    check("group", [groups[1][0], groups[1][1], groups[1][9]], ["Отдел 1", 1, 501])
    check("group 0", groups[0][0], "Без группы")
    cfg = snap["cfg"]
    check("settings count", len(cfg), 31)
    check("settings", [cfg["server"], cfg["pass"], cfg["mode"], cfg["rxMax"], cfg["logMax"]],
          ["ti.example.local", "пароль", 3, 100000, 4000000000])
    check("settings reals", (cfg["slStartK"], cfg["slEndK"]), (90.5, 12.125))
    check("connection state", snap["c"], 3)

    line = frames["logline"]
    check("log line", (line["f"], line["x"]), (0x8001, "Подключение к серверу ТИ: ошибка 0x80070005"))
    summary = frames["summary"]["s"]
    check("summary stamp", summary["at"], [1796126400, 1796137200])
    check("summary group", summary["g"][2], [502, "Отдел 2", 814.5, 96.25, 3072.0, 512.0])
    check("summary widths", (summary["wi"], summary["wo"], summary["mi"]), (100000.0, 50000.0, 87654.321))
    check("summary counts", [summary[k] for k in ("on", "ac", "wk", "sl", "run")], [150, 40, 7, 12, 3])
    check("notice", frames["notice"]["x"], "Не удалось записать Movra.cfg")

    def request(kind):
        r = frames[f"request-{kind}"]
        check(f"request {kind}", (r["t"], r["k"]), (7, kind))
        return r

    for kind in (0, 1, 5, 6, 12):
        check(f"request {kind} body", request(kind)["b"], {})
    check("set mode", request(2)["b"], {"mode": 3})
    check("import", request(3)["b"], {"kinds": 5})
    check("save", request(4)["b"], {"ok": True})
    apply = request(7)
    check("apply settings", (apply["i"], apply["b"]["base"], apply["b"]["cfg"]["dlUser"]), (8, 41, "загрузчик"))
    check("edit groups", request(8)["b"], {"k": 1, "g": "Отдел 2", "sh": 12.5, "u": "пользователь_7"})
    check("user limits", request(9)["b"],
          {"id": 1007, "n": "пользователь_7", "ci": 1024, "co": 256, "ni": 2048, "no": 512,
           "kt": 2.5, "xi": 8192, "xo": -1})
    check("add user", request(10)["b"], {"n": "новый_пользователь"})
    check("delete users", request(11)["b"], {"ids": [1001, 1002, U64_MAX]})
    check("read log", request(13)["b"], {"new": False, "n": 200})
    check("read history", (request(14)["i"], request(14)["b"]), (U64_MAX, {}))

    reply = frames["reply"]
    check("reply", [reply[k] for k in ("t", "i", "o", "a", "e")], [8, 14, 4, 2, True])
    check("reply text", reply["x"], "Перезаписать Movra.cfg?")
    check("reply lines", reply["l"], ["03.12.2026 9:14:05 Подключен", "", "03.12.2026 9:14:00 Запуск"])
    history = reply["h"]
    check("history keys", history["k"], [[500, "Отдел 0"], [501, "Отдел 1"]])
    check("history second", history["s"][0][:7], [1796126400, 10800, True, True, 100000.0, 50000.0, 87000.5])
    check("history figure", history["s"][0][7][1], [501, 812.5, 96.125])
    check("history minute", history["m"][1][:7], [1796126340, 10800, 60, 30, 2610015.0, 100000.0, 50000.0])
    check("history minute figure", history["m"][0][7][0], [500, 58, 10.5, 900.25, 30000.0, 1.0, 99.0, 4500.5])

    lone = frames["notice-lone-surrogate"]["x"]
    check("lone surrogate as UTF-16LE", lone.decode("utf-16-le", "surrogatepass"), "x\ud800y")

    check("frames read", len(frames), 24)
    for f in failures:
        print("FAIL", f)
    print(f"{len(frames)} frames decoded by cbor2, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
