#!/usr/bin/env python3
"""A seeded schedule of launcher runs against the fault server, with the path's promises checked.

Runs orvane-launcher install, update and repair of one published build, some of them killed with
SIGKILL at a random moment, some after files of the game were damaged, while faultserver.py draws a
fault for each request. While a run goes the ".part" files are polled; after each run, and at the end,
the promises are checked:

  part-shrank      no ".part" shrinks; it vanishes only when moved into place, and it is emptied or removed
                   otherwise only once for each wrong body of its file (one a client cannot tell from the
                   file) served whole in that run (or before it, for a part already whole when the run
                   began); emptied, it may have begun again from its first byte by the next look
  part-garbled     a ".part" left by a run holds the file's first bytes
  exit-0-whole     exit 0 means every file of the build is byte-identical
  exit-1-reason    exit 1 comes with a reason on stderr; no other status but a kill, or 143 after a stop
                   (SIGTERM, sent right after a file was moved into place: a stop between two files)
  outside          nothing is written outside the install folder (but the launcher's settings)
  resume-offset    after the server closed or stalled a body, the next request for that file asks
                   from every byte it received
  final-repair     a last repair without faults ends with exit 0 (and so with every file whole)
  bytes-served     the bytes served stay within what the build needed, plus a whole file for each
                   corrupted body, plus what a kill explains (the answer in flight, and the files
                   completed in the last seconds before it, whose list lines were not written yet),
                   plus, at the end of a run killed or failed, the answer asked ahead of the file in flight

Usage: faultschedule.py --bin BIN --www WEB_ROOT --work FOLDER [--runs N] [--seed N]
Environment: KESTRUN_FAULT_SEED, KESTRUN_FAULT_RUNS (the defaults of --seed and --runs).
Exit status 0 when every promise held, 1 when one broke (the seed is printed).
"""
import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from faultserver import FaultServer  # noqa: E402

LOCALE = "enUS"
KILL_WINDOW = 3.0      # seconds before a kill whose completed files may be fetched again (list written each second)
RUN_DEADLINE = 240.0   # a run that outlives this is a hang
ENV = {
    "KESTRUN_STALL_TIMEOUT_MS": "2000",
    "KESTRUN_SIZE_TIMEOUT_MS": "3000",
}


