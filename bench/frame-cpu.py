#!/usr/bin/env python3
"""The whole program's processor time as a user has it: quelt under Xvfb, the mouse over its
window, fed by meter-sim, CPU (utime + stime from /proc/PID/stat) over a measuring window.

    bench/frame-cpu.py                                   # build/bin/quelt, 60 s per case, 3 rounds
    bench/frame-cpu.py --program OLD/quelt --program build/bin/quelt --rounds 5
    bench/frame-cpu.py --seconds 15                      # a quick look
    bench/frame-cpu.py --compare --program OLD/quelt --program build/bin/quelt

Cases: "line" (meter-sim --interval 58, the line rate), "slow" (--interval 400) and "idle" (the
port open on a pseudo-terminal that sends nothing). Each round runs every case with every program
in turn, so that old and new builds share the machine's load; the table gives each program's
median and spread (lowest .. highest) over the rounds, as % of one core, for quelt and, beside it,
for the X server it draws on.

--compare feeds each program the same frames (those meter-sim sends for a fixed scenario, seed and
count, captured first and sent at the line rate once the program has connected), waits until the
last has been shown, grabs the window and compares the pictures pixel by pixel (ImageMagick
`compare -metric AE`). The grid's Time column shows the time of day at which each reading was
recorded and so differs between any two runs: it alone is painted over in both pictures before
they are compared. Exit status 1 when the pictures differ elsewhere.

meter-sim and quelt-mktable are taken from the first program's folder unless --sim names a folder.
Needs xvfb, xdotool and imagemagick.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

CASES = {"line": 58, "slow": 400, "idle": None}
CLIENT_W, CLIENT_H = 614, 455
# The grid's Time column in the window's client area (the grid at 0,280; the No column widens
# with the record numbers, so the mask spans where Time can lie).
TIME_COLUMN = (36, 300, 110, 149)  # x, y, width, height


def ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime (fields 14 and 15)


def wait_for(predicate, timeout, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return False


class Session:
    """One Xvfb, one port (meter-sim or a silent pty) and one quelt, in a temporary folder."""

    def __init__(self, program, sim_dir, interval, sim_args=None):
        self.program, self.sim_dir = program, sim_dir
        self.interval, self.sim_args = interval, sim_args
        self.procs, self.pty = [], None

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="frame-cpu-")
        env = dict(os.environ)
        for var, sub in (("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"), ("XDG_DATA_HOME", "data")):
            env[var] = os.path.join(self.dir, sub)
        env.pop("QT_QPA_PLATFORM", None)
        self.env = env
        subprocess.run([os.path.join(self.sim_dir, "quelt-mktable"), "Queltdb.DB"], cwd=self.dir, check=True,
                       stdout=subprocess.DEVNULL)
        # A display of our own: -displayfd tells which number the server took.
        r, w = os.pipe()
        self.xvfb = self.spawn(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                               pass_fds=(w,))
        os.close(w)
        with os.fdopen(r) as f:
            display = f.readline().strip()
        env["DISPLAY"] = ":" + display
        if self.interval is None and self.sim_args is None:
            master, slave = os.openpty()
            self.pty = (master, slave)
            os.symlink(os.ttyname(slave), os.path.join(self.dir, "COM1"))
        else:
            args = self.sim_args or ["--interval", str(self.interval), "--scenario", "noise", "--seed", "1"]
            self.sim = self.spawn([os.path.join(self.sim_dir, "meter-sim"), "--port", "1", "--dir", self.dir] + args)
            if not wait_for(lambda: os.path.islink(os.path.join(self.dir, "COM1")), 10):
                raise RuntimeError("meter-sim made no COM1")
        self.quelt = self.spawn([self.program, "--dir", self.dir, "--no-settings", "--connect"])
        self.wid = None

        def window():
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Interface Program"], env=env,
                                 capture_output=True, text=True).stdout.split()
            self.wid = out[0] if out else None
            return self.wid is not None
        if not wait_for(window, 20, 0.2):
            raise RuntimeError(f"{self.program}: the window did not appear")
        geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", self.wid], env=env, capture_output=True,
                             text=True, check=True).stdout
        g = dict(line.split("=", 1) for line in geo.split())
        self.x, self.y, self.h = int(g["X"]), int(g["Y"]), int(g["HEIGHT"])
        # The mouse rests over the window, over the dial, as a user's would.
        subprocess.run(["xdotool", "mousemove", str(self.x + 450), str(self.y + self.h - CLIENT_H + 120)], env=env,
                       check=True)
        return self

    def spawn(self, argv, **kw):
        p = subprocess.Popen(argv, cwd=self.dir, env=getattr(self, "env", None), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, **kw)
        self.procs.append(p)
        return p

    def grab(self, out):
        """The window's client area (below the menu bar) as a PNG."""
        subprocess.run(f"import -window {self.wid} png:- | convert - -gravity south -crop {CLIENT_W}x{CLIENT_H}+0+0 "
                       f"+repage {out}", shell=True, env=self.env, check=True)

    def __exit__(self, *exc):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in reversed(self.procs):
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        if self.pty:
            for fd in self.pty:
                os.close(fd)
        shutil.rmtree(self.dir, ignore_errors=True)


def measure(program, sim_dir, interval, seconds, settle):
    with Session(program, sim_dir, interval) as s:
        time.sleep(settle)
        hz = os.sysconf("SC_CLK_TCK")
        q0, x0, t0 = ticks(s.quelt.pid), ticks(s.xvfb.pid), time.monotonic()
        time.sleep(seconds)
        q1, x1, t1 = ticks(s.quelt.pid), ticks(s.xvfb.pid), time.monotonic()
        if s.quelt.poll() is not None:
            raise RuntimeError(f"{program} ended during the measurement")
        wall = t1 - t0
        return 100.0 * (q1 - q0) / hz / wall, 100.0 * (x1 - x0) / hz / wall


