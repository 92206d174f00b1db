#!/usr/bin/python3
"""The bench's Modbus devices on pymodbus, an implementation that shares nothing with the
station or with devsim: the light modules (slaves 1..16, coils) on one line and the two
balances (slaves 3 and 4, holding registers 1..3: sign, magnitude high and low word) on
another, each a pymodbus RTU serial server.

pymodbus opens a serial device, and so does the station: each line is a relay between two
pseudo-terminals, the station's (a symbolic link the test names) and the server's. The relay
logs what the station sends, "<ms> <line> <hex>" (line: lights or bus), as it comes. A server answers no sooner than a
9600-baud line allows: the request's and the reply's time on the line plus the turnaround.

The operator: while a dye's light is on, its balance reads that dye's target.

usage: pymodbus_bench.py LIGHTS_LINK BALANCE_LINK LOG TURNAROUND_MS LIGHT:SLAVE:COUNT...
"""
import asyncio
import os
import select
import sys
import threading
import time
import tty

from pymodbus.datastore import (
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server.async_io import ModbusSerialServer

BYTE_S = 10 / 9600
REQUEST_LENGTH = {1: 8, 3: 8, 5: 8, 6: 8, 15: 11}

lock = threading.Lock()
lit = set()
log_file = None
started = time.monotonic()


def log(text):
    with lock:
        log_file.write(f"{(time.monotonic() - started) * 1000:.1f} {text}\n")
        log_file.flush()


class LightCoils(ModbusSequentialDataBlock):
    """A module's coils; outputs 0..7 are its lights."""

    def __init__(self, module):
        super().__init__(0, [False] * 256)
        self.module = module

    def setValues(self, address, values):
        super().setValues(address, values)
        with lock:
            for output in range(8):
                position = (self.module - 1) * 8 + output + 1
                if self.values[output]:
                    lit.add(position)
                else:
                    lit.discard(position)
        log(f"coils {self.module} " + "".join("1" if v else "0" for v in self.values[:8]))


class BalanceRegisters(ModbusSequentialDataBlock):
    """Registers 1..3 of a balance: what lies on it, from the lights that are on."""

    def __init__(self, slave, dyes):
        super().__init__(0, [0] * 8)
        self.slave = slave
        self.dyes = dyes

    def getValues(self, address, count=1):
        with lock:
            counts = sum(c for light, s, c in self.dyes if s == self.slave and light in lit)
        self.values[1:4] = [1, counts >> 16, counts & 0xFFFF]
        return super().getValues(address, count)


def relay(name, station_master, server_master):
    """Carries bytes both ways and logs the station's."""
    while True:
        ready, _, _ = select.select([station_master, server_master], [], [])
        for fd in ready:
            try:
                data = os.read(fd, 512)
            except OSError:
                return
            if fd == station_master:
                log(name + " " + data.hex(" ").upper())
                os.write(server_master, data)
            else:
                os.write(station_master, data)


def line(name, link):
    """A relay whose station side is `link`; returns the server side's device."""
    station_master, station_slave = os.openpty()
    server_master, server_slave = os.openpty()
    for fd in (station_slave, server_slave):
        tty.setraw(fd)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(station_slave), link)
    threading.Thread(target=relay, args=(name, station_master, server_master), daemon=True).start()
    return os.ttyname(server_slave)


def serve(device, slaves, turnaround_s):
    def answer_late(response):
        reply_bytes = len(response.encode()) + 4
        request_bytes = REQUEST_LENGTH.get(response.function_code & 0x7F, 8)
        time.sleep((request_bytes + reply_bytes) * BYTE_S + turnaround_s)
        return response, False

    async def run():
        server = ModbusSerialServer(
            ModbusServerContext(slaves=slaves, single=False),
            framer=ModbusRtuFramer,
            port=device,
            baudrate=9600,
            ignore_missing_slaves=True,
            broadcast_enable=True,
            response_manipulator=answer_late,
        )
        await server.start()
        await server.serve_forever()

    threading.Thread(target=lambda: asyncio.run(run()), daemon=True).start()


def main():
    global log_file
    lights_link, balance_link, log_path, turnaround_ms = sys.argv[1:5]
    dyes = [tuple(int(v) for v in d.split(":")) for d in sys.argv[5:]]
    log_file = open(log_path, "w", encoding="ascii")
    turnaround_s = float(turnaround_ms) / 1000
    modules = {
        m: ModbusSlaveContext(co=LightCoils(m), hr=ModbusSequentialDataBlock(0, [0] * 8),
                              zero_mode=True)
        for m in range(1, 17)
    }
    balances = {
        s: ModbusSlaveContext(co=ModbusSequentialDataBlock(0, [False] * 256),
                              hr=BalanceRegisters(s, dyes), zero_mode=True)
        for s in (3, 4)
    }
    serve(line("lights", lights_link), modules, turnaround_s)
    serve(line("bus", balance_link), balances, turnaround_s)
    time.sleep(0.5)
    log("ready")
    sys.stdin.read()  # until the test closes standard input


if __name__ == "__main__":
    main()