class Schedule:
    def __init__(self, args):
        self.args = args
        self.seed = args.seed
        self.rng = random.Random(args.seed * 7919 + 1)
        self.work = os.path.abspath(args.work)
        self.sandbox = os.path.join(self.work, "sandbox")
        self.install = os.path.join(self.sandbox, "games", "install") + "/"
        self.settings_dir = os.path.join(self.sandbox, "settings")
        self.settings = os.path.join(self.settings_dir, "launcher.ini")
        self.violations = []
        self.wrong_used = {}  # (run, file): wrong bodies served whole that explained an emptied part
        self.runs = []
        self.needed = 0
        self.allowance = {"corrupt": 0, "kill": 0, "client-abort": 0}
        self.kill_times = {}  # run -> monotonic time of the kill
        self.unfinished = {}  # run -> when it ended, for a run killed or ended without exit 0
        self.damage_log = []  # (monotonic time, served path) of each file damaged by the schedule
        self.unrepaired = set()  # files damaged since the last repair that ended well
        self.scan_began = False  # a repair got the build information since those files were damaged
        self.load_build()

    # --- the build ---------------------------------------------------------------------

    def load_build(self):
        www = os.path.abspath(self.args.www)
        with open(os.path.join(www, "wow_bfa", "version.json")) as handle:
            build = json.load(handle)["build"]
        with open(os.path.join(www, "wow_bfa", "builds", build, "info.json")) as handle:
            info = json.load(handle)
        self.files = {}   # install path -> entry
        self.by_url = {}  # served path -> entry
        for entry in info["content"]["base_win"] + info["streamed_content"]:
            if entry.get("locale", "") not in ("", LOCALE):
                continue
            with open(os.path.join(www, "wow_bfa", entry["location"]), "rb") as handle:
                entry["bytes"] = handle.read()
            entry["url"] = "/wow_bfa/" + entry["location"]
            self.files[entry["path"]] = entry
            self.by_url[entry["url"]] = entry
        self.build_size = sum(len(e["bytes"]) for e in self.files.values())
        self.needed = self.build_size

    # --- checks --------------------------------------------------------------------------

    def violate(self, run, promise, text):
        self.violations.append((run, promise, text))
        print("[fault-schedule] run %d: BROKEN %s: %s" % (run, promise, text), flush=True)

    def snapshot_outside(self):
        seen = {}
        for folder, dirs, names in os.walk(self.sandbox):
            rel = os.path.relpath(folder, self.sandbox)
            if rel == "games/install" or rel.startswith("games/install/"):
                dirs[:] = []
                continue
            for name in names + dirs:
                path = os.path.join(folder, name)
                relpath = os.path.normpath(os.path.join(rel, name))
                if relpath.startswith("settings/launcher."):
                    continue  # the launcher's own settings, lock and their temporary files
                if relpath == "games/install":
                    continue
                try:
                    info = os.lstat(path)
                except FileNotFoundError:
                    continue
                seen[relpath] = (info.st_size, info.st_mtime_ns) if os.path.isfile(path) else ("dir",)
        return seen

    def parts(self):
        found = {}
        for folder, _, names in os.walk(self.install):
            for name in names:
                if name.endswith(".part"):
                    path = os.path.join(folder, name)
                    try:
                        found[os.path.relpath(path, self.install)[:-5]] = os.path.getsize(path)
                    except FileNotFoundError:
                        pass
        return found

    def final_size(self, rel):
        try:
            return os.path.getsize(self.install + rel)
        except OSError:
            return -1

    def check_part_change(self, run, rel, before, now, whole_at_start, wrong_now):
        """A ".part" went from BEFORE bytes to NOW (None: gone); WHOLE_AT_START: it had its full length when
        the run began; WRONG_NOW: wrong bodies of its file served whole in this run as of this look."""
        entry = self.files.get(rel)
        if entry is None:
            self.violate(run, "outside", "a .part of a file the build does not name: %s.part" % rel)
            return
        full = len(entry["bytes"])
        if now is not None and now > full:
            self.violate(run, "part-shrank", "%s.part holds %d bytes, more than the file's %d" % (rel, now, full))
        if (now is not None and now >= before) or before == 0:
            return  # grown, or an empty one gone: no byte lost
        if now is None and self.final_size(rel) == full:
            return  # moved into place (it may have grown to its full length between two looks)
        # Each wrong body of its file served whole in this run explains one emptying: checked, emptied, and
        # perhaps begun again from its first byte before the next look.
        used = self.wrong_used.get((run, rel), 0)
        if wrong_now > used:
            self.wrong_used[(run, rel)] = used + 1
            return
        # Or, for a part already whole when the run began, one served in an earlier run.
        if not now and whole_at_start and self.server.garbled_whole_of(entry["url"]):
            return
        self.violate(run, "part-shrank", "%s.part went from %d to %s bytes (of %d)%s" %
                     (rel, before, "nothing" if now is None else now, full,
                      "" if now else ", no wrong body of it served whole"))

    def lists_state(self):
        state = []
        for name in ("ToDownloadBase.db", "ToDownload.db"):
            try:
                info = os.stat(self.install + name)
                state.append((info.st_ino, info.st_mtime_ns, info.st_size))
            except OSError:
                state.append(None)
        return state

    def check_after_run(self, run, op, status, killed, stderr, outside_before, lists_before, op_stopped=False):
        responses, _, garbled, _ = self.server.snapshot()
        # Files damaged behind the launcher's back are its to find only once a full scan began: a repair
        # that dropped or rewrote the download lists (an interrupted scan is done again by the next run).
        if op == "repair" and self.lists_state() != lists_before:
            self.scan_began = True
        trusted = set() if self.scan_began or op == "repair" else set(self.unrepaired)
        if op == "repair" and status == 0 and not killed:
            self.unrepaired.clear()
        if killed:
            pass
        elif status == 0:
            wrong = []
            for rel, entry in sorted(self.files.items()):
                if rel in trusted:
                    continue
                try:
                    with open(self.install + rel, "rb") as handle:
                        if handle.read() != entry["bytes"]:
                            wrong.append(rel + " (differs)")
                except OSError:
                    wrong.append(rel + " (missing)")
            if wrong:
                self.violate(run, "exit-0-whole", "exit 0 with %d files not byte-identical: %s" %
                             (len(wrong), ", ".join(wrong[:4])))
        elif status == 143 and op_stopped:
            if "interrupted" not in stderr:
                self.violate(run, "exit-1-reason", "a stop without its reason: %r" % stderr[-300:])
        elif status == 1:
            reasons = [line for line in stderr.splitlines() if line.startswith("error: ") and len(line) > 8]
            if not reasons:
                self.violate(run, "exit-1-reason", "exit 1 without a reason: %r" % stderr[-300:])
        else:
            self.violate(run, "exit-1-reason", "exit status %d: %s" % (status, stderr.strip()[-300:]))
        for rel, size in self.parts().items():
            entry = self.files.get(rel)
            if entry is None or garbled.get(entry["url"], 0) > 0:
                continue
            with open(self.install + rel + ".part", "rb") as handle:
                kept = handle.read()
            if kept != entry["bytes"][:len(kept)]:
                at = next((i for i in range(min(len(kept), len(entry["bytes"]))) if kept[i] != entry["bytes"][i]),
                          len(entry["bytes"]))
                self.violate(run, "part-garbled", "%s.part (%d bytes) differs from the file from byte %d" %
                             (rel, size, at))
        outside = self.snapshot_outside()
        if outside != outside_before:
            changed = sorted(set(outside.items()) ^ set(outside_before.items()))
            self.violate(run, "outside", "written outside the install folder: %s" %
                         ", ".join(sorted({c[0] for c in changed}))[:300])
        return outside

    def check_resumes(self, responses):
        """After a body the server cut short, the next request for that file asks from every byte sent."""
        last = {}
        for response in responses:
            if response.method != "GET":
                continue
            key = (response.run, response.path)
            previous = last.get(key)
            # Qt sends a request cut by a closed connection once more on its own (the same Range); the
            # transfer has already ended and drops that answer (aborted, or one without a body, such as a
            # redirect): no byte can be lost there, and the next request that carries bytes is checked.
            resend = previous is not None and previous.cut and response.start == previous.start
            if (response.aborted and (response.sent == 0 or resend)) or (resend and response.sent == 0):
                continue
            last[key] = response
            if previous is None or not (previous.cut and (previous.valid or previous.kind == "no-ranges-cut")):
                continue
            if response.began < (self.kill_times.get(response.run) or float("inf")):
                # A whole body from byte 0 to a resume: the kept bytes are read past, the rest appended.
                expected = max(previous.asked, previous.start + previous.sent)
                if response.asked != expected:
                    entry = self.by_url.get(response.path, {})
                    self.violate(response.run, "resume-offset",
                                 "%s: %d bytes received up to byte %d (%s), then asked from byte %d" %
                                 (entry.get("path", response.path), previous.sent, expected, previous.kind,
                                  response.asked))

    def check_bytes(self, responses):
        valid = sum(r.sent for r in responses if r.valid and r.method == "GET")
        corrupt = sum(r.total for r in responses if r.kind == "corrupt" and r.sent > 0)
        kill = 0
        counted = set()
        for run, at in self.kill_times.items():
            for i, r in enumerate(responses):
                if r.run != run or not r.valid or r.method != "GET":
                    continue
                if r.ended is None or r.ended >= at - 0.05 or r.began >= at:
                    kill += r.sent  # in flight at the kill
                    counted.add(i)
                elif r.start + r.sent == r.total and r.ended >= at - KILL_WINDOW:
                    kill += r.total  # completed just before: its list line may not have been written
                    counted.add(i)
        # The client asks the next file while one travels: a run killed or ended without exit 0 may leave
        # that answer unread (the two latest file answers of the run: the one in flight and the one ahead).
        ahead = 0
        for run, at in self.unfinished.items():
            latest = sorted((r.began, i) for i, r in enumerate(responses)
                            if r.run == run and r.valid and r.method == "GET" and r.began < at)[-2:]
            for _, i in latest:
                if i not in counted:
                    ahead += responses[i].sent
                    counted.add(i)
        aborted = sum(r.sent for i, r in enumerate(responses) if r.valid and r.aborted and not r.cut and
                      i not in counted and
                      not (r.run in self.kill_times and r.ended and r.ended >= self.kill_times[r.run] - 0.05))
        self.allowance = {"corrupt": corrupt, "kill": kill, "ahead": ahead, "client-abort": aborted}
        bound = self.needed + corrupt + kill + ahead + aborted
        if valid > bound:
            self.violate(0, "bytes-served", "%d bytes of the files served, more than the %d the schedule explains "
                         "(needed %d, corrupted bodies %d, kills %d, answers the client dropped %d): %d too many" %
                         (valid, bound, self.needed, corrupt, kill, aborted, valid - bound))
        return valid, bound

    # --- runs ----------------------------------------------------------------------------

    def damage(self, run):
        candidates = [rel for rel, e in sorted(self.files.items()) if e["bytes"] and os.path.isfile(self.install + rel)]
        chosen = self.rng.sample(candidates, min(len(candidates), self.rng.randint(2, 6)))
        for rel in chosen:
            path = self.install + rel
            os.chmod(path, 0o644)
            # A file whose presence suffices (0x80) is never read back: only its absence shows.
            how = self.rng.choice(["delete", "truncate", "append"] if not self.files[rel].get("flags", 0) & 0x80 else ["delete"])
            if how == "delete":
                os.remove(path)
            elif how == "truncate":
                os.truncate(path, len(self.files[rel]["bytes"]) // 2)
            else:
                with open(path, "ab") as handle:
                    handle.write(b"damage")
            self.needed += len(self.files[rel]["bytes"])
            self.damage_log.append((time.monotonic(), self.files[rel]["url"]))
            self.unrepaired.add(rel)
        self.scan_began = False
        return chosen

    def installed(self):
        try:
            with open(self.settings) as handle:
                return "Installed=true" in handle.read()
        except OSError:
            return False

    def launch(self, command):
        env = dict(os.environ)
        env.update(ENV)
        env.update({"HOME": os.path.join(self.sandbox, "home"), "TMPDIR": os.path.join(self.sandbox, "tmp")})
        argv = [os.path.join(self.args.bin, "orvane-launcher"), "--plugin", os.path.join(self.args.bin, "libkestrun.so"),
                "--settings", self.settings, "--server", "http://127.0.0.1:%d/" % self.server.app_port,
                "--idle-timeout", "20", "--verbose"] + command  # the diagnostics, for a run that breaks a promise
        out = open(os.path.join(self.work, "run.out"), "w+")
        err = open(os.path.join(self.work, "run.err"), "w+")
        return subprocess.Popen(argv, stdout=out, stderr=err, cwd=os.path.join(self.sandbox, "cwd"), env=env), out, err

    def one_run(self, run, last_whole):
        if not self.installed():
            op = ["install", self.install]
        elif last_whole and self.rng.random() < 0.7:
            op = ["repair"]
        else:
            op = [self.rng.choice(["update", "update", "repair"])]
        damaged = self.damage(run) if op == ["repair"] and last_whole else []
        # A kill at a random moment, or once a random number of file bytes went out in this run
        # (a run may spend its first seconds on sizes and checks).
        kill_after = kill_bytes = None
        stop_between = False
        if self.rng.random() < 0.15:
            stop_between = True  # a stop (SIGTERM) right after a file was moved into place
        elif self.rng.random() < 0.5:
            if self.rng.random() < 0.3:
                kill_after = self.rng.uniform(0.3, 5.0)
            else:
                kill_bytes = self.rng.randint(1, 1500000)
        dead = self.server.begin_run(run)
        outside_before = self.snapshot_outside()
        lists_before = self.lists_state()
        process, out, err = self.launch(op)
        began = time.monotonic()
        seen = {}
        whole_at_start = {rel for rel, size in self.parts().items()
                          if rel in self.files and size == len(self.files[rel]["bytes"])}
        killed = stopped = False
        while True:
            now = self.parts()
            # Taken after the look: a wrong body that explains a change seen in it has been counted.
            wrong = self.server.garbled_whole_in(run)
            for rel in set(seen) | set(now):
                if rel in seen and (rel not in now or now[rel] != seen[rel]):
                    url = self.files.get(rel, {}).get("url")
                    self.check_part_change(run, rel, seen[rel], now.get(rel), rel in whole_at_start,
                                           wrong.get(url, 0))
                    if stop_between and not stopped and rel not in now and self.final_size(rel) >= 0:
                        process.send_signal(signal.SIGTERM)
                        self.kill_times[run] = time.monotonic()
                        stopped = True
            seen = now
            status = process.poll()
            if status is not None:
                break
            elapsed = time.monotonic() - began
            if kill_bytes is not None and not killed:
                responses = self.server.snapshot()[0]
                served = sum(r.sent for r in responses if r.run == run and not r.document and r.method == "GET")
                if served >= kill_bytes:
                    kill_after = elapsed
            if kill_after is not None and elapsed >= kill_after and not killed:
                process.send_signal(signal.SIGKILL)
                self.kill_times[run] = time.monotonic()
                killed = True
            if elapsed > RUN_DEADLINE:
                process.kill()
                process.wait()
                self.violate(run, "exit-1-reason", "the run did not end within %d s" % RUN_DEADLINE)
                break
            time.sleep(0.02)
        status = process.wait()
        if killed or stopped or status != 0:
            self.unfinished[run] = self.kill_times.get(run, time.monotonic())
        out.seek(0)
        err.seek(0)
        stderr = err.read()
        out.close()
        err.close()
        self.check_after_run(run, op[0], status, killed, stderr, outside_before, lists_before, stopped)
        if any(v[0] == run for v in self.violations):
            # The launcher's own account of a run that broke a promise, kept beside answers.log.
            with open(os.path.join(self.work, "run-%d.err" % run), "w") as kept:
                kept.write(stderr)
        outcome = "killed" if killed else "stopped, exit %d" % status if stopped else "exit %d" % status
        reason = next((l for l in stderr.splitlines() if l.startswith("error: ")), "")
        print("[fault-schedule] run %d: %s%s (dead CDN host %s)%s -> %s%s" %
              (run, " ".join(op[:1]), " after damaging %d files" % len(damaged) if damaged else "", dead,
               " stop between files" if stop_between else
               " kill at %.1f s" % kill_after if kill_after is not None else
               " kill after %d bytes" % kill_bytes if kill_bytes is not None else "", outcome,
               ": " + reason[7:120] if status == 1 and not killed else ""), flush=True)
        self.runs.append((op[0], outcome))
        return status == 0 and not killed and not stopped

    def prepare(self):
        shutil.rmtree(self.sandbox, ignore_errors=True)
        for sub in ("games", "settings", "home", "cwd", "tmp"):
            os.makedirs(os.path.join(self.sandbox, sub))

    def go(self):
        self.prepare()
        self.server = FaultServer(self.args.www, self.seed)
        print("[fault-schedule] seed %d, %d runs, build of %d files, %d bytes; ports app %d, CDN %d, dead %d" %
              (self.seed, self.args.runs, len(self.files), self.build_size, self.server.app_port,
               self.server.cdn_port, self.server.dead_port), flush=True)
        whole = False
        try:
            for run in range(1, self.args.runs + 1):
                whole = self.one_run(run, whole)
            # A last run without faults: whatever the schedule left, the game ends whole.
            self.server.enabled = False
            final = self.args.runs + 1
            if self.installed():
                if whole:
                    self.damage(final)
                self.server.begin_run(final)
                self.server.set_dead_mode("closed")
                outside_before = self.snapshot_outside()
                process, out, err = self.launch(["repair"])
                try:
                    status = process.wait(timeout=RUN_DEADLINE)
                except subprocess.TimeoutExpired:
                    process.kill()
                    status = process.wait()
                err.seek(0)
                stderr = err.read()
                out.close()
                err.close()
                self.check_after_run(final, "repair", status, False, stderr, outside_before, None)
                if status != 0:
                    self.violate(final, "final-repair", "a repair without faults exited %d: %s" %
                                 (status, stderr.strip()[-200:]))
                print("[fault-schedule] run %d: repair without faults -> exit %d" % (final, status), flush=True)
        finally:
            responses, faults, garbled, dead_connections = self.server.snapshot()
            self.server.stop()
        # Every answer, for whoever reads a failure: run, method, path, asked from, fault, bytes sent.
        with open(os.path.join(self.work, "answers.log"), "w") as log:
            for r in responses:
                entry = self.by_url.get(r.path)
                log.write("%d %.3f %s %s from %d of %d: %s, sent %d of %d%s%s\n" % (
                    r.run, r.began, r.method, entry["path"] if entry else r.path, r.start, r.total, r.kind,
                    r.sent, r.planned, " cut" if r.cut else "", " client-abort" if r.aborted else ""))
        responses = [r for r in responses if not r.document]
        self.check_resumes(responses)
        valid, bound = self.check_bytes(responses)
        self.figures(responses, faults, dead_connections, valid, bound)
        if self.violations:
            kinds = sorted({v[1] for v in self.violations})
            print("[fault-schedule] FAIL: %d broken promises (%s) with seed %d; reproduce with "
                  "KESTRUN_FAULT_SEED=%d KESTRUN_FAULT_RUNS=%d" %
                  (len(self.violations), ", ".join(kinds), self.seed, self.seed, self.args.runs), flush=True)
            return 1
        print("[fault-schedule] every promise held (seed %d)" % self.seed, flush=True)
        return 0

    def figures(self, responses, faults, dead_connections, valid, bound):
        outcomes = {}
        for op, outcome in self.runs:
            outcomes["%s %s" % (op, outcome)] = outcomes.get("%s %s" % (op, outcome), 0) + 1
        served = sum(r.sent for r in responses if r.method == "GET")
        # Bytes of the files served more than once (valid answers only).
        covered = {}
        for r in responses:
            if r.valid and r.method == "GET" and r.sent:
                generation = sum(1 for at, url in self.damage_log if url == r.path and at < r.began)
                covered.setdefault((r.path, generation), []).append((r.start, r.start + r.sent))
        unique = 0
        for spans in covered.values():
            spans.sort()
            end = -1
            for a, b in spans:
                if b > end:
                    unique += b - max(a, end)
                    end = b
        print("[fault-schedule] figures:")
        print("  runs: %d (%s)" % (len(self.runs), ", ".join("%s: %d" % kv for kv in sorted(outcomes.items()))))
        print("  requests: %d to files (%d GET, %d HEAD)" % (
            len(responses), sum(r.method == "GET" for r in responses), sum(r.method == "HEAD" for r in responses)))
        print("  faults drawn: %d (%s); connections to the silent dead host: %d" % (
            sum(faults.values()), ", ".join("%s %d" % kv for kv in sorted(faults.items())), dead_connections))
        print("  build: %d bytes; needed by the schedule (build + damaged files): %d" % (self.build_size, self.needed))
        print("  served: %d bytes of files, %d of them in answers a client may keep; bound %d "
              "(corrupted bodies %d, kills %d, asked ahead at a run's end %d, answers the client dropped %d)" % (
                  served, valid, bound, self.allowance["corrupt"], self.allowance["kill"],
                  self.allowance["ahead"], self.allowance["client-abort"]))
        print("  re-fetched: %d bytes (bytes of kept answers served again for the same file, "
              "repairs of damaged files not counted)" % (valid - unique))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--www", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=int(os.environ.get("KESTRUN_FAULT_RUNS") or 10))
    parser.add_argument("--seed", type=int,
                        default=int(os.environ.get("KESTRUN_FAULT_SEED") or random.SystemRandom().randint(1, 99999)))
    args = parser.parse_args()
    sys.exit(Schedule(args).go())


if __name__ == "__main__":
    main()