def run_cpu(args):
    results = {(c, p): [] for c in args.case for p in args.program}
    for rnd in range(args.rounds):
        for case in args.case:
            order = args.program if rnd % 2 == 0 else list(reversed(args.program))
            for p in order:
                q, x = measure(p, args.sim, CASES[case], args.seconds, args.settle)
                results[(case, p)].append((q, x))
                print(f"round {rnd + 1} {case:5} {p}: quelt {q:.2f} %, X server {x:.2f} %", file=sys.stderr,
                      flush=True)

    def fmt(v):
        return f"{statistics.median(v):6.2f} ({min(v):.2f} .. {max(v):.2f})"
    print(f"\nCPU, % of one core: median (lowest .. highest) of {args.rounds} rounds of {args.seconds:g} s")
    print(f"{'case':6} {'program':50} {'quelt':24} {'X server':24}")
    for case in args.case:
        for p in args.program:
            v = results[(case, p)]
            print(f"{case:6} {p:50} {fmt([a for a, _ in v]):24} {fmt([b for _, b in v]):24}")


def capture_frames(sim_dir, scenario, seed, count):
    """The bytes meter-sim sends for these frames, read from its pseudo-terminal (which keeps
    what it sent queued until it is read)."""
    folder = tempfile.mkdtemp(prefix="frame-capture-")
    sim = subprocess.Popen([os.path.join(sim_dir, "meter-sim"), "--port", "1", "--dir", folder, "--interval", "5",
                            "--scenario", scenario, "--seed", str(seed), "--count", str(count)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        link = os.path.join(folder, "COM1")
        if not wait_for(lambda: os.path.islink(link), 10, 0.01):
            raise RuntimeError("meter-sim made no COM1")
        fd = os.open(link, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        data = b""
        end = time.monotonic() + 30
        while time.monotonic() < end:
            try:
                chunk = os.read(fd, 65536)
            except BlockingIOError:
                chunk = b""
            except OSError:
                break  # the simulator has ended
            if chunk:
                data += chunk
            elif sim.poll() is not None:
                break  # ended, and all it sent has been read
            else:
                time.sleep(0.01)
        os.close(fd)
    finally:
        sim.terminate()
        sim.wait()
        shutil.rmtree(folder, ignore_errors=True)
    if not data:
        raise RuntimeError("meter-sim sent nothing")
    return data


def run_compare(args):
    # The same bytes for every program, sent only once it has connected: a simulator started
    # before the program would lose the frames sent before the connection (the port is emptied
    # when it opens), a different number each run.
    stream = capture_frames(args.sim, args.scenario, args.seed, args.count)
    work = tempfile.mkdtemp(prefix="frame-compare-")
    shots = []
    failed = False
    try:
        for i, p in enumerate(args.program):
            with Session(p, args.sim, None) as s:
                time.sleep(2)  # connected: COM Connect is pressed as the window comes up
                master = s.pty[0]
                for at in range(0, len(stream), 14):
                    os.write(master, stream[at:at + 14])
                    time.sleep(0.058)
                # The last frame is shown once the program has read it (the port is polled
                # every 100 ms); the chart follows within its own pace.
                time.sleep(2)
                shot = os.path.join(work, f"{i}.png")
                s.grab(shot)
                x, y, w, h = TIME_COLUMN
                subprocess.run(["convert", shot, "-fill", "magenta", "-draw", f"rectangle {x},{y} {x + w - 1},{y + h - 1}",
                                shot], check=True)
                shots.append(shot)
        for i in range(1, len(shots)):
            r = subprocess.run(["compare", "-metric", "AE", shots[0], shots[i], os.path.join(work, f"diff{i}.png")],
                               capture_output=True, text=True)
            pixels = r.stderr.strip()
            print(f"{args.program[0]} vs {args.program[i]}: {pixels} pixels differ "
                  f"(the grid's Time column masked)")
            if pixels != "0":
                failed = True
        if args.keep:
            os.makedirs(args.keep, exist_ok=True)
            for f in os.listdir(work):
                shutil.copy(os.path.join(work, f), args.keep)
            print(f"pictures in {args.keep}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--program", action="append", help="a quelt to measure (repeat for several; default build/bin/quelt)")
    ap.add_argument("--sim", help="folder of meter-sim and quelt-mktable")
    ap.add_argument("--seconds", type=float, default=60, help="measuring window per case (default 60)")
    ap.add_argument("--settle", type=float, default=3, help="seconds after the start before measuring (default 3)")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--case", action="append", choices=list(CASES), help="line, slow, idle (default all)")
    ap.add_argument("--compare", action="store_true", help="compare the programs' windows pixel by pixel")
    ap.add_argument("--scenario", default="noise")
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--keep", help="with --compare: copy the pictures to this folder")
    args = ap.parse_args()
    args.program = [os.path.abspath(p) for p in (args.program or ["build/bin/quelt"])]
    args.case = args.case or list(CASES)
    args.sim = os.path.abspath(args.sim or os.path.dirname(args.program[0]))
    for tool in ("Xvfb", "xdotool", "import", "compare"):
        if not shutil.which(tool):
            sys.exit(f"missing {tool} (apt-get install xvfb xdotool imagemagick)")
    if args.compare:
        return run_compare(args)
    run_cpu(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
