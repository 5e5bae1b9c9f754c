#!/usr/bin/env python3
"""The remote control held to docs/openapi.yaml, the manual pages to --help. Walks a main console
and a standby following it (with a token) through WALK and what the file implies: each status it
lists for every operation, the methods and paths it does not list. Every answer must be documented
and match its schema, every documented status be answered. A new route needs its rows in WALK."""
import base64, ctypes, functools, glob, json, os, re, socket, subprocess, sys, tempfile, threading

try:
    import jsonschema, yaml
except ImportError as e:
    print(f"SKIP: {e}: install Debian's python3-jsonschema and python3-yaml")
    sys.exit(77)

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("RV38T_BUILD_DIR", os.path.join(SOURCE, "build"))
CONTRACT = yaml.safe_load(open(os.path.join(SOURCE, "docs", "openapi.yaml")))
TOKEN, OTHER_SITE = "contract-token", "Origin: http://rebound.example"
UPGRADE = ["Connection: Upgrade", "Upgrade: websocket", "Sec-WebSocket-Version: 13",
           "Sec-WebSocket-Key: " + base64.b64encode(os.urandom(16)).decode()]

# (console, method, target, bodies (one request each), extra header lines, status), in order.
WALK = [
    ("main", "GET", "/", [None], [], 200),
    ("main", "GET", "/control", [None], [], 200),
    ("main", "GET", "/api/state?cache=0", [None], [], 200),
    ("main", "POST", "/api/time", ['{"time":"00:05:00"}', '{"hours":1,"minutes":30}', '{"until":"20:00:00"}'], [], 200),
    ("main", "POST", "/api/time", ['{"time":"24:00:00"}', '{"seconds":1.5}', '{"until":"20:00:00","hours":1}',
                                   '{}', '{"time":'], [], 400),
    ("main", "POST", "/api/run", ['{"at":"19:30:00"}'], [], 200),
    ("main", "POST", "/api/run", ['{"at":"7:60:00"}'], [], 400),
    ("main", "POST", "/api/disarm", [None], [], 200),
    ("main", "POST", "/api/nudge", ['{"seconds":-60}'], [], 200),
    ("main", "POST", "/api/nudge", ['{"seconds":86400}', None], [], 400),
    ("main", "POST", "/api/run", [None], [], 200),
    ("main", "POST", "/api/pause", ['[]'], [], 400),
    ("main", "POST", "/api/pause", ['{}'], [], 200),
    ("main", "POST", "/api/reset", [None], [], 200),
    ("main", "GET", "/presenter", [None], [], 200),
    ("main", "POST", "/api/zones", ['{"warning":"00:03:00","danger":"00:00:30"}', '{"danger":"00:00:20"}'], [], 200),
    ("main", "POST", "/api/zones", ['{}', '{"warning":5}', '{"danger":"24:00:00"}'], [], 400),
    ("main", "POST", "/api/message", ['{"text":"Take questions","visible":true}', '{"visible":false}'], [], 200),
    ("main", "POST", "/api/message", ['{}', '{"text":"a\\nb"}', '{"visible":"yes"}', '{"text":"%s"}' % ("x" * 201)],
     [], 400),
    ("main", "POST", "/api/blackout", ['{"on":true}', '{"on":false}'], [], 200),
    ("main", "POST", "/api/blackout", ['{}', '{"on":1}'], [], 400),
    ("main", "PUT", "/api/rundown", ['{"items":[{"title":"Doors","duration":"15:00","auto":true},'
                                     '{"title":"Keynote","until":"20:00:00"}]}'], [], 200),
    ("main", "PUT", "/api/rundown", ['{"items":[{"title":"A","duration":"1:75:00"}]}', '{}'], [], 400),
    ("main", "GET", "/api/rundown", [None], [], 200),
    ("main", "POST", "/api/cue", ['{"index":2}', '{"step":-1}'], [], 200),
    ("main", "POST", "/api/cue", ['{"step":0}', '{"index":1,"step":1}', '{}'], [], 400),
    ("main", "POST", "/api/run", [None], [OTHER_SITE], 403),
    ("main", "GET", "/api/ws", [None], [], 400),
    ("main", "GET", "/api/ws", [None], UPGRADE[:3], 400),
    ("main", "GET", "/api/ws", [None], UPGRADE + [OTHER_SITE], 403),
    ("main", "GET", "/api/ws", [None], UPGRADE, 101),
    ("main", "GET", "/api/ws", [None], UPGRADE, 503),
    ("standby", "GET", "/api/state", [None], [], 200),
    ("standby", "GET", "/api/ws", [None], UPGRADE, 101),
    ("standby", "POST", "/api/run", [None], ["Authorization: Bearer wrong"], 401),
]
METHODS = ["GET", "POST", "PUT", "DELETE", "PATCH", "HEAD", "OPTIONS"]
UNLISTED = ["/api", "/api/", "/api/state/", "/control/", "//api/state", "/API/STATE", "/index.html",
            "/api/run/now", "/api/ws/x", "/favicon.ico"]

