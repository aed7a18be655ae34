#!/bin/bash
# A fleet in Prometheus: a real Prometheus server on the operator's PC scrapes
# the Windows Agent (192.0.2.20, under Wine) and the Linux Agent (192.0.2.21,
# native) every second, while the Console watches the Windows Agent. Patient
# silent connections and hostile clients at the Windows Agent meanwhile: the
# Console is still served at once, the scrapes go on.
. "$(dirname "$0")/lib.sh"
LINUX_AGENT=$GL_NATIVE/bin/gaugeline-agent
require_programs "$CONSOLE_EXE" "$AGENT_EXE" "$UIDRIVER" "$LINUX_AGENT" "$GL_NATIVE/sim/linux/libnvidia-ml.so.1"
command -v prometheus >/dev/null || { log "prometheus not installed; skipped"; exit 77; }
METRICS=58681

sc=$(scenario_path linux_gpus.scenario) || exit 1
# The Windows Agent admits only the operator's PC (both its addresses), for
# reports and scrapes.
PATIENT=192.0.2.6
bridge=$(ip -n "$NS_OP" -o -4 addr show | awk -v a="$ADDR_OP/24" '$4 == a {print $2}')
ip -n "$NS_OP" addr add "$PATIENT/24" dev "$bridge" || exit 1
GAUGELINE_SIM_SCENARIO=$sc start agent pc "$AGENT_EXE" --metrics-listen "0.0.0.0:$METRICS" \
    --allow-from "$ADDR_OP,$PATIENT"
# A Console on the second watched PC, outside the list, asks first: no report.
check "agent listens" wait_listening pc2 "$ADDR_PC" 60 >/dev/null
no_report() { ! peer pc2 console --to "$ADDR_PC" --blocks 1 --timeout-s 4 >/dev/null 2>&1; }
check "a Console outside the allow list gets no report" no_report
# The Linux server's boards: the same two with health readings, and a third lost.
cat "$GL_SIM_SCENARIOS/linux_gpus.scenario" "$GL_SIM_SCENARIOS/fleet_gpus.scenario" >"$HOSTS_RUN_DIR/fleet.scenario"
LD_LIBRARY_PATH=$GL_NATIVE/sim/linux GAUGELINE_SIM_SCENARIO=$HOSTS_RUN_DIR/fleet.scenario \
    start linux_agent pc2 "$LINUX_AGENT" --metrics-listen "0.0.0.0:$METRICS"

ROOT=$(readlink -f "$GL_SIM_SCENARIOS/../..")
prom=$HOSTS_RUN_DIR/prometheus
mkdir -p "$prom/data"
cat >"$prom/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
rule_files: ['$ROOT/deploy/prometheus/gaugeline-rules.yml']
scrape_configs:
  - job_name: gaugeline
    static_configs:
      - targets: ['$ADDR_PC:$METRICS', '$ADDR_PC2:$METRICS']
YAML
start prometheus op prometheus --config.file="$prom/prometheus.yml" --storage.tsdb.path="$prom/data" \
    --web.listen-address=127.0.0.1:9090
prom_started=$(now_ms)

# Four connections to the Agent's report port that never speak (as many as
# one address may hold), from the operator's second address; each one the
# Agent closes is opened again at once.
start_peer silent op patient --count 4 --to "$ADDR_PC" --own "$PATIENT"
start_console
check "console window appears" console_ready
sleep 2
t0=$(now_ms)
check "dialog 139 sends the request" connect "$ADDR_PC"
check "title names the Agent within 5 s despite 4 silent connections" title_is_connected "$ADDR_PC" 5
log "request to title: $(($(now_ms) - t0)) ms"
check "two tabs" ui tabs --count 2 --wait 10

# Hostile clients at the Windows Agent's metrics port: 200 connections that
# send nothing, a request line of 1 MB, garbage.
hostile() {
    local i
    for i in $(seq 200); do exec {fd}<>"/dev/tcp/$ADDR_PC/$METRICS" 2>/dev/null || true; done
    { printf 'GET /'; head -c 1048576 /dev/zero | tr '\0' a; printf ' HTTP/1.1\r\n\r\n'; } \
        >"/dev/tcp/$ADDR_PC/$METRICS" 2>/dev/null
    head -c 65536 /dev/urandom >"/dev/tcp/$ADDR_PC/$METRICS" 2>/dev/null
    sleep 3
}
export -f hostile
export ADDR_PC METRICS
"$HOST_RUN" op bash -c hostile
check "console still names the Agent after the hostile clients" title_is_connected "$ADDR_PC" 2

# Prometheus has scraped both for at least 15 s by now.
left=$((15000 - ($(now_ms) - prom_started)))
[ $left -gt 0 ] && sleep $((left / 1000 + 1))
query() { # instance gpu: the newest temperature Prometheus holds
    "$HOST_RUN" op curl -s --max-time 5 -G http://127.0.0.1:9090/api/v1/query \
        --data-urlencode "query=gaugeline_gpu_temperature_celsius{instance=\"$1:$METRICS\",gpu=\"$2\"}" |
        sed -n 's/.*"value":\[[0-9.]*,"\([^"]*\)"\].*/\1/p'
}
for host in "$ADDR_PC" "$ADDR_PC2"; do
    t=$(query "$host" 0)
    u=$(query "$host" 1)
    log "Prometheus: $host GPU 0 at ${t:-?} °C, GPU 1 at ${u:-?} °C"
    check "Prometheus holds the scenario's temperatures for $host (55, 41)" test "$t,$u" = "55,41"
done
up=$("$HOST_RUN" op curl -s --max-time 5 -G http://127.0.0.1:9090/api/v1/query --data-urlencode 'query=sum(up)' |
    sed -n 's/.*"value":\[[0-9.]*,"\([^"]*\)"\].*/\1/p')
check "both targets up" test "$up" = 2
check "console still names the Agent" title_is_connected "$ADDR_PC" 2
check "a scraper outside the allow list gets nothing" \
    bash -c '! "$0" pc2 curl -sf --max-time 3 -o /dev/null "$1"' "$HOST_RUN" "http://$ADDR_PC:$METRICS/metrics"
check "a good scrape of the Windows Agent after all that" \
    "$HOST_RUN" op curl -sf --max-time 5 -o "$HOSTS_RUN_DIR/scrape.txt" "http://$ADDR_PC:$METRICS/metrics"
check "it carries GPU 0's temperature and UUID" grep -qx \
    'gaugeline_gpu_temperature_celsius{gpu="0",uuid="GPU-00000000-0000-4000-8000-000000000000"} 55' "$HOSTS_RUN_DIR/scrape.txt"

# The dashboard: every query, variables and macros filled in, returns data
# for at least one of the two Agents.
check "every dashboard query returns data from Prometheus" "$HOST_RUN" op "$PYTHON" "$ROOT/tests/deploy/dashboard_check.py" \
    "$ROOT/deploy/grafana/gaugeline.json" http://127.0.0.1:9090 "$ADDR_PC:$METRICS" "$ADDR_PC2:$METRICS"
# The lost GPU's alert, whose rule holds for 1 minute, evaluated every second.
firing() {
    "$HOST_RUN" op curl -s --max-time 5 http://127.0.0.1:9090/api/v1/alerts |
        grep -q '"alertname":"GaugelineGpuNotUp","gpu":"2","instance":"'"$ADDR_PC2:$METRICS"'"[^}]*}[^}]*},"state":"firing"'
}
alert_fires() {
    local i
    for i in $(seq 90); do firing && return 0; sleep 1; done
    return 1
}
check "the lost GPU's alert fires within 90 s" alert_fires
finish
