#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The run docs/tuning.md shows: the example firmware on the emulated MPS2 board (QEMU), its log
fed to pidtune-scope, and the releases an operator makes in pidtune sent as pidtune sends them
(9 bytes per frame on the board's UART). Prints the board's reports (indented), the releases
(# ...) and the scope's lines; the board's log goes to board.log in the current directory.

    scripts/tuning-walkthrough.py build/qt6

Needs a build with the firmware images (qemu-system-arm and arm-none-eabi-gcc installed).
"""
import os
import queue
import re
import struct
import subprocess
import sys
import threading
import time

build = sys.argv[1] if len(sys.argv) > 1 else 'build/qt6'
image = os.path.join(build, 'tests/e2e/mps2-an385/pidtune-firmware-mps2-an385.elf')
qemu = subprocess.Popen(['qemu-system-arm', '-machine', 'mps2-an385', '-nodefaults', '-nic', 'none',
                         '-display', 'none', '-monitor', 'none', '-serial', 'pty', '-serial', 'stdio',
                         '-kernel', image], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
scope = subprocess.Popen([os.path.join(build, 'tools/scope/pidtune-scope'), '--time', 't', '-'],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=dict(os.environ, QT_QPA_PLATFORM='offscreen'))
out = queue.Queue()
pty = None
board_ms = 0  # the board's clock, from its stream lines
record = open('board.log', 'wb')


def pump():
    global pty, board_ms
    for line in qemu.stdout:
        if pty is None:
            found = re.search(rb'/dev/pts/\d+', line)
            if found:
                pty = found.group(0).decode()
                continue
        record.write(line)
        found = re.match(rb't=(\d+) ', line)
        if found:
            board_ms = int(found.group(1))
        try:
            scope.stdin.write(line)
            scope.stdin.flush()
        except BrokenPipeError:
            return
        if not line.startswith((b't=', b'state ')):
            out.put('  ' + line.decode().strip())


def read():
    for line in scope.stdout:
        out.put(line.decode().strip())


def show(timeout):
    line = out.get(timeout=timeout)
    print(line, flush=True)
    return line


def wait(pattern, seconds=60):
    end = time.time() + seconds
    while time.time() < end:
        try:
            line = show(0.5)
        except queue.Empty:
            continue
        if re.search(pattern, line):
            return line
    sys.exit('timed out waiting for ' + pattern)


def idle(seconds):
    """Lets the board's clock run on, so that the loop comes to rest."""
    end = board_ms + seconds * 1000
    while board_ms < end:
        try:
            show(0.2)
        except queue.Empty:
            pass


def release(identifier, value, what=''):
    print(f'# release id {identifier} = {value:g} {what}'.rstrip(), flush=True)
    os.write(port, bytes([0x05, 0xFA, 0x06, identifier, 0x04]) + struct.pack('<f', value))
    wait(rf'param id={identifier} ')


def gains(line):
    return [float(x) for x in re.search(r'Kp=(\S+) Ki=(\S+) Kd=(\S+) filter=(\S+)', line).groups()]


def try_suggestion(kp, ki):
    """The suggested PI released, the loop left to rest, and a set-point step to check it."""
    release(1, kp)
    release(2, ki)
    idle(6)
    release(5, 70)
    wait(r'rule=simc-pid')


threading.Thread(target=pump, daemon=True).start()
threading.Thread(target=read, daemon=True).start()
while pty is None:
    time.sleep(0.05)
port = os.open(pty, os.O_RDWR | os.O_NOCTTY)
try:
    wait('ready')
    idle(1)
    # 1. A first step with what the device has: Kp 1.
    release(4, 100, '(integral limit)')
    idle(1)
    release(5, 50, '(set-point; Kp 1, the firmware start)')
    kp, ki, _, _ = gains(wait(r'rule=simc-pi '))
    wait(r'rule=simc-pid')
    # 2. The suggestion released, the loop at rest, and a step to check it.
    try_suggestion(kp, ki)
    # 3. 0.1 s of dead time.
    release(9, 0.1, '(dead time)')
    idle(6)
    release(5, 50)
    kp, ki, _, _ = gains(wait(r'rule=simc-pi '))
    wait(r'rule=simc-pid')
    try_suggestion(kp, ki)
    # 4. The relay, and the gains of its rules released in turn.
    release(7, 1, '(relay on, d 10)')
    zn = wait(r'rule=zn-pid')
    tl = wait(r'rule=tl-pi( |$)')
    wait(r'rule=tl-pid')
    release(7, 0, '(relay off)')
    idle(6)
    for line, name, setpoint in ((zn, 'Ziegler-Nichols PID', 50), (tl, 'Tyreus-Luyben PI', 70)):
        kp, ki, kd, filter = gains(line)
        release(1, kp, f'({name})')
        release(2, ki)
        release(3, kd)
        release(6, filter)
        idle(6)
        release(5, setpoint)
        wait(r'rule=simc-pid')
finally:
    qemu.kill()
    scope.kill()
