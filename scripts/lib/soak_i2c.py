# The soak of the console programs (scripts/soak i2c): random small jobs of
# coupler-i2c and coupler-check, natively and under Wine, each on a virtual
# coupler of its own behind a jittered adapter, every result compared with
# what the virtual bus holds after the job (read from the daemon's state file).
#   python3 soak_i2c.py SEED JOBS PARALLEL WORKDIR COUPLER_DIR HOST_BUILD [WIN_BUILD]
# The environment carries WINEPREFIX and the Wine settings of scripts/lib/bench.sh.
import os
import random
import re
import subprocess
import sys
import threading
import time

seed, jobs, parallel = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
work, coupler, host = sys.argv[4], sys.argv[5], sys.argv[6]
win = sys.argv[7] if len(sys.argv) > 7 else ""
JOB_LIMIT_S = 90  # a job that takes longer is a divergence (hung); bounds the whole run

# Offsets in the state file (coupler_state.h, bus.h; their asserts hold them).
BUSES = 56 + 4096 + 32 * (96 + 40 * 256)
BUS_SIZE = 147456
CHIPS, LATCH, INPUTS, CONFIG, TEMPERATURE, MEMORY = 4, 320, 324, 344, 356, 16384
ADDRESS = {1: 0x50, 2: 0x20, 4: 0x48}  # by chip bit
# The coupler's faults, as the daemon names them (its one table).
FAULTS = [line.split()[0] for line in subprocess.run(
    [os.path.join(coupler, "vcoupler-daemon"), "--faults"], capture_output=True, text=True, check=True).stdout.splitlines()
    if line.split()[1] == "coupler"]


def word(state, offset, signed=False):
    return int.from_bytes(state[offset:offset + 4], "little", signed=signed)


def make_job(rng, number):
    """One job, drawn from the seed alone: adapter, bus and command."""
    low = rng.randrange(0, 101)
    high = min(100, low + (rng.choice([0, 0, rng.randrange(1, 9)])))
    cost = rng.randrange(0, 5)
    cost_high = min(4, cost + rng.randrange(0, 2))
    job = {"number": number, "wine": bool(win) and rng.random() < 0.5,
           "adapter": "%d-%d,%d-%d" % (low, high, cost, cost_high), "high": high,
           "chips": rng.randrange(0, 8), "inputs": rng.randrange(0, 256),
           "eeprom": bytes(rng.randrange(0, 256) for _ in range(256)), "fault": ""}
    kind = rng.choice(["scan", "get", "get", "read", "verify", "check", "check"])
    job["kind"] = kind
    if kind == "scan":
        first = rng.choice([0x1E, 0x46, 0x4E]) + rng.randrange(0, 3)
        job["args"] = ["scan", "%02x" % first, "%02x" % (first + rng.randrange(2, 4))]
    elif kind == "get":
        job["args"] = rng.choice([["get", "48", "0", "w"], ["get", "48", "1"], ["get", "20"],
                                  ["get", "50", str(rng.randrange(0, 256))]])
    elif kind in ("read", "verify"):
        offset, count = rng.randrange(0, 252), rng.randrange(1, 5)
        job["offset"], job["count"] = offset, count
        if kind == "read":
            job["args"] = ["eeprom", "read", "read.bin", "--offset", str(offset), "--count", str(count)]
        else:
            data = bytearray(job["eeprom"][offset:offset + count])
            if rng.random() < 0.5:
                data[rng.randrange(0, count)] ^= 1 << rng.randrange(0, 8)
            job["file"] = bytes(data)
            job["args"] = ["eeprom", "verify", "verify.bin", "--offset", str(offset)]
    else:
        job["fault"] = rng.choice([""] * 3 + FAULTS)
        job["inputs"] = 0xFF  # a pin held low at power-up pulls INT low: the check rightly fails then
        job["args"] = ["--quiet", "--repeat", "3"]
    return job


def expected(job, bus):
    """(exit code, text the output must hold) from the bus as it is after the job."""
    chips, memory = word(bus, CHIPS), bus[MEMORY:MEMORY + 256]
    present = {ADDRESS[bit] for bit in ADDRESS if chips & bit}
    args = job["args"]
    if job["kind"] == "scan":
        window = set(range(int(args[1], 16), int(args[2], 16) + 1))
        return 0, sorted(present & window)
    if job["kind"] == "get":
        address = int(args[1], 16)
        if address not in present:
            return 1, None
        if address == 0x48:
            return 0, ("0x%04x" % ((word(bus, TEMPERATURE, True) << 7) & 0xFFFF) if args[2:] == ["0", "w"]
                       else "0x%02x" % (word(bus, CONFIG) & 0x1F))
        if address == 0x20:
            return 0, "0x%02x" % (word(bus, LATCH) & word(bus, INPUTS))
        return 0, "0x%02x" % memory[int(args[2])]
    if job["kind"] in ("read", "verify"):
        if 0x50 not in present:
            return 1, None
        if job["kind"] == "read":
            return 0, memory[job["offset"]:job["offset"] + job["count"]]
        return (0 if memory[job["offset"]:job["offset"] + job["count"]] == job["file"] else 1), None
    return (1 if job["fault"] else 0), None


def found(output):
    """The addresses a scan's table shows."""
    seen = []
    for line in output.splitlines():
        if re.match(r"^[0-7]0:", line):
            row = int(line[0], 16) * 16
            for column in range(16):  # fixed columns: addresses outside the range are blank
                cell = line[4 + 3 * column:6 + 3 * column]
                if re.fullmatch(r"[0-9a-f]{2}", cell):
                    seen.append(row + column)
    return sorted(seen)


