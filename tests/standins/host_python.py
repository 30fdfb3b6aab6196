"""The Linux half of host_python.exe (tests/standins/host_python.cpp), which listens on
127.0.0.1:PORT:

  host_python.py PORT ARGUMENTS...

Runs python3 with ARGUMENTS, sends the stand-in its exit code (4 bytes, little-endian), and ends
it with SIGTERM as soon as the stand-in's connection drops.
"""

import socket
import subprocess
import sys
import threading

link = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=20)
link.settimeout(None)
# Started by Wine from a Windows path, this Python does not know its own executable.
child = subprocess.Popen(["python3"] + sys.argv[2:])


def end_with_the_stand_in():
    try:
        link.recv(1)
    except OSError:
        pass
    child.terminate()


threading.Thread(target=end_with_the_stand_in, daemon=True).start()
code = child.wait()
try:
    link.sendall(code.to_bytes(4, "little", signed=True))
except OSError:
    pass
