#!/usr/bin/env python3
"""Checks deploy/grafana/gaugeline.json.

  dashboard_check.py FILE
      the fields Grafana's dashboard JSON model documents: title, uid,
      schemaVersion, time, templating.list, panels with unique ids, a type, a
      title, a gridPos inside the 24 columns, targets with refIds and exprs.
  dashboard_check.py FILE PROMETHEUS_URL INSTANCE...
      every query, with the variables and Grafana's macros filled in, asked of
      a real Prometheus: each must return a series for at least one instance.
      Substitutions: $instance -> the instance, $gpu -> .* (All),
      $__rate_interval -> 1m, $__range -> 10m, ${datasource} is not sent.
"""
import json, re, sys, urllib.parse, urllib.request

SUBSTITUTIONS = {"$__rate_interval": "1m", "$__range": "10m", "$gpu": ".*"}


def model_faults(d):
    faults = []
    for key, kind in (("title", str), ("uid", str), ("schemaVersion", int), ("panels", list), ("time", dict)):
        if not isinstance(d.get(key), kind):
            faults.append(f"dashboard: {key} missing or not {kind.__name__}")
    variables = d.get("templating", {}).get("list")
    if not isinstance(variables, list):
        faults.append("dashboard: templating.list missing")
        variables = []
    for v in variables:
        if v.get("type") not in ("query", "datasource", "custom", "constant", "interval", "textbox") or not v.get("name"):
            faults.append(f"variable {v.get('name')}: bad type or name")
    ids = set()
    for p in d.get("panels", []):
        name = p.get("title", "?")
        if not isinstance(p.get("id"), int) or p["id"] in ids:
            faults.append(f"panel {name}: id missing or repeated")
        ids.add(p.get("id"))
        if not p.get("type") or not p.get("title"):
            faults.append(f"panel {name}: type or title missing")
        g = p.get("gridPos", {})
        if not all(isinstance(g.get(k), int) for k in "hwxy") or g["x"] + g["w"] > 24 or g["w"] < 1 or g["h"] < 1:
            faults.append(f"panel {name}: gridPos outside the 24 columns")
        targets = p.get("targets", [])
        refs = [t.get("refId") for t in targets]
        if not targets or len(set(refs)) != len(refs) or not all(refs) or not all(t.get("expr") for t in targets):
            faults.append(f"panel {name}: targets need an expr and unique refIds")
    return faults


def ask(url, query):
    q = urllib.parse.urlencode({"query": query})
    with urllib.request.urlopen(f"{url}/api/v1/query?{q}", timeout=10) as r:
        answer = json.load(r)
    if answer.get("status") != "success":
        raise RuntimeError(f"{query}: {answer}")
    return answer["data"]["result"]


def fill(expr, instance):
    for macro, value in SUBSTITUTIONS.items():
        expr = expr.replace(macro, value)
    # Grafana escapes a regex variable for PromQL's double-quoted strings too.
    return expr.replace("$instance", re.escape(instance).replace("\\", "\\\\"))


def variable_faults(d, url, instances):
    faults = []
    for v in d["templating"]["list"]:
        if v["type"] != "query":
            continue
        q = v["query"]["query"] if isinstance(v["query"], dict) else v["query"]
        m = re.fullmatch(r"label_values\((.*), *(\w+)\)", q) or re.fullmatch(r"query_result\((.*)\)", q)
        results = [r for i in instances for r in ask(url, fill(m.group(1), i))]
        values = []
        for r in results:
            if q.startswith("label_values"):
                values.append(r["metric"].get(m.group(2)))
            else:
                line = "{" + ", ".join(f'{k}="{val}"' for k, val in sorted(r["metric"].items())) + "}"
                g = re.search(v["regex"].strip("/").replace("(?<", "(?P<"), line)
                values.append(g and (g.group("value"), g.group("text")))
        values = [x for x in values if x]
        print(f"variable {v['name']}: {values}")
        if not values:
            faults.append(f"variable {v['name']}: no values")
    return faults


def query_faults(d, url, instances):
    faults = []
    for p in d["panels"]:
        for t in p["targets"]:
            having = [i for i in instances if ask(url, fill(t["expr"], i))]
            print(f"{p['title']} / {t['refId']}: {len(having)} of {len(instances)} instances")
            if not having:
                faults.append(f"panel {p['title']} {t['refId']}: no data: {t['expr']}")
    return faults


def main():
    d = json.load(open(sys.argv[1], encoding="utf-8"))
    faults = model_faults(d)
    if len(sys.argv) > 3 and not faults:
        faults = variable_faults(d, sys.argv[2], sys.argv[3:]) + query_faults(d, sys.argv[2], sys.argv[3:])
    for f in faults:
        print("FAULT", f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