def run(job, slot):
    """Runs the job on COM(slot); its result line."""
    com = slot + 3
    folder = os.path.join(work, "slot%d" % slot)
    os.makedirs(folder, exist_ok=True)
    state = os.path.join(folder, "state")
    for name in ("state.ports", "read.bin"):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    with open(os.path.join(folder, "eeprom.bin"), "wb") as f:
        f.write(job["eeprom"])
    if "file" in job:
        with open(os.path.join(folder, "verify.bin"), "wb") as f:
            f.write(job["file"])
    daemon = [os.path.join(coupler, "vcoupler-daemon"), "--state", state, "--prefix", os.environ["WINEPREFIX"],
              "--ports", str(com), "--absent", os.path.join(coupler, "absent"), "--present",
              "--chips", ",".join(n for bit, n in ((1, "eeprom"), (2, "expander"), (4, "sensor"))
                                  if job["chips"] & bit) or "none",
              "--inputs", "%02x" % job["inputs"], "--eeprom", os.path.join(folder, "eeprom.bin"),
              "--adapter", job["adapter"]] + (["--fault", job["fault"]] if job["fault"] else [])
    log = open(os.path.join(folder, "daemon.log"), "w")
    server = subprocess.Popen(daemon, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    try:
        for _ in range(400):
            if os.path.exists(state + ".ports") or server.poll() is not None:
                break
            time.sleep(0.01)
        pts = open(state + ".ports").read().split()[1]
        program = "coupler-check" if job["kind"] == "check" else "coupler-i2c"
        env = dict(os.environ, COUPLER_STATE=state)
        if job["wine"]:
            env["LD_PRELOAD"] = os.path.join(coupler, "$LIB", "libvcoupler.so")
            command = ["wine", os.path.join(win, program + ".exe"), "COM%d" % com] + job["args"]
        else:
            env["LD_PRELOAD"] = os.path.join(coupler, "lib", "x86_64-linux-gnu", "libvcoupler.so")
            command = [os.path.join(host, program), pts] + job["args"]
        started = time.monotonic()
        try:
            done = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=JOB_LIMIT_S)
            code, output = done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")
        except subprocess.TimeoutExpired:
            code, output = -1, "hung"
        seconds = time.monotonic() - started
    finally:
        server.terminate()
        server.wait()
        log.close()
    with open(state, "rb") as f:
        f.seek(BUSES + slot_of(com) * BUS_SIZE)
        bus = f.read(MEMORY + 256)
    want_code, want = expected(job, bus)
    output = "\n".join(l for l in output.splitlines() if "wrong ELF class" not in l)
    verdict = "equal"
    # The check cannot tell a slow adapter from a slow coupler: it fails step 2 and names both.
    slow_chain = job["kind"] == "check" and code == 1 and "Koppler oder Adapter zu langsam" in output
    if (code == 2 and "Adapter" in output) or slow_chain:
        verdict = "refused" if job["high"] > 50 else "refused-within-limit"
    elif code != want_code:
        verdict = "divergent"
    elif job["kind"] == "scan" and found(output) != want:
        verdict = "divergent"
    elif job["kind"] == "get" and want is not None and output.split()[:1] != [want]:
        verdict = "divergent"
    elif job["kind"] == "read" and want is not None and \
            open(os.path.join(folder, "read.bin"), "rb").read() != want:
        verdict = "divergent"
    detail = ""
    if verdict != "equal":
        detail = " | expected exit %d %s | got exit %d: %s" % (
            want_code, want.hex() if isinstance(want, bytes) else want, code,
            " / ".join(output.strip().splitlines()[-3:])[:300])
    return "job %d %s %s adapter %s chips %d%s: %s in %.1f s%s" % (
        job["number"], "wine" if job["wine"] else "native", " ".join(
            (["fault " + job["fault"]] if job["fault"] else []) + [program_name(job)] + job["args"]),
        job["adapter"], job["chips"], "", verdict, seconds, detail), verdict


def slot_of(com):
    return com - 1


def program_name(job):
    return "coupler-check" if job["kind"] == "check" else "coupler-i2c"


def main():
    rng = random.Random(seed)
    queue = [make_job(rng, n + 1) for n in range(jobs)]
    counts, lock = {}, threading.Lock()

    def worker(slot):
        while True:
            with lock:
                if not queue:
                    return
                job = queue.pop(0)
            try:
                line, verdict = run(job, slot)
            except Exception as error:  # a job that could not even be set up is reported, not hidden
                line, verdict = "job %d: not run: %s" % (job["number"], error), "not-run"
            with lock:
                counts[verdict] = counts.get(verdict, 0) + 1
                # Expected refusals are counted; SOAK_VERBOSE=1 shows every job.
                if verdict not in ("equal", "refused") or os.environ.get("SOAK_VERBOSE"):
                    print(line, flush=True)

    started = time.monotonic()
    threads = [threading.Thread(target=worker, args=(s,)) for s in range(parallel)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print("soak i2c: seed %d: %d jobs in %.0f s: %d results equal, %d refusals (adapter above 50 ms), "
          "%d refusals within the limit, %d divergences, %d not run" % (
              seed, jobs, time.monotonic() - started, counts.get("equal", 0), counts.get("refused", 0),
              counts.get("refused-within-limit", 0), counts.get("divergent", 0), counts.get("not-run", 0)))
    print("replay: SOAK_SEED=%d scripts/soak i2c --jobs %d" % (seed, jobs))
    return 1 if counts.get("divergent", 0) or counts.get("not-run", 0) else 0


sys.exit(main())