def resolved(node):
    """An OpenAPI node with its $refs inlined and `nullable` as JSON Schema's null type."""
    if not isinstance(node, dict):
        return [resolved(n) for n in node] if isinstance(node, list) else node
    if "$ref" in node:
        return resolved(functools.reduce(lambda n, k: n[k], node["$ref"][2:].split("/"), CONTRACT))
    out = {k: resolved(v) for k, v in node.items()}
    return {"anyOf": [out, {"type": "null"}]} if node.get("nullable") else out

def errors(schema, value):
    return [e.message for e in jsonschema.Draft7Validator(resolved(schema)).iter_errors(value)]

def parse(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    fields = {k.strip().lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}
    status = int(lines[0].split()[1]) if lines[0].startswith("HTTP/1.1 ") else 0
    return status, fields, body[:int(fields.get("content-length", len(body)))]

class Console:
    def __init__(self, name, arguments, lst=""):
        self.dir = tempfile.TemporaryDirectory(prefix=f"contract-{name}-")
        open(os.path.join(self.dir.name, "LST_IP.CFG"), "w").write(lst)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=self.dir.name)
        die = lambda: ctypes.CDLL(None).prctl(1, 9)  # PR_SET_PDEATHSIG: none outlives this script
        self.process = subprocess.Popen([os.path.join(BUILD, "rv38t-timer"), "--remote", "127.0.0.1:0"]
                                        + arguments, cwd=self.dir.name, env=env, preexec_fn=die,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        lines = [""]
        while not (m := re.search(r"http://127\.0\.0\.1:(\d+)/", lines[-1])):
            lines.append(self.process.stderr.readline())
            assert lines[-1], f"{name} did not start: {''.join(lines)}"
        threading.Thread(target=self.process.stderr.read, daemon=True).start()
        self.port = int(m.group(1))

    def request(self, method, target, body=None, extra=(), host=None, source="127.0.0.1", raw=None):
        """(status, fields, body, socket); a 101's body is what came with its head."""
        lines = [f"{method} {target} HTTP/1.1", f"Host: {host or f'127.0.0.1:{self.port}'}", *extra]
        lines += [] if any(e.startswith("Connection") for e in extra) else ["Connection: close"]
        data = b"" if body is None else body.encode()
        lines += [] if body is None else [f"Content-Length: {len(data)}"]
        s = socket.create_connection(("127.0.0.1", self.port), 15, source_address=(source, 0))
        s.sendall(raw or "\r\n".join(lines).encode() + b"\r\n\r\n" + data)
        reply = b""
        while b"\r\n\r\n" not in reply or not reply.startswith(b"HTTP/1.1 101") and \
                len(parse(reply)[2]) < int(parse(reply)[1].get("content-length", 1 << 30)):
            if not (chunk := s.recv(65536)):
                break
            reply += chunk
        return (*parse(reply), s)

def message(data, s):
    """The first WebSocket message: `data` came with the 101 head, the rest is read from s."""
    while True:
        n, at = (data[1] & 0x7F, 2) if len(data) >= 2 else (0, 0)
        if n == 126 and len(data) >= 4:
            n, at = int.from_bytes(data[2:4], "big"), 4
        if at and len(data) >= at + n:
            return json.loads(data[at:at + n])
        data += s.recv(65536)

def main():
    failures, seen = [], set()

    def check(path, method, reply, want, note=""):
        """`want` None: any status the file lists for the route."""
        status, fields, body = reply[:3]
        where, ops = f"{method} {path} -> {status} {note}", CONTRACT["paths"].get(path)
        doc = ops[method.lower()]["responses"].get(str(status)) if ops and method.lower() in ops else \
            CONTRACT["components"]["responses"]["MethodNotAllowed" if ops else "NotFound"] \
            if status == (405 if ops else 404) else None
        if status != (want or status) or doc is None:
            return failures.append(f"{where}: expected {want or 'a documented status'}" + (doc and "" or ", undocumented"))
        doc = resolved(doc)
        for name, header in doc.get("headers", {}).items():
            value = fields.get(name.lower())
            if header.get("required") and value is None or value is not None and errors(header["schema"], value):
                failures.append(f"{where}: header {name}: {value!r}")
        if status == 405 and {v.strip() for v in fields.get("allow", "").split(",")} != {m.upper() for m in ops}:
            failures.append(f"{where}: Allow does not name the documented methods")
        if method == "HEAD" and body:
            failures.append(f"{where}: an answer to HEAD with a body")
        for kind, media in doc.get("content", {}).items() if method != "HEAD" else []:
            if not fields.get("content-type", "").startswith(kind):
                failures.append(f"{where}: Content-Type {fields.get('content-type')}, documented {kind}")
            elif kind == "application/json":
                failures.extend(f"{where}: {e}: {body[:200]!r}" for e in errors(media["schema"], json.loads(body)))
        seen.add((path, method, status))

    # A display on a loopback address of its own, so the state holds a health record. Without
    # the listener the list stays empty: a refused display would soon be broadcast for.
    try:
        display = socket.create_server(("127.0.0.77", 1024))
    except OSError as e:
        display = print(f"note: no display record checked, 127.0.0.77:1024: {e}")
    main_ = Console("main", [], "127.0.0.77\r\n" if display else "")
    operations = [(p, m.upper(), op) for p, ops in CONTRACT["paths"].items() for m, op in ops.items()]

    # 408 comes 10 s after a request's first byte: those are begun first, the walk goes on meanwhile.
    slow, threads = [], []
    for i, (path, method, _) in enumerate(operations):
        raw = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{main_.port}\r\n".encode()
        threads.append(threading.Thread(target=lambda p=path, m=method, r=raw, a=f"127.0.0.{30 + i // 8}":
                                        slow.append((p, m, main_.request(m, p, raw=r, source=a)))))
        threads[-1].start()
    consoles = {"main": main_, "standby": Console("standby", ["--standby", f"127.0.0.1:{main_.port}",
                                                              "--remote-token", TOKEN])}
    viewers = []
    for console, method, target, bodies, extra, want in WALK:
        c, path = consoles[console], target.split("?")[0]
        for body in bodies:
            for n in range(100 if want == 503 else 1):  # viewers opened until the cap refuses one
                reply = c.request(method, target, body, extra, source=f"127.0.0.{2 + n // 15}")
                viewers.append(reply[3]) if reply[0] == 101 else reply[3].close()
                if reply[0] != 101:
                    break
            check(path, method, reply, want, f"on the {console}")
            if reply[0] == 101:
                doc = CONTRACT["paths"][path]["get"]["responses"]["101"]["x-websocket-message"]
                failures.extend(f"WebSocket message: {e}" for e in errors(doc, message(reply[2], reply[3])))
            request = resolved(CONTRACT["paths"].get(path, {}).get(method.lower(), {}).get("requestBody"))
            if want in (200, 400) and request:  # the file refuses exactly what the server refuses
                try:
                    valid = not errors(request["content"]["application/json"]["schema"], json.loads(body)) \
                        if body else not request.get("required")
                except ValueError:
                    valid = False
                if valid != (want == 200):
                    failures.append(f"{method} {target} {body}: the file says {'valid' if valid else 'invalid'}")
    for s in viewers:
        s.close()
    # A running order that cannot be saved is not taken: its file made a directory.
    os.remove(os.path.join(main_.dir.name, "RUNDOWN.CSV"))
    os.mkdir(os.path.join(main_.dir.name, "RUNDOWN.CSV"))
    check("/api/rundown", "PUT", main_.request("PUT", "/api/rundown", '{"items":[]}'), 500)

    # 16 places held from one address: its next connection is over the caps.
    held = [socket.create_connection(("127.0.0.1", main_.port), 15, source_address=("127.0.0.250", 0))
            for _ in range(16)]
    for path, method, op in operations:  # what each operation can answer, asked of it
        example = json.dumps(resolved(op["requestBody"])["content"]["application/json"]["example"]) \
            if "requestBody" in op else None
        bad = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{main_.port}\r\nnot a field\r\n\r\n".encode()
        for status, console, how in [
                ("400", "main", dict(raw=bad)),
                ("403", "main", dict(body=example, host=f"rebound.example:{main_.port}")),
                ("413", "main", dict(extra=["Content-Length: 600000"])),  # over every body's bound
                ("431", "main", dict(extra=["X-Padding: " + "x" * 9000])),
                ("501", "main", dict(extra=["Transfer-Encoding: chunked"])),
                ("503", "main", dict(body=example, source="127.0.0.250")),
                ("505", "main", dict(raw=f"{method} {path} HTTP/1.2\r\nHost: 127.0.0.1:{main_.port}\r\n\r\n".encode())),
                ("401", "standby", dict(body=example)),
                ("409", "standby", dict(body=example, extra=[f"Authorization: Bearer {TOKEN}"]))]:
            check(path, method, consoles[console].request(method, path, **how),
                  int(status) if status in op["responses"] else None, f"on the {console}")
    [s.close() for s in held]
    for path, ops in CONTRACT["paths"].items():
        for method in (m for m in METHODS if m.lower() not in ops):
            check(path, method, main_.request(method, path), 405)
    # With the paths the server's sources name (OSC's too): none may answer unlisted.
    named = {p for f in glob.glob(os.path.join(SOURCE, "src", "remote", "*.cpp"))
             for p in re.findall(r'"(/[\w/.-]*)"', open(f).read())}
    for path in sorted(set(UNLISTED) | named - set(CONTRACT["paths"])):
        for method in ("GET", "POST"):
            check(path, method, main_.request(method, path, "{}"), 404)
    [t.join() for t in threads]
    for path, method, reply in slow:
        check(path, method, reply, 408, "(a request left unfinished)")
    check("/api/state", "GET", main_.request("GET", "/api/state"), 200, "with the display connected")
    [(c.process.kill(), c.process.wait()) for c in (consoles["standby"], main_)]

    documented = {(p, m, int(s)) for p, m, op in operations for s in op["responses"]}
    failures += [f"{m} {p} -> {s}: documented, not asked for by the walk" for p, m, s in sorted(documented - seen)]
    failures += check_manuals()
    print("\n".join(failures) or f"{len(seen)} documented answers checked")
    return 1 if failures else 0

def check_manuals():
    """Each program's options as its manual page lists them and as --help does, both ways."""
    out = []
    for program in ("rv38t-timer", "rv38t-display-sim"):
        shown = subprocess.run([os.path.join(BUILD, program), "--help"], capture_output=True, text=True,
                               env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), timeout=10).stdout
        page = open(os.path.join(SOURCE, "packaging", program + ".1")).read().replace("\\-", "-")
        page = page.split(".SH OPTIONS")[1].split("\n.SH")[0]
        helped = {(tuple(re.findall(r"--?[\w?-]+", m[1])), (re.findall(r"<(.*)>", m[1]) or [None])[0])
                  for m in re.finditer(r"^  (-.*?)(?:  |$)", shown, re.M)}
        listed = {(tuple(re.findall(r"(?<![\w-])--?[\w?-]+", m[1])), (re.findall(r'" ([^"]+)"', m[1]) or [None])[0])
                  for m in re.finditer(r"^\.TP\n\.B[IR]? (-.*)$", page, re.M)}
        out += [f"{program}: --help has {o}, its manual page not" for o in sorted(helped - listed, key=str)] + \
            [f"{program}: its manual page has {o}, --help not" for o in sorted(listed - helped, key=str)]
    return out

if __name__ == "__main__":
    sys.exit(main())
